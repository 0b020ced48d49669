#include "net/hardware.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "core/config.h"
#include "core/engine.h"
#include "core/hooks.h"
#include "net/clock.h"
#include "platform/host.h"
#include "platform/platform.h"

namespace {

// The type whose enable sequence ran last (0 none): the one to disable.
u8 enabled_type = 0;

void enable_sequence(u8 type) {
  switch (type) {
    case 1:  // Advantec
      (void)plat->port_in(0x443);
      plat->port_out(0x3F0, 0x87);
      plat->port_out(0x3F0, 0x87);
      plat->port_out(0x3F0, 0x14);
      plat->port_out(0x3F1, 0x9C);
      break;
    case 2:  // ICP
      plat->port_out(0x443, 10);
      (void)plat->port_in(0x443);
      break;
    case 3:  // Axiom
      (void)plat->port_in(0x443);
      plat->port_out(0x120, 10);
      delay(1000);
      plat->port_out(0x120, 11);
      delay(1000);
      plat->port_out(0x120, 1);
      delay(1000);
      plat->port_out(0x121, 15);
      break;
    case 4:  // Elan520
      if (plat->watchdog_is_open() || plat->watchdog_open()) plat->watchdog_request(0);
      break;
    case 5:  // TS7200
      plat->ts_watchdog(5, 7);
      plat->ts_watchdog(5, 7);
      break;
    default:
      break;
  }
}

void disable_sequence(u8 type) {
  switch (type) {
    case 1:
      plat->port_out(0x3F0, 0x87);
      plat->port_out(0x3F0, 0x87);
      plat->port_out(0x3F0, 0x14);
      plat->port_out(0x3F1, 0x8C);
      plat->port_out(0x3F0, 0xAA);
      break;
    case 2:
      (void)plat->port_in(0x43);
      break;
    case 3:
      (void)plat->port_in(0x43);
      plat->port_out(0x120, 0);
      break;
    case 4:
      if (plat->watchdog_is_open()) plat->watchdog_request(2);
      break;
    case 5:
      plat->ts_watchdog(5, 0);
      plat->ts_watchdog(5, 0);
      break;
    default:
      break;
  }
}

[[noreturn]] void host_reset() {
  HostPlatform::record("watchdog reset");
  std::fprintf(stderr, "quor: reset by the watchdog: ending with status %d to be started again\n", WATCHDOG_EXIT);
  std::fflush(nullptr);
  plat->sync_disks();
  _exit(WATCHDOG_EXIT);
}

}  // namespace

void delay(u32 n) {
  for (u32 i = 0; i < n; ++i) asm volatile("");  // kept by the optimiser
}

void enable_watchdog(bool reset) {
  if (reset) reset_system();
  u8 type = gen_watchdog_type.load();
  if (type > 5) type = 0;
  enable_sequence(type);
  enabled_type = type;
}

void disable_watchdog() {
  disable_sequence(enabled_type);
  enabled_type = 0;
}

void change_watchdog_type(u8 type) {
  if (!gen_watchdog.load()) {
    gen_watchdog_type = type;
    return;
  }
  disable_watchdog();
  gen_watchdog_type = type;
  enable_watchdog(false);
}

void reset_system() {
  // The execution thread stops feeding at its next second and waits.
  wd_timer.store(0);
  if (!plat->board()) host_reset();
  disable_watchdog();
  plat->sync_disks();
  sleep(10);
  gen_watchdog = 1;
  enable_watchdog(false);
  // The watchdog now runs out; nothing here feeds it or uses the processor.
  for (;;) pause();
}

void watchdog_expired() {
  if (!plat->board()) host_reset();
}

unsigned long long gdisk() { return plat ? plat->free_disk_kib() : 0; }

void hardware_install_hooks() {
  // Main thread, scan stopped (lock(3)): the "Watchdog" and "Watchdog type"
  // rows of the general page.
  config_hooks.watchdog_enable = &enable_watchdog;
  config_hooks.watchdog_disable = &disable_watchdog;
  config_hooks.watchdog_type = &change_watchdog_type;
  // Execution thread, every level, once: the software watchdog ran out.
  engine_hooks.watchdog_expired = &watchdog_expired;
}
