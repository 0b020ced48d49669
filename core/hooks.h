// Calls from the engine and start-up into subsystems built above the core.
// Each subsystem installs its entries when it is linked in (a static
// initialiser in its own file); an empty entry means the subsystem is absent.
#pragma once
#include "core/types.h"

class Control;

struct EngineHooks {
  // Once a second, on the execution thread.
  void (*alarm_second)() = nullptr;    // e-mail and modem countdowns
  void (*io_second)() = nullptr;       // I/O seconds countdowns (thread_ctr <= 3)
  void (*clients_second)() = nullptr;  // client slot idle countdowns
  // Every ten-millisecond tick, on the execution thread.
  void (*alarm_tick)() = nullptr;  // e-mail ten-millisecond countdown
  void (*io_tick)() = nullptr;     // I/O ten-millisecond counters (thread_ctr <= 3)
  // Execution pass: advance the transactions in progress; returns true while
  // some I/O definition still serves an instruction.
  bool (*io_advance)() = nullptr;
  // Execution pass: slave sockets and the bytes each port received.
  void (*io_serve)() = nullptr;
  // Execution pass: an instruction has just executed (I/O start).
  void (*io_start)(Control* executed) = nullptr;
  // start_run: every I/O definition forgets the instruction it served.
  void (*io_forget)() = nullptr;
  // Descriptors the execution thread should wake on; returns how many.
  int (*io_fds)(int* fds, int max) = nullptr;
  // The software watchdog ran out (execution thread, once).
  void (*watchdog_expired)() = nullptr;
  // Hourly clock resynchronisation; moves next_time_sync on.
  void (*clock_sync)() = nullptr;
  // The editing cursor moved to a break point: recompute the listing base.
  void (*cursor_moved)() = nullptr;
  // A block move reordered the program list: rebuild the I/O transaction
  // list (main thread, scan stopped).
  void (*program_moved)() = nullptr;
  // A program file was loaded (main thread): check the history files.
  void (*program_loaded)() = nullptr;
};
inline EngineHooks engine_hooks;

struct StartupHooks {
  void (*hmi_build)() = nullptr;        // HMI object type table
  void (*create_ports)() = nullptr;     // the four serial port definitions
  bool (*program_load)() = nullptr;     // stored program, or its backup
  // Network set-up and the user port listener; false ends the process.
  bool (*init_ports)(int port_override) = nullptr;
  // Main thread, every pass of the client service: the alarm senders.
  void (*alarm_pass)() = nullptr;
  // One pass of the client service; returns false to end the process.
  bool (*main_pass)() = nullptr;
};
inline StartupHooks startup_hooks;

// Registers a hook at static initialisation:
//   QUOR_INSTALL_HOOK(expr_hooks) { engine_hooks.io_tick = &io_tick; }
#define QUOR_INSTALL_HOOK(NAME)                 \
  static void NAME##_install();                 \
  static const int NAME##_installed = (NAME##_install(), 0); \
  static void NAME##_install()
