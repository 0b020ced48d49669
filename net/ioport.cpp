#include "net/ioport.h"

#include <chrono>
#include <cmath>

#include "core/convert.h"
#include "platform/platform.h"

namespace {

constexpr u32 kPorts = 1024;

// The port number, or kPorts when the value names no port of the window.
u32 port_of(float p) {
  if (!(p >= 0.0f) || p >= float(kPorts)) return kPorts;  // also NaN
  return u32(p);
}

}  // namespace

float foutb(float port, float value) {
  u32 p = port_of(port);
  if (p >= kPorts || !plat) return OVERFLOW_VALUE;
  plat->pc104_out(u16(p), wrap<u8>(value));
  return 0.0f;
}

float fout2b(float port, float value) {
  u32 p = port_of(port);
  if (p >= kPorts || !plat) return OVERFLOW_VALUE;
  u32 v = wrap<u16>(value);
  plat->pc104_out(u16(p), u8(v));
  // The high byte of port 1023 would fall outside the window.
  if (p + 1 < kPorts) plat->pc104_out(u16(p + 1), u8(v >> 8));
  return 0.0f;
}

float finb(float port) {
  u32 p = port_of(port);
  if (p >= kPorts || !plat) return OVERFLOW_VALUE;
  return float(plat->pc104_in(u16(p)));
}

float fin2b(float port) {
  u32 p = port_of(port);
  if (p >= kPorts || !plat) return OVERFLOW_VALUE;
  auto read = [&] {
    u32 lo = plat->pc104_in(u16(p));
    u32 hi = p + 1 < kPorts ? plat->pc104_in(u16(p + 1)) : 0;
    return lo | hi << 8;
  };
  u32 last = read();
  for (int i = 1; i < 10; ++i) {
    u32 now = read();
    if (now == last) break;
    last = now;
  }
  return float(last);
}

float loop(float port, float mask, bool level) {
  u32 p = port_of(port);
  if (p >= kPorts || !plat) return OVERFLOW_VALUE;
  u8 m = wrap<u8>(mask);
  using clock = std::chrono::steady_clock;
  const auto give_up = clock::now() + std::chrono::milliseconds(10);
  for (;;) {
    bool set = (plat->pc104_in(u16(p)) & m) != 0;
    if (set == level) return 0.0f;
    if (clock::now() >= give_up) return OVERFLOW_VALUE;
  }
}
