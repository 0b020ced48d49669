#include "instructions/pulse.h"

#include "core/registry.h"
#include "instructions/common.h"

const RowTable<Pulse> Pulse::rows{{
    rows::ref<&Pulse::trigger_>("Trigger"),
    rows::ref<&Pulse::pulse_>("Pulse"),
    inst::count_row<&Pulse::duration_>("Duration time"),
    rows::num<&Pulse::idle_>("Idle state", ptype::Float),
}};

Pulse::Pulse(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

Control* Pulse::execute() {
  if (!trigger_.var || !pulse_.var) return next;
  if (inst::first_scan()) {
    last_ = idle_;
    pulse_.set(idle_);
  }
  const Idata t = trigger_.get();
  if (t != last_) {
    pulse_.set(t);
    remaining_ = std::uint64_t(duration_) + 1;
  }
  if (remaining_ != 0) {
    // A duration lowered during the pulse shortens what is left of it; a
    // duration lowered to 0 ends the pulse now.
    if (remaining_ > std::uint64_t(duration_) + 1) remaining_ = duration_;
    if (remaining_ != 0) --remaining_;
    if (remaining_ == 0) pulse_.set(idle_);
  }
  last_ = t;
  return next;
}

QUOR_REGISTER_INSTRUCTION(18, Pulse);
