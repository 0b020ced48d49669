#include "instructions/pid.h"

#include "core/registry.h"
#include "instructions/common.h"

const RowTable<Pid> Pid::rows{{
    rows::ref<&Pid::error_>("Error input"),
    inst::block_ref<&Pid::result_, 3>("Control result"),
    rows::ref<&Pid::enable_>("Enable"),
    rows::num<&Pid::tuning_>("Tuning~None~Auto", ptype::Select, 0, 1),
    rows::num<&Pid::k0_>("Constant", ptype::Float),
    rows::num<&Pid::kp_>("Proportional", ptype::Float),
    rows::num<&Pid::kd_>("Differential", ptype::Float),
    rows::num<&Pid::ki_>("Integral", ptype::Float),
    inst::seconds_row<&Pid::interval_>("Control interval"),
}};

Pid::Pid(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

Control* Pid::execute() {
  if (!error_.var || !result_.var) return next;
  const Idata e = error_.get();

  // A new run starts from a clear integrator and no differential step, even
  // when its first scan falls between two control intervals.
  if (inst::first_scan()) {
    result_.set(3, 0.0f);
    last_error_ = e;
  }
  if (interval_ != 0 && inst::clock_aligned() && inst::loop_date() % interval_ != 0)
    return next;

  if (enable_.var) {
    const Idata en = enable_.get();
    if (en == 0.0f) return next;  // hold everything
    if (en == 2.0f) result_.set(3, 0.0f);
  }
  const Idata p = e * kp_;
  const Idata d = (e - last_error_) * kd_;
  const Idata i = result_.get(3) + e * ki_;
  result_.set(1, p);
  result_.set(2, d);
  result_.set(3, i);
  result_.set(0, k0_ + p + d + i);
  last_error_ = e;
  return next;
}

QUOR_REGISTER_INSTRUCTION(9, Pid);
