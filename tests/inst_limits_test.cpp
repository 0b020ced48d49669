#include "instructions/limits.h"
#include "tests/support/inst_fixture.h"

using InstLimits = InstTest;

TEST_F(InstLimits, LimitZonesWithHysteresisAndOneScanChangeValues) {
  Control* c = add(4);
  EXPECT_STREQ(c->dparam(),
               "Input}Result}Limit}High}Went high}Window}Went window}Low}Went low}"
               "High limit}High clear}Low clear}Low limit");
  Ivar* in = var("in");
  Ivar* out = var("out");
  ASSERT_TRUE(ref(c, 0, in));
  ASSERT_TRUE(ref(c, 1, out));
  for (u16 k = 0; k < 6; ++k) ASSERT_TRUE(flt(c, u16(3 + k), float(100 + k)));
  const float lims[4] = {80, 75, 25, 20};
  for (u16 k = 0; k < 4; ++k) ASSERT_TRUE(flt(c, u16(9 + k), lims[k]));

  auto step = [&](float x) {
    in->set(0, x);
    scan(c);
    return out->get(0);
  };
  EXPECT_EQ(step(50), 102);  // starts in the window zone: no change
  EXPECT_EQ(step(85), 101);  // went high, once
  EXPECT_EQ(step(85), 100);
  EXPECT_EQ(step(78), 100);  // hysteresis band keeps high
  EXPECT_EQ(step(74), 103);  // went window
  EXPECT_EQ(step(74), 102);
  EXPECT_EQ(step(22), 102);  // lower band keeps window
  EXPECT_EQ(step(20), 105);  // went low
  EXPECT_EQ(step(24), 104);
  EXPECT_EQ(step(90), 101);  // low straight to high
}

TEST_F(InstLimits, LimitThresholdsOrderedAndOverriddenByVariable) {
  Control* c = add(4);
  Ivar* in = var("in");
  Ivar* out = var("out");
  ref(c, 0, in);
  ref(c, 1, out);
  const float entered[4] = {10, 20, 30, 40};
  for (u16 k = 0; k < 4; ++k) flt(c, u16(9 + k), entered[k]);
  scan(c);
  for (u16 k = 0; k < 4; ++k) EXPECT_EQ(get(c, u16(9 + k)).f(), 10.0f) << k;

  // The Limit block overrides the stored thresholds on every scan.
  Ivar* lim = var("lim", 3);
  ASSERT_TRUE(ref(c, 2, lim));
  const float block[4] = {90, 95, 10, 5};  // 95 becomes 90
  for (u16 k = 0; k < 4; ++k) lim->set(k, block[k]);
  scan(c);
  EXPECT_EQ(get(c, 10).f(), 90.0f);
  EXPECT_EQ(get(c, 12).f(), 5.0f);

  // Near the end of a variable the block is moved back so that 4 cells fit.
  Ivar* big = var("big");
  ASSERT_TRUE(ref(c, 2, big, 65535));
  EXPECT_EQ(get_ref(c, 2).index, 65532);
  EXPECT_EQ(big->size, 65535);

  // Wrong codes and addresses are refused; an unset input does nothing.
  EXPECT_FALSE(num(c, 3, ptype::Dec, 5));
  EXPECT_FALSE(flt(c, 0, 1.0f));
  EXPECT_FALSE(flt(c, 13, 1.0f));
  EXPECT_FALSE(flt(c, 0, 1.0f, 1));
  Ilparam s;
  c->lparam(&s);
  EXPECT_EQ(s.rows, 13);
  EXPECT_EQ(s.groups, 0);
  EXPECT_FALSE(c->resize(4));
  out->set(0, -7);
  ref(c, 0, nullptr);
  scan(c);
  EXPECT_EQ(out->get(0), -7);
}

TEST_F(InstLimits, FuzinTrapezoidAndOrdering) {
  Control* c = add(5);
  EXPECT_STREQ(c->dparam(), "Input}Result}Activate}Full activation}De-activate}Full de-activation");
  Ivar* in = var("in");
  Ivar* out = var("out");
  ref(c, 0, in);
  ref(c, 1, out);
  const float pts[4] = {0, 10, 20, 30};
  for (u16 k = 0; k < 4; ++k) flt(c, u16(2 + k), pts[k]);
  const float xs[] = {5, 15, 25, 30, -1, 10, 20, 0};
  const float want[] = {0.5f, 1, 0.5f, 0, 0, 1, 1, 0};
  for (size_t i = 0; i < std::size(xs); ++i) {
    in->set(0, xs[i]);
    scan(c);
    EXPECT_FLOAT_EQ(out->get(0), want[i]) << "x = " << xs[i];
  }

  const float entered[4] = {10, 0, 20, 15};
  const float fixed[4] = {10, 10, 20, 20};
  for (u16 k = 0; k < 4; ++k) flt(c, u16(2 + k), entered[k]);
  in->set(0, 10);  // a == b: a step straight to full activation
  scan(c);
  EXPECT_EQ(out->get(0), 1.0f);
  for (u16 k = 0; k < 4; ++k) EXPECT_EQ(get(c, u16(2 + k)).f(), fixed[k]);
}

TEST_F(InstLimits, BoundsClampAndAlarms) {
  Control* c = add(10);
  EXPECT_STREQ(c->dparam(),
               "Input}Result}Alarm}High alarm status}Low alarm status}High bound alarm}High bound}"
               "Low bound}Low bound alarm");
  Ivar* in = var("in");
  Ivar* out = var("out");
  Ivar* al = var("al");
  ref(c, 0, in);
  ref(c, 1, out);
  in->set(0, 123);
  scan(c);
  EXPECT_EQ(out->get(0), 0.0f);  // everything at 0.0 clamps to 0.0

  ref(c, 2, al);
  flt(c, 3, 1);    // high alarm status
  flt(c, 4, 2);    // low alarm status
  flt(c, 5, 5);    // high bound alarm
  flt(c, 6, 10);   // high bound
  flt(c, 7, -10);  // low bound
  flt(c, 8, -5);   // low bound alarm
  const float xs[] = {7, 12, 0, -7, -20};
  const float res[] = {7, 10, 0, -7, -10};
  const float alarm[] = {1, 1, 0, 2, 2};
  for (size_t i = 0; i < std::size(xs); ++i) {
    in->set(0, xs[i]);
    scan(c);
    EXPECT_EQ(out->get(0), res[i]) << xs[i];
    EXPECT_EQ(al->get(0), alarm[i]) << xs[i];
  }
  // Crossed settings: the low side wins the clamp and the alarm.
  flt(c, 6, -10);
  flt(c, 7, 10);
  flt(c, 8, 5);
  flt(c, 5, -5);
  in->set(0, 0);
  scan(c);
  EXPECT_EQ(out->get(0), 10.0f);
  EXPECT_EQ(al->get(0), 2.0f);
}
