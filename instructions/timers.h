// Timer and Counter: instructions that count.
//
// Timer counts its own executions up or down under a command cell, with
// optional restarts aligned to the clock. Counter turns a 16-bit wrapping
// hardware count into an accumulated count, a rate, or a count relative to
// a settable base.
#pragma once
#include "core/rows.h"

class Timer : public WithRows<Timer> {
 public:
  // The largest count a timer holds (2^24 - 1, exact in a float).
  static constexpr Idata MAX_COUNT = 16777215.0f;

  Timer(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 12; }
  Control* execute() override;
  // "Control}Time}Time offset}Time interval}Type~Up counter~Down counter"
  static const RowTable<Timer> rows;

 private:
  pIdata control_;  // command: 0 clear, 1 run, 2 expire, else hold
  pIdata time_;     // the count
  u32 offset_ = 0;    // seconds
  u32 interval_ = 0;  // seconds; 0: no clock-aligned restart
  u8 down_ = 0;       // 0 up counter, 1 down counter
};

class Counter : public WithRows<Counter> {
 public:
  static constexpr u16 NO_READING = 0xFFFF;

  Counter(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 2; }
  Control* execute() override;
  // "Input}Result}Enable/Set}Update/Base}Frequency period"
  static const RowTable<Counter> rows;

 private:
  pIdata input_, result_, enable_, update_;
  u16 last_ = NO_READING;  // last count taken
  u16 base_mark_ = 0;      // Update/Base value at the last rate
  u32 period_ = 1;         // rate period, seconds
  u32 last_rate_ = 0;      // loop date of the last rate
};
