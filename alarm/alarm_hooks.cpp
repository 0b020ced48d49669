#include "alarm/alarm_hooks.h"

#include "alarm/email.h"
#include "alarm/modem.h"
#include "core/hooks.h"
#include "program/program_new.h"

namespace {
template <class T>
void count_down(std::atomic<T>& c) {
  T v = c.load();
  while (v && !c.compare_exchange_weak(v, T(v - 1))) {
  }
}
}  // namespace

void alarm_second() {
  count_down(mail_timer);
  count_down(mail_backoff);
  count_down(alarm_timer);
}

void alarm_tick() { count_down(mail_timer10ms); }

void alarm_pass() {
  email();
  dial_alarm();
  sms_alarm();
}

void alarm_install_hooks() {
  // Execution thread, every level: countdowns only.
  engine_hooks.alarm_second = &alarm_second;
  engine_hooks.alarm_tick = &alarm_tick;
  // Main thread, scan running, after every user port pass; takes no pause.
  startup_hooks.alarm_pass = &alarm_pass;
  // Main thread, scan stopped: a new program ends a call series.
  static bool registered = false;
  if (!registered) on_program_new(ResetPhase::Clear, &modem_end_series);
  registered = true;
}
