#include "core/config.h"

#include <algorithm>

#include "core/config_pages.h"
#include "core/registry.h"
#include "hmi/hmi_format.h"

using namespace gen_pages;

namespace {

GeneralPage general_page;
SerialPage serial_page;
NetworkPage network_page;
PeriodicPage periodic_page[4] = {{0}, {1}, {2}, {3}};
EventPage event_page[4] = {{0}, {1}, {2}, {3}};

// Calls fn(table, page) for the selected page; false when none is selected.
template <class Fn>
bool on_selected_page(Fn&& fn) {
  if (gen_sel == 0) return fn(general_rows(), general_page);
  if (gen_sel == 1) return fn(serial_rows(), serial_page);
  if (gen_sel == 2) return fn(network_rows(), network_page);
  if (gen_sel >= 3 && gen_sel <= 6) return fn(periodic_rows(), periodic_page[gen_sel - 3]);
  if (gen_sel >= 7 && gen_sel <= 10) return fn(event_rows(), event_page[gen_sel - 7]);
  return false;
}

}  // namespace

namespace gen_pages {

u32 selection_position(const hmi_format* set) {
  if (!set) return 0;
  u32 pos = 1;
  for (const hmi_format* h = inst_def_use[0].selection_sets; h; h = h->next, ++pos)
    if (h == set) return pos;
  return 0;  // no longer in the list
}

hmi_format* selection_at(u32 position) {
  if (position == 0) return nullptr;
  hmi_format* h = inst_def_use[0].selection_sets;
  for (u32 i = 1; h && i < position; ++i) h = h->next;
  return h;
}

}  // namespace gen_pages

void gen_startup() {
  for (ConfigText* t : {&con_phone, &con_pass, &con_name, &con_wan_ip, &con_mail_ip, &con_gateway,
                        &con_broadcast, &con_net_mask, &con_ip, &gen_help, &gen_site_name})
    t->reset();
  gen_password.clear();
  gen_num = 0;
  con_email.clear();
  con_num = 0;
  for (int f = 0; f < 4; ++f) {
    per_ptr[f].clear();
    per_bins[f] = 0;
    per_vformat[f] = nullptr;
    evt_ptr[f].clear();
    evt_events[f] = 0;
    evt_vformat[f] = nullptr;
  }
}

void gen_init() {
  gen_sel = 0;
  gen_help.reset();
  gen_site_name.reset();
  gen_watchdog = 0;
  gen_watchdog_type = 4;
  gen_date = 0;
  gen_loop_int[0] = 1000;
  for (int L = 1; L < 4; ++L) gen_loop_int[L] = 0;
  gen_password.clear();
  gen_num = 0;
  gen_resize(2);
  hmi_grid = 10;

  gen_sel = 2;
  con_type = 0;
  con_port = 80;
  for (ConfigText* t : {&con_ip, &con_net_mask, &con_broadcast, &con_gateway, &con_name, &con_pass,
                        &con_phone, &con_mail_ip})
    t->reset();
  con_email1 = con_email2 = 0;
  con_mail_port = 25;
  con_email.clear();
  con_num = 0;
  gen_resize(2);
  // The listeners themselves are closed by the new-program operation.
  tcp_modbus_slave_enable = 0;
  tcp_ascii_slave_enable = 0;
  tcp_modbus_slave_port = 502;
  tcp_ascii_slave_port = 0;
  con_alarm1 = con_alarm2 = con_modem_alarm = 0;

  for (int f = 0; f < 4; ++f) {
    per_interval[f] = per_offset[f] = per_records[f] = 0;
    per_email1[f] = per_email2[f] = 0;
    per_vformat[f] = nullptr;
    per_ptr[f].clear();
    per_bins[f] = 0;
    evt_records[f] = 0;
    evt_email1[f] = evt_email2[f] = 0;
    evt_vformat[f] = nullptr;
    evt_ptr[f].clear();
    evt_events[f] = 0;
    gen_sel = u8(3 + f);
    gen_resize(2);
    gen_sel = u8(7 + f);
    gen_resize(2);
  }
  gen_sel = 10;
}

namespace gen {

bool lparam(Ilparam* s) {
  *s = Ilparam{};
  on_selected_page([&](const auto& table, auto& page) { return table.lparam(page, s); });
  return true;
}

const char* dparam() {
  const char* d = " ";
  on_selected_page([&](const auto& table, auto&) {
    d = table.descriptor();
    return true;
  });
  return d;
}

bool gparam(Iparam* p, u16 group, u16 row) {
  return on_selected_page([&](const auto& table, auto& page) { return table.get(page, p, group, row); });
}

bool sparam(Iparam* p, u16 group, u16 row) {
  return on_selected_page([&](const auto& table, auto& page) { return table.set(page, p, group, row); });
}

}  // namespace gen

u32 gen_resize(u16 n) {
  auto clamp = [n](u16 lo, u16 hi) { return std::clamp<u16>(n, lo, hi); };
  switch (gen_sel) {
    case 0: password_resize(clamp(2, 128)); break;
    case 1: break;  // the four serial ports are fixed
    case 2: address_resize(clamp(2, 20)); break;
    case 3: case 4: case 5: case 6: bins_resize(gen_sel - 3, clamp(2, 1024)); break;
    case 7: case 8: case 9: case 10: events_resize(gen_sel - 7, clamp(2, 1024)); break;
    default: return 0;
  }
  return 0xFFFFFFFFu;
}
