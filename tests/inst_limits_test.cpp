#include "instructions/limits.h"
#include "tests/support/inst_fixture.h"

namespace {

class InstLimits : public InstTest {
 protected:
  // An instruction of the type with Input and Result set.
  Control* make(u16 type) {
    Control* c = add(type);
    ref(c, 0, in = var("in"));
    ref(c, 1, out = var("out"));
    return c;
  }
  float step(Control* c, float x) {
    in->set(0, x);
    scan(c);
    return out->get(0);
  }
  Ivar *in, *out;
};

}  // namespace

TEST_F(InstLimits, LimitZonesWithHysteresis) {
  Control* c = make(4);
  for (u16 k = 0; k < 6; ++k) flt(c, u16(3 + k), float(100 + k));  // outputs 100..105
  const float lims[4] = {80, 75, 25, 20};
  for (u16 k = 0; k < 4; ++k) flt(c, u16(9 + k), lims[k]);
  // From the window zone: 85 goes high once, 78 stays high (band), 74 goes
  // window, 22 stays window (band), 20 goes low, 90 jumps straight to high.
  const float xs[] = {50, 85, 85, 78, 74, 74, 22, 20, 24, 90};
  const float want[] = {102, 101, 100, 100, 103, 102, 102, 105, 104, 101};
  for (size_t i = 0; i < std::size(xs); ++i) EXPECT_EQ(step(c, xs[i]), want[i]) << i;
  EXPECT_EQ(static_cast<Limit*>(c)->zone(), Limit::High);

  // Unordered thresholds are made non-increasing and stay so.
  const float entered[4] = {10, 20, 30, 40};
  for (u16 k = 0; k < 4; ++k) flt(c, u16(9 + k), entered[k]);
  step(c, 0);
  for (u16 k = 0; k < 4; ++k) EXPECT_EQ(get(c, u16(9 + k)).f(), 10.0f) << k;
  // The Limit block overrides them every scan; near 65535 it moves back.
  Ivar* lim = var("lim", 3);
  ref(c, 2, lim);
  const float block[4] = {90, 95, 10, 5};
  for (u16 k = 0; k < 4; ++k) lim->set(k, block[k]);
  step(c, 0);
  EXPECT_EQ(get(c, 10).f(), 90.0f);
  EXPECT_EQ(get(c, 12).f(), 5.0f);
  Ivar* big = var("big");
  ref(c, 2, big, 65535);
  EXPECT_EQ(get_ref(c, 2).index, 65532);
  EXPECT_EQ(big->size, 65535);
  // Refusals, and an unset input does nothing.
  EXPECT_FALSE(num(c, 3, ptype::Dec, 5));
  EXPECT_FALSE(flt(c, 13, 1.0f));
  ref(c, 0, nullptr);
  out->set(0, -7);
  scan(c);
  EXPECT_EQ(out->get(0), -7.0f);
}

TEST_F(InstLimits, FuzinTrapezoid) {
  Control* c = make(5);
  const float pts[4] = {0, 10, 20, 30};
  for (u16 k = 0; k < 4; ++k) flt(c, u16(2 + k), pts[k]);
  const float xs[] = {5, 15, 25, 30, -1, 10, 20};
  const float want[] = {0.5f, 1, 0.5f, 0, 0, 1, 1};
  for (size_t i = 0; i < std::size(xs); ++i) EXPECT_FLOAT_EQ(step(c, xs[i]), want[i]) << xs[i];
  // Break points are made non-decreasing; a == b steps straight to 1.
  const float entered[4] = {10, 0, 20, 15}, fixed[4] = {10, 10, 20, 20};
  for (u16 k = 0; k < 4; ++k) flt(c, u16(2 + k), entered[k]);
  EXPECT_EQ(step(c, 10), 1.0f);
  for (u16 k = 0; k < 4; ++k) EXPECT_EQ(get(c, u16(2 + k)).f(), fixed[k]);
}

TEST_F(InstLimits, BoundsClampAndAlarms) {
  Control* c = make(10);
  EXPECT_EQ(step(c, 123), 0.0f);  // all settings 0.0 clamp to 0.0
  Ivar* al = var("al");
  ref(c, 2, al);
  // Statuses 1 and 2, alarms at 5 and -5, bounds at 10 and -10.
  const float set[6] = {1, 2, 5, 10, -10, -5};
  for (u16 k = 0; k < 6; ++k) flt(c, u16(3 + k), set[k]);
  const float xs[] = {7, 12, 0, -7, -20};
  const float res[] = {7, 10, 0, -7, -10}, alarm[] = {1, 1, 0, 2, 2};
  for (size_t i = 0; i < std::size(xs); ++i) {
    EXPECT_EQ(step(c, xs[i]), res[i]) << xs[i];
    EXPECT_EQ(al->get(0), alarm[i]) << xs[i];
  }
  // Crossed settings: the low side wins the clamp and the alarm.
  const float crossed[4] = {-5, -10, 10, 5};
  for (u16 k = 0; k < 4; ++k) flt(c, u16(5 + k), crossed[k]);
  EXPECT_EQ(step(c, 0), 10.0f);
  EXPECT_EQ(al->get(0), 2.0f);
}
