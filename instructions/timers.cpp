#include "instructions/timers.h"

#include <algorithm>

#include "core/registry.h"
#include "instructions/common.h"

// ---- Timer ---------------------------------------------------------------

const RowTable<Timer> Timer::rows{{
    rows::ref<&Timer::control_>("Control"),
    rows::ref<&Timer::time_>("Time"),
    inst::seconds_row<&Timer::offset_>("Time offset"),
    inst::seconds_row<&Timer::interval_>("Time interval"),
    rows::num<&Timer::down_>("Type~Up counter~Down counter", ptype::Select, 0, 1),
}};

Timer::Timer(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

Control* Timer::execute() {
  if (!time_.var) return next;
  if (inst::first_scan()) time_.set(down_ ? 0.0f : MAX_COUNT);  // start expired

  Idata c = control_.var ? control_.get() : 1.0f;
  if (c == 0.0f) {
    time_.set(0.0f);
    return next;
  }
  if (c == 2.0f) {
    time_.set(MAX_COUNT);
    return next;
  }
  if (c != 1.0f) return next;  // held

  if (interval_ != 0 && inst::clock_aligned() &&
      (inst::loop_date() - offset_) % interval_ == 0) {
    time_.set(down_ ? std::min(Idata(interval_ - 1), MAX_COUNT) : 0.0f);
    return next;
  }
  Idata t = time_.get();
  if (down_) {
    t -= 1.0f;
    if (!(t >= 0.0f)) t = 0.0f;
  } else {
    t += 1.0f;
    if (!(t <= MAX_COUNT)) t = MAX_COUNT;
  }
  time_.set(t);
  return next;
}

QUOR_REGISTER_INSTRUCTION(12, Timer);

// ---- Counter -------------------------------------------------------------

const RowTable<Counter> Counter::rows{{
    rows::ref<&Counter::input_>("Input"),
    rows::ref<&Counter::result_>("Result"),
    rows::ref<&Counter::enable_>("Enable/Set"),
    rows::ref<&Counter::update_>("Update/Base"),
    inst::seconds_row<&Counter::period_>("Frequency period"),
}};

Counter::Counter(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

Control* Counter::execute() {
  if (!input_.var || !result_.var) return next;
  const bool has_update = update_.var != nullptr;

  // A reading is invalidated on the first scan and, in the accumulate and
  // rate modes, while the enable is anything but 1.
  if (!has_update || period_ != 0) {
    if (inst::first_scan() || (enable_.var && enable_.get() != 1.0f)) {
      last_ = NO_READING;
      input_.set(65535.0f);
    }
  }
  const Idata in = input_.get();
  const u16 cur = wrap<u16>(in, NO_READING);

  if (!has_update) {  // accumulate
    if (cur == NO_READING) return next;
    if (last_ != NO_READING) result_.set(result_.get() + Idata(u16(cur - last_)));
    last_ = cur;
    return next;
  }

  if (period_ != 0 && inst::clock_aligned()) {  // rate in counts per second
    if (cur == NO_READING) return next;
    const u16 u = wrap<u16>(update_.get(), NO_READING);
    const u32 now = inst::loop_date();
    if (last_ != NO_READING) {
      const u32 elapsed = now - last_rate_;
      if (u == base_mark_ || elapsed < period_) return next;
      result_.set(Idata(u16(cur - last_)) / Idata(elapsed));
    }
    last_ = cur;
    base_mark_ = u;
    last_rate_ = now;
    return next;
  }

  // Base mode: a value written into Enable/Set becomes the result at that
  // moment; the base is kept in Update/Base and Enable/Set is cleared.
  if (in == 65535.0f) return next;
  Idata d = 0.0f;
  if (enable_.var) {
    const Idata s = enable_.get();
    if (s != 0.0f) {
      d = in - s;
      if (d < 0.0f) d += 65536.0f;
      update_.set(d);
      enable_.set(0.0f);
    } else {
      d = update_.get();
    }
  }
  Idata r = in - d;
  if (r < 0.0f) r += 65536.0f;
  result_.set(r);
  return next;
}

QUOR_REGISTER_INSTRUCTION(2, Counter);
