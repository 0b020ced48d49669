// Pulse: every change of a trigger cell becomes a pulse of fixed length on
// an output cell. The output carries the trigger's new value for a number
// of executions and then returns to an idle value.
#pragma once
#include <cstdint>

#include "core/rows.h"

class Pulse : public WithRows<Pulse> {
 public:
  Pulse(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 18; }
  Control* execute() override;
  static const RowTable<Pulse> rows;  // "Trigger}Pulse}Duration time}Idle state"

 private:
  pIdata trigger_, pulse_;
  u32 duration_ = 0;   // executions
  std::uint64_t remaining_ = 0;  // executions left in the pulse (up to duration + 1)
  Idata idle_ = 0.0f;
  Idata last_ = 0.0f;  // trigger seen on the previous execution
};
