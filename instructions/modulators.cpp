#include "instructions/modulators.h"

#include "core/registry.h"
#include "instructions/common.h"

// ---- Onoff ---------------------------------------------------------------

const RowTable<Onoff> Onoff::rows{{
    rows::ref<&Onoff::input_>("Input"),
    rows::ref<&Onoff::result_>("Result"),
    inst::count_row<&Onoff::min_off_>("Off time"),
    inst::count_row<&Onoff::min_on_>("On time"),
    inst::count_row<&Onoff::delay_on_>("Off to on delay"),
    inst::count_row<&Onoff::delay_off_>("On to off delay"),
}};

Onoff::Onoff(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

Control* Onoff::execute() {
  if (!input_.var || !result_.var) return next;
  const Idata demand = input_.get() > 0.5f ? 1.0f : 0.0f;
  const bool on = output_ != 0.0f;
  if (!settled_) {
    ++counter_;
    if (counter_ >= (on ? min_on_ : min_off_)) {
      settled_ = true;
      counter_ = 0;
    }
  }
  if (settled_) {
    if (demand == output_) {
      counter_ = 0;
    } else if (++counter_ > (on ? delay_off_ : delay_on_)) {
      output_ = demand;
      counter_ = 0;
      settled_ = false;
    }
  }
  result_.set(output_);
  return next;
}

QUOR_REGISTER_INSTRUCTION(6, Onoff);

// ---- Pwm -----------------------------------------------------------------

const RowTable<Pwm> Pwm::rows{{
    rows::ref<&Pwm::input_>("Control input"),
    rows::ref<&Pwm::result_>("Control result"),
    inst::count_row<&Pwm::frame_>("Frame time"),
    inst::count_row<&Pwm::minimum_>("Minimum time"),
}};

Pwm::Pwm(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

Control* Pwm::execute() {
  if (!input_.var || !result_.var || frame_ == 0) return next;
  if (++counter_ >= frame_) counter_ = 0;
  // Single precision, as the duty is: 0.7 of 10 is 7 executions, not 6.
  // A negative duty gives 0 (always off).
  u32 n = saturate<u32>(Idata(frame_) * input_.get());
  if (n < minimum_) n = 0;
  result_.set(counter_ < n ? 1.0f : 0.0f);
  return next;
}

QUOR_REGISTER_INSTRUCTION(7, Pwm);

// ---- Timepos -------------------------------------------------------------

const RowTable<Timepos> Timepos::rows{{
    rows::ref<&Timepos::input_>("Control input"),
    inst::block_ref<&Timepos::result_, 1>("Control result", &Timepos::restart),
    inst::count_row<&Timepos::open_time_>("Open time", 1),
    inst::count_row<&Timepos::dead_band_>("Error time", 1),
}};

Timepos::Timepos(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

void Timepos::restart(Timepos& t, u16) {
  t.position_ = 0;
  t.stop_ = 0;
  t.result_.set(0, 0.0f);
  t.result_.set(1, 0.0f);
}

Control* Timepos::execute() {
  if (!input_.var || !result_.var) return next;
  Idata x = input_.get();
  if (x > 1.0f) {
    if (x == 2.0f) {  // re-synchronise: drive closed from position 0
      stop_ = 0;
      position_ = 0;
      result_.set(0, 1.0f);
      result_.set(1, 0.0f);
      return next;
    }
    x = 1.0f;
  }
  if (x < 0.0f) x = 0.0f;
  // The demanded position; never beyond full travel, which single
  // precision could otherwise round past for very long travel times.
  u32 t = saturate<u32>(Idata(open_time_) * x);
  if (t > open_time_) t = open_time_;

  // A movement in progress runs on until it reaches its stop.
  if (result_.get(0) != 0.0f && position_ != 0) {
    --position_;
    if (position_ > stop_) return next;
  }
  if (result_.get(1) != 0.0f) {
    if (position_ < 0xFFFFFFFFu) ++position_;
    if (position_ < stop_) return next;
  }

  if (t == 0) {  // drive closed and hold the actuator against its end
    stop_ = 0;
    result_.set(0, 1.0f);
    result_.set(1, 0.0f);
    return next;
  }
  u32 d;
  if (t >= position_) {
    result_.set(1, 1.0f);
    result_.set(0, 0.0f);
    d = t - position_;
  } else {
    result_.set(0, 1.0f);
    result_.set(1, 0.0f);
    d = position_ - t;
  }
  if (d >= dead_band_ || (t == open_time_ && position_ < open_time_))
    stop_ = t;
  else {  // inside the dead band: stop
    result_.set(0, 0.0f);
    result_.set(1, 0.0f);
  }
  return next;
}

QUOR_REGISTER_INSTRUCTION(8, Timepos);
