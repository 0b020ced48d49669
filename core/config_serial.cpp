// Page 1 "HMI edit/Serial ports": the screen editor's grid and the settings
// of the four serial ports. The I/O subsystem answers reads from the main
// thread's own copy of the settings and applies writes to the lines; page
// writes come with the scan stopped (a client's "sconfig", program load).
#include <algorithm>

#include "core/config_pages.h"

namespace gen_pages {
namespace {

using P = SerialPage;
using R = Row<P>;

bool ports_present() {
  const auto& h = config_hooks;
  return h.serial_get && h.serial_set && h.serial_clear_receive && h.serial_reopen;
}

// A setting of the g-th port. A change of protocol also forgets what the
// port had received; kind, baud rate and parity take effect by reopening.
template <SerialField F>
R port_row(const char* label, u16 type) {
  return rows::custom<P>(
      label, type,
      [](P&, u16 g, Iparam& p, const R&) {
        u32 v = 0;
        if (!config_hooks.serial_get(g - 1, F, &v)) v = 0;
        p.value = v;
      },
      [](P&, u16 g, const Iparam& p, const R&) {
        int port = g - 1;
        if (!config_hooks.serial_set(port, F, p.value)) return false;
        if constexpr (F == SerialField::Kind) config_hooks.serial_clear_receive(port);
        if constexpr (F != SerialField::Address) config_hooks.serial_reopen(port);
        return true;
      });
}

const RowTable<P>& make_table() {
  static const RowTable<P> table{
      {
          rows::custom<P>(
              "HMI grid snap", ptype::Dec, [](P&, u16, Iparam& p, const R&) { p.value = hmi_grid; },
              [](P&, u16, const Iparam& p, const R&) {
                hmi_grid = std::min<u16>(u16(p.value), 100);
                return true;
              }),
      },
      {
          port_row<SerialField::Kind>("Serial type~Off~Modbus master~Modbus slave~X10~Ascii master~Ascii slave",
                                      ptype::Select),
          port_row<SerialField::Baud>("Serial baud rate", ptype::Dec),
          port_row<SerialField::Parity>("Serial parity~None~Even~Odd", ptype::Select),
          port_row<SerialField::Address>("Serial slave unit address", ptype::Dec),
      }};
  return table;
}

}  // namespace

// The four ports exist once the I/O subsystem has installed its hooks.
u16 SerialPage::group_count() const { return ports_present() ? 4 : 0; }

const RowTable<SerialPage>& serial_rows() { return make_table(); }

}  // namespace gen_pages
