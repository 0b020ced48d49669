// The board: its hardware watchdog, busy delays and free disk space. The
// real-time clock and date text are in net/clock.h, the PC/104 window in
// net/ioport.h; all of them reach the machine through the platform.
#pragma once
#include "core/types.h"

// Exit status of a host-mode controller that its watchdog would have reset
// ("Reset system", or the software watchdog running out): a supervisor
// restarts it.
inline constexpr int WATCHDOG_EXIT = 3;

// The enable sequence of gen_watchdog_type (Advantec, ICP, Axiom, Elan520,
// TS7200; None does nothing). With reset ("Reset system") the controller
// restarts: see reset_system. Main thread.
void enable_watchdog(bool reset);
// The disable sequence of the type last enabled. Main thread.
void disable_watchdog();
// Switches a running watchdog to another type: the old one is disabled
// before the new one is enabled. Main thread.
void change_watchdog_type(u8 type);
// Restart by the watchdog. Feeding stops at once (the execution thread goes
// idle); on the board the watchdog is disabled, the disks flushed, and
// after 10 s it is enabled again and left to run out while this thread
// sleeps. In host mode "watchdog reset" is recorded in host-actions.log,
// files are flushed and the process ends with WATCHDOG_EXIT. Does not
// return.
[[noreturn]] void reset_system();
// Execution thread: the software watchdog ran out. Host mode records it and
// ends the process as reset_system does; the board is left to its watchdog.
void watchdog_expired();

// A busy loop of n empty iterations.
void delay(u32 n);
// Free space on "/" in KiB.
unsigned long long gdisk();

// Sets the watchdog entries of the engine and configuration hooks.
void hardware_install_hooks();
