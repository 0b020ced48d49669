// Output modulators: a controller's demand turned into switching outputs
// for relays and actuators. Times are counted in executions of the
// instruction (seconds in a loop of 1000 ms); outputs are 1.0 on, 0.0 off.
//
//   Onoff    on/off output with switching delays and minimum on/off times
//   Pwm      time-proportioning: a duty fraction becomes a pulse per frame
//   Timepos  open/close outputs of a motorised valve without feedback,
//            positioned by counting its running time
#pragma once
#include "core/rows.h"

class Onoff : public WithRows<Onoff> {
 public:
  Onoff(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 6; }
  Control* execute() override;
  // "Input}Result}Off time}On time}Off to on delay}On to off delay"
  static const RowTable<Onoff> rows;

 private:
  pIdata input_, result_;
  u32 min_off_ = 0, min_on_ = 0;      // minimum time in each state
  u32 delay_on_ = 0, delay_off_ = 0;  // off-to-on and on-to-off delays
  Idata output_ = 0.0f;
  u32 counter_ = 0;
  bool settled_ = true;  // the minimum time of the present state has passed
};

class Pwm : public WithRows<Pwm> {
 public:
  Pwm(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 7; }
  Control* execute() override;
  static const RowTable<Pwm> rows;  // "Control input}Control result}Frame time}Minimum time"

 private:
  pIdata input_, result_;
  u32 frame_ = 0;    // executions per frame; 0 disables the output
  u32 minimum_ = 0;  // shorter pulses are suppressed
  u32 counter_ = 0;  // position in the frame, 0..frame-1
};

class Timepos : public WithRows<Timepos> {
 public:
  Timepos(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 8; }
  Control* execute() override;
  static const RowTable<Timepos> rows;  // "Control input}Control result}Open time}Error time"

 private:
  // A new output block: the position is unknown again, outputs off.
  static void restart(Timepos& t, u16);

  pIdata input_;   // demanded position 0..1; exactly 2 re-synchronises
  pIdata result_;  // [0] close output, [1] open output
  u32 open_time_ = 60;  // full travel, executions
  u32 dead_band_ = 1;   // executions
  u32 position_ = 0;    // estimated: 0 closed, open_time_ open
  u32 stop_ = 0;        // where the present movement ends
};
