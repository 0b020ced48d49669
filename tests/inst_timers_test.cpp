#include "tests/support/inst_fixture.h"

using InstTimer = InstTest;
using InstCounter = InstTest;

TEST_F(InstTimer, RowsAndChoice) {
  Control* t = add(12);
  EXPECT_STREQ(t->dparam(), "Control}Time}Time offset}Time interval}Type~Up counter~Down counter");
  EXPECT_FALSE(num(t, 2, ptype::Dec, 5));
  ASSERT_TRUE(num(t, 2, ptype::Time, 5));
  EXPECT_EQ(get(t, 2).type, ptype::Time);
  ASSERT_TRUE(num(t, 4, ptype::Select, 7));
  EXPECT_EQ(get(t, 4).value, 1u);  // any non-zero value is Down
  EXPECT_EQ(get(t, 4).type, ptype::Select);
}

TEST_F(InstTimer, CommandsAndLimits) {
  Control* t = add(12);
  Ivar* tm = var("tm");
  ASSERT_TRUE(ref(t, 1, tm));
  // Control unset: runs. An up timer starts expired and stays at the top.
  scan(t);
  EXPECT_EQ(tm->get(0), 16777215.0f);
  scan(t);
  EXPECT_EQ(tm->get(0), 16777215.0f);

  Ivar* c = var("c");
  ASSERT_TRUE(ref(t, 0, c));
  scan(t);  // c = 0 clears
  EXPECT_EQ(tm->get(0), 0.0f);
  c->set(0, 1.0f);
  scan(t);
  scan(t);
  EXPECT_EQ(tm->get(0), 2.0f);
  c->set(0, 0.5f);  // held
  scan(t);
  EXPECT_EQ(tm->get(0), 2.0f);
  c->set(0, 2.0f);  // expire
  scan(t);
  EXPECT_EQ(tm->get(0), 16777215.0f);

  // A down timer starts at 0, counts down from a preset and stops at 0.
  ASSERT_TRUE(num(t, 4, ptype::Select, 1));
  c->set(0, 1.0f);
  new_run();
  scan(t);
  EXPECT_EQ(tm->get(0), 0.0f);
  tm->set(0, 2.0f);
  scan(t);
  scan(t);
  scan(t);
  EXPECT_EQ(tm->get(0), 0.0f);
}

TEST_F(InstTimer, ClockAlignedRestartsOnlyInSlowLoops) {
  Control* t = add(12);
  Ivar* tm = var("tm");
  ASSERT_TRUE(ref(t, 1, tm));
  ASSERT_TRUE(num(t, 2, ptype::Time, 5));
  ASSERT_TRUE(num(t, 3, ptype::Time, 60));
  const u32 day = 86400 * 100;
  scan(t, day);
  tm->set(0, 100.0f);
  scan(t, day + 64);
  EXPECT_EQ(tm->get(0), 101.0f);
  scan(t, day + 65);  // the minute's fifth second
  EXPECT_EQ(tm->get(0), 0.0f);
  scan(t, day + 66);
  EXPECT_EQ(tm->get(0), 1.0f);

  ASSERT_TRUE(num(t, 4, ptype::Select, 1));
  scan(t, day + 125);
  EXPECT_EQ(tm->get(0), 59.0f);

  gen_loop_int[0] = 500;
  scan(t, day + 185);
  EXPECT_EQ(tm->get(0), 58.0f);
  gen_loop_int[0] = 1000;
}

TEST_F(InstCounter, AccumulateWrapsAndInvalidates) {
  Control* k = add(2);
  EXPECT_STREQ(k->dparam(), "Input}Result}Enable/Set}Update/Base}Frequency period");
  EXPECT_EQ(get(k, 4).value, 1u);
  Ivar* in = var("in");
  Ivar* res = var("res");
  Ivar* en = var("en");
  ASSERT_TRUE(ref(k, 0, in));
  ASSERT_TRUE(ref(k, 1, res));
  in->set(0, 100.0f);
  scan(k);  // first scan: no reading, and the input shows it
  EXPECT_EQ(in->get(0), 65535.0f);
  in->set(0, 65534.0f);
  scan(k);
  in->set(0, 3.0f);
  scan(k);
  EXPECT_EQ(res->get(0), 5.0f);
  in->set(0, 65535.0f);  // no reading
  scan(k);
  in->set(0, 10.0f);
  scan(k);
  EXPECT_EQ(res->get(0), 12.0f);

  // An enable other than 1 invalidates: no growth, no jump on re-enable.
  ASSERT_TRUE(ref(k, 2, en));
  in->set(0, 50.0f);
  scan(k);
  EXPECT_EQ(res->get(0), 12.0f);
  EXPECT_EQ(in->get(0), 65535.0f);
  en->set(0, 1.0f);
  in->set(0, 60.0f);
  scan(k);
  in->set(0, 61.0f);
  scan(k);
  EXPECT_EQ(res->get(0), 13.0f);
}

TEST_F(InstCounter, RateWaitsForUpdateAndPeriod) {
  Control* k = add(2);
  Ivar* in = var("in");
  Ivar* res = var("res");
  Ivar* up = var("up");
  ASSERT_TRUE(ref(k, 0, in));
  ASSERT_TRUE(ref(k, 1, res));
  ASSERT_TRUE(ref(k, 3, up));
  ASSERT_TRUE(num(k, 4, ptype::Time, 10));
  const u32 day = 86400 * 100;
  scan(k, day);  // first scan invalidates
  in->set(0, 1000.0f);
  scan(k, day + 1);
  in->set(0, 1200.0f);
  up->set(0, 1.0f);
  scan(k, day + 5);  // update changed, but too early
  EXPECT_EQ(res->get(0), 0.0f);
  up->set(0, 0.0f);
  scan(k, day + 11);  // long enough, but the update is back to its mark
  EXPECT_EQ(res->get(0), 0.0f);
  up->set(0, 2.0f);
  in->set(0, 1400.0f);
  scan(k, day + 21);
  EXPECT_EQ(res->get(0), 20.0f);
}

TEST_F(InstCounter, BaseModeTakesASetValue) {
  Control* k = add(2);
  Ivar* in = var("in");
  Ivar* res = var("res");
  Ivar* set = var("set");
  Ivar* base = var("base");
  ASSERT_TRUE(ref(k, 0, in));
  ASSERT_TRUE(ref(k, 1, res));
  ASSERT_TRUE(ref(k, 2, set));
  ASSERT_TRUE(ref(k, 3, base));
  ASSERT_TRUE(num(k, 4, ptype::Time, 0));
  in->set(0, 100.0f);
  scan(k);
  EXPECT_EQ(res->get(0), 100.0f);  // no base yet
  set->set(0, 500.0f);
  scan(k);
  EXPECT_EQ(res->get(0), 500.0f);
  EXPECT_EQ(set->get(0), 0.0f);
  EXPECT_EQ(base->get(0), 65136.0f);
  in->set(0, 130.0f);
  scan(k);
  EXPECT_EQ(res->get(0), 530.0f);
}
