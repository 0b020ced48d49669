#include "core/config.h"

void gen_startup() {}

void gen_init() {
  gen_watchdog = 0;
  gen_watchdog_type = 4;
  gen_loop_int[0] = 1000;
  for (int L = 1; L < 4; ++L) gen_loop_int[L] = 0;
  gen_sel = 10;
}

namespace gen {
bool lparam(Ilparam* s) {
  *s = Ilparam{};
  return true;
}
const char* dparam() { return " "; }
bool gparam(Iparam*, u16, u16) { return false; }
bool sparam(Iparam*, u16, u16) { return false; }
}  // namespace gen

u32 gen_resize(u16) { return 0; }
