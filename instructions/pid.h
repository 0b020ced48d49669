// Pid: a positional three-term controller in discrete form. It reads an
// error (set-point minus measurement) and writes the output and its three
// terms into four consecutive cells: [0] output, [1] proportional,
// [2] differential, [3] integral. The integrator lives only in its cell, so
// the program can read, preset or limit it. Gains are per execution.
#pragma once
#include "core/rows.h"

class Pid : public WithRows<Pid> {
 public:
  Pid(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 9; }
  Control* execute() override;
  // "Error input}Control result}Enable}Tuning~None~Auto}Constant}
  //  Proportional}Differential}Integral}Control interval"
  static const RowTable<Pid> rows;

 private:
  pIdata error_;
  pIdata result_;  // first of 4 cells
  pIdata enable_;  // 0 holds, 2 resets the integrator, else runs
  u8 tuning_ = 0;  // stored and reported; "Auto" has no effect
  Idata k0_ = 0.0f, kp_ = 0.0f, kd_ = 0.0f, ki_ = 0.0f;
  u32 interval_ = 0;  // seconds; runs only at whole multiples of it
  Idata last_error_ = 0.0f;
};
