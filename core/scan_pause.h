// The one way the main thread reaches state the scan owns.
//
//   { ScanPause p(Pause::Stopped);   // lock(3): no instruction runs, no I/O in flight
//     module_insert(...);            // structure, variable growth, I/O ports
//   }                                // release(): every loop restarts from the top
//   { ScanPause p(Pause::Paused);    // lock(1): between instructions, I/O goes on
//     inst->sparam(row, value);      // parameters, gparam reads, the run state
//   }                                // release(): the scan goes on where it was
//
// Pauses nest: an inner pause at or below the level already held does
// nothing; an inner Stopped inside a Paused raises the level, and the
// outermost pause releases whatever was reached. Only the pause that took
// the engine from free releases it.
//
// Code that touches scan-owned state says which level it needs with
// scan_requires(level). Builds with QUOR_CHECK_LEVELS (debug and sanitizer
// builds) abort when the main thread gets there without that level while
// the execution thread runs; elsewhere the check compiles to nothing.
#pragma once
#include "core/types.h"

enum class Pause : u8 {
  Paused = 1,   // lock(1): acknowledged at an instruction boundary
  Stopped = 3,  // lock(3): every field transaction has ended
};

class ScanPause {
 public:
  // How a stop ends: the program restarts from the top of every loop
  // (release), or it is reset the same way but stays halted (run = 0), as
  // a single step leaves it.
  enum Resume : u8 { Restart, Halted };

  explicit ScanPause(Pause level, Resume resume = Restart);
  ~ScanPause();
  ScanPause(const ScanPause&) = delete;
  ScanPause& operator=(const ScanPause&) = delete;

 private:
  bool owner_;  // this pause took the engine from free
  Resume resume_;
};

// True when the calling thread may touch state that needs `level`: it is
// the execution thread itself, no execution thread runs, or the level is
// held (acknowledged) by the main thread.
bool scan_level_held(Pause level);
// True on the execution thread.
bool on_exec_thread();

#ifdef QUOR_CHECK_LEVELS
[[noreturn]] void scan_level_violation(Pause level, const char* where);
#define scan_requires(level) \
  ((scan_level_held(level)) ? (void)0 : scan_level_violation((level), __func__))
#else
#define scan_requires(level) ((void)0)
#endif
