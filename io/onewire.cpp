#include "io/onewire.h"

#include <algorithm>

#include "core/registry.h"

QUOR_REGISTER_INSTRUCTION(28, OWconfig);

// A field of A: its first bit and width.
template <u32 Shift, u32 Bits>
struct AField {
  static constexpr u32 kMask = ((1u << Bits) - 1) << Shift;
  static u32 get(const OWconfig::Device& d) { return (d.a & kMask) >> Shift; }
  static void set(OWconfig::Device& d, u32 v) {
    d.a = (d.a & ~kMask) | (std::min(v, (1u << Bits) - 1) << Shift);
  }
};
using OwType = AField<0, 8>;
using OwBus = AField<8, 2>;
using OwRetries = AField<10, 2>;
using OwPower = AField<12, 1>;
using OwDelay = AField<13, 3>;

struct OWRows {
  using R = Row<OWconfig>;
  static OWconfig::Device& dev(OWconfig& m, u16 g) { return m.devices[g - 1]; }

  template <class F>
  static Row<OWconfig> field(const char* label, u16 type) {
    return rows::custom<OWconfig>(
        label, type, [](OWconfig& m, u16 g, Iparam& p, const R&) { p.value = F::get(dev(m, g)); },
        [](OWconfig& m, u16 g, const Iparam& p, const R&) {
          F::set(dev(m, g), p.value);
          return true;
        });
  }
  static void get_high(OWconfig& m, u16 g, Iparam& p, const R&) {
    const auto& d = dev(m, g);
    p.value = d.b << 8 | (d.c >> 8 & 0xFF);
  }
  static bool set_high(OWconfig& m, u16 g, const Iparam& p, const R&) {
    auto& d = dev(m, g);
    d.b = p.value >> 8;
    d.c = (d.c & 0xFF) | (p.value & 0xFF) << 8;
    return true;
  }
  static void get_low(OWconfig& m, u16 g, Iparam& p, const R&) {
    const auto& d = dev(m, g);
    p.value = (d.c & 0xFF) << 16 | d.d;
  }
  // 24 bits: a larger value is clamped.
  static bool set_low(OWconfig& m, u16 g, const Iparam& p, const R&) {
    auto& d = dev(m, g);
    u32 v = std::min<u32>(p.value, 0xFFFFFF);
    d.c = (d.c & 0xFF00) | v >> 16;
    d.d = v & 0xFFFF;
    return true;
  }
};

const RowTable<OWconfig> OWconfig::rows{
    {rows::ref<&OWconfig::config>("Config", [](OWconfig& m, u16) { m.regrow(); })},
    {
        rows::gtext<&OWconfig::devices, &OWconfig::Device::description>("Description", 30),
        OWRows::field<OwType>("Device type", ptype::Dec),
        rows::custom<OWconfig>("ID high", ptype::Hex, &OWRows::get_high, &OWRows::set_high),
        rows::custom<OWconfig>("ID low", ptype::Hex, &OWRows::get_low, &OWRows::set_low),
        OWRows::field<OwBus>("Bus~1~2~3~4", ptype::Select),
        OWRows::field<OwPower>("Power~5V~1-wire", ptype::Select),
        OWRows::field<OwDelay>("Read delay uS~15~17~19~21~23~25~27~29", ptype::Select),
        OWRows::field<OwRetries>("Retries~0~5~10~15", ptype::Select),
    }};

OWconfig::OWconfig(Control* prev, const char* desc, u16 n) : WithRows(prev, desc) { resize(n); }

bool OWconfig::resize(u16 n) {
  devices.resize(std::clamp<u16>(n, 1, OW_DEVICES_MAX));
  regrow();
  return true;
}

Control* OWconfig::execute() {
  if (!config.var) return next;
  u16 k = 0;
  for (const Device& d : devices)
    for (u32 v : {d.a, d.b, d.c, d.d}) config.set(k++, float(v));
  if (devices.size() < OW_DEVICES_MAX) config.set(k, OW_END_MARK);
  return next;
}
