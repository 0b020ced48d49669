// Calls from the engine and start-up into subsystems built above the core.
//
// Each subsystem fills its own entries in one plain function,
// <subsystem>_install_hooks(), declared in its header. install_hooks() calls
// them all, in a fixed order, from one place: the controller at start-up,
// the test runner, the fuzz targets and the benchmarks. An empty entry means
// the subsystem is absent. Installing again is harmless (same entries).
//
// Every entry says which thread calls it and at which scan level:
//   every level      - also while the main thread holds lock(1) or lock(3)
//   unless stopped   - skipped while lock(3) stands (thread_ctr 3 or 4)
//   lock(1) / lock(3) - the main thread holds that pause (core/scan_pause.h)
#pragma once
#include <string>
#include "core/types.h"

class Control;

struct EngineHooks {
  // Execution thread, once a second, every level: e-mail and modem countdowns.
  void (*alarm_second)() = nullptr;
  // Execution thread, once a second, unless stopped: I/O seconds countdowns.
  void (*io_second)() = nullptr;
  // Execution thread, once a second, every level: client slot idle countdowns.
  void (*clients_second)() = nullptr;
  // Execution thread, every ten-millisecond tick, every level: the e-mail
  // ten-millisecond countdown.
  void (*alarm_tick)() = nullptr;
  // Execution thread, every tick, unless stopped: I/O ten-millisecond counters.
  void (*io_tick)() = nullptr;
  // Execution thread, every pass, unless stopped: advance the transactions
  // in progress; true while some I/O definition still serves an instruction.
  bool (*io_advance)() = nullptr;
  // Execution thread, every pass while running or paused (not under lock(3)):
  // slave sockets and the bytes each port received.
  void (*io_serve)() = nullptr;
  // Execution thread, scan running: an instruction has just executed (I/O start).
  void (*io_start)(Control* executed) = nullptr;
  // Main thread, from start_run: scan stopped (lock(3)) or halted (run 0).
  // Every I/O definition forgets the instruction it served.
  void (*io_forget)() = nullptr;
  // Execution thread, before it waits, every level: the descriptors it
  // should wake on; returns how many.
  int (*io_fds)(int* fds, int max) = nullptr;
  // Execution thread, every level, once: the software watchdog ran out.
  void (*watchdog_expired)() = nullptr;
  // Execution thread from update_time, every level (main thread before the
  // execution thread starts): hourly clock resynchronisation; moves
  // next_time_sync on.
  void (*clock_sync)() = nullptr;
  // Main thread, scan halted at a break point (run 0, no pause needed): the
  // editing cursor moved to the break point; recompute the listing base.
  void (*cursor_moved)() = nullptr;
  // Main thread, scan stopped (lock(3)): a block move reordered the program
  // list; rebuild the I/O transaction lists.
  void (*program_moved)() = nullptr;
  // Main thread, scan stopped (lock(3)) or before the execution thread
  // starts: a program file was loaded; check the history files.
  void (*program_loaded)() = nullptr;
};
inline EngineHooks engine_hooks;

// All of these run on the main thread during start-up, before the execution
// thread exists, except main_pass (below).
struct StartupHooks {
  void (*hmi_build)() = nullptr;     // HMI object type table
  void (*create_ports)() = nullptr;  // the four serial port definitions
  bool (*program_load)() = nullptr;  // stored program, or its backup
  // Network set-up and the user port listener; false ends the process.
  bool (*init_ports)(int port_override) = nullptr;
  // The address and port the user port listens on, as "ADDRESS:PORT", for
  // the start-up line.
  std::string (*listen_address)() = nullptr;
  // Main thread, execution thread already stopped: the process is ending on
  // request; close the client connections and the listener.
  void (*shutdown)() = nullptr;
  // Main thread, scan running, after every pass of the client service: one
  // step of the alarm senders (mail and modem); takes no pause.
  void (*alarm_pass)() = nullptr;
  // Main thread, scan running, for ever after start-up: one pass of the
  // client service (which takes its own pauses); false ends the process.
  bool (*main_pass)() = nullptr;
};
inline StartupHooks startup_hooks;

// Fills every subsystem's entries of every hook table (EngineHooks,
// StartupHooks, ConfigHooks, HmiFileHooks) and the program-reset lists.
// Main thread, before the execution thread starts.
void install_hooks();
