// Limit checks: a three-zone level switch with hysteresis (Limit), a
// trapezoidal fuzzy membership (Fuzin), and a clamp with alarms (Bounds).
#pragma once
#include "core/rows.h"

// Writes one of six values: the steady value of the present zone (high,
// window, low), or for one scan the value of the change into it.
class Limit : public WithRows<Limit> {
 public:
  enum Zone : u8 { High = 0, Window = 1, Low = 2 };

  Limit(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 4; }
  Control* execute() override;

  Zone zone() const { return zone_; }
  static const RowTable<Limit> rows;

 private:
  pIdata input_, result_;
  pIdata limit_;    // optional block of 4 cells overriding the thresholds
  float out_[6]{};  // High, Went high, Window, Went window, Low, Went low
  float lim_[4]{};  // High limit, High clear, Low clear, Low limit
  Zone zone_ = Window;
};

// Degree of membership 0..1 of the input in the trapezoid a <= b <= c <= d.
class Fuzin : public WithRows<Fuzin> {
 public:
  Fuzin(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 5; }
  Control* execute() override;
  static const RowTable<Fuzin> rows;

 private:
  pIdata input_, result_;
  float a_ = 0, b_ = 0, c_ = 0, d_ = 0;
};

// Clamps the input between two bounds and reports crossed alarm thresholds.
class Bounds : public WithRows<Bounds> {
 public:
  Bounds(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 10; }
  Control* execute() override;
  static const RowTable<Bounds> rows;

 private:
  pIdata input_, result_, alarm_;
  float high_status_ = 0, low_status_ = 0;
  float high_alarm_ = 0, high_bound_ = 0, low_bound_ = 0, low_alarm_ = 0;
};
