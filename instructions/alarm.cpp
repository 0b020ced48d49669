#include "instructions/alarm.h"

#include "core/registry.h"

const RowTable<Alarm> Alarm::rows{{
    rows::ref<&Alarm::master_>("Master"),
    rows::ref<&Alarm::first_>("Alarm", &Alarm::recheck),
    rows::num<&Alarm::count_>("Number of alarms", ptype::Dec, 1, 255, &Alarm::recheck),
}};

Alarm::Alarm(Control* prev, const char* desc, u16) : WithRows(prev, desc), previous_(1, 0.0f) {}

void Alarm::recheck(Alarm& a, u16) {
  if (a.first_.var) revalidate_block(a.first_, u16(a.count_ - 1));
  a.previous_.assign(a.count_, 0.0f);
}

Control* Alarm::execute() {
  if (!master_.var || !first_.var) return next;
  bool any = false, fresh = false;
  const u16 n = u16(previous_.size());
  for (u16 i = 0; i < n; ++i) {
    Idata a = first_.get(i);
    if (a != 0.0f) {
      any = true;
      if (previous_[i] == 0.0f) fresh = true;
    }
    previous_[i] = a;
  }
  if (!any) master_.set(0.0f);
  if (fresh) master_.set(1.0f);
  return next;
}

QUOR_REGISTER_INSTRUCTION(27, Alarm);
