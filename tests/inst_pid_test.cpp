#include "tests/support/inst_fixture.h"

using InstPid = InstTest;

namespace {
enum PidRow : u16 { Err, Res, En, Tuning, K0, Kp, Kd, Ki, Interval };
}

TEST_F(InstPid, RowsResultBlockAndTuning) {
  Control* p = add(9);
  EXPECT_STREQ(p->dparam(),
               "Error input}Control result}Enable}Tuning~None~Auto}Constant}Proportional}"
               "Differential}Integral}Control interval");
  Ilparam s;
  ASSERT_TRUE(p->lparam(&s));
  EXPECT_EQ(s.rows, 9);
  Ivar* r = var("r");
  ASSERT_TRUE(ref(p, Res, r, 65535));
  EXPECT_EQ(get_ref(p, Res).index, 65532);
  EXPECT_EQ(r->size, 65535);
  ASSERT_TRUE(ref(p, Res, r, 2));
  EXPECT_EQ(get_ref(p, Res).index, 2);

  ASSERT_TRUE(num(p, Tuning, ptype::Select, 1));  // kept, without effect
  EXPECT_EQ(get(p, Tuning).value, 1u);
  EXPECT_FALSE(num(p, Kp, ptype::Dec, 2));
  EXPECT_FALSE(num(p, Interval, ptype::Dec, 2));
  Iparam q;
  EXPECT_FALSE(p->gparam(&q, 0, 9));
  EXPECT_FALSE(p->sparam(&q, 1, 0));
}

TEST_F(InstPid, ThreeTermsEnableAndInterval) {
  Control* p = add(9);
  Ivar* e = var("e");
  Ivar* r = var("r", 3);
  Ivar* en = var("en");
  ASSERT_TRUE(ref(p, Err, e));
  ASSERT_TRUE(ref(p, Res, r));
  ASSERT_TRUE(flt(p, K0, 1.0f));
  ASSERT_TRUE(flt(p, Kp, 2.0f));
  ASSERT_TRUE(flt(p, Kd, 1.0f));
  ASSERT_TRUE(flt(p, Ki, 0.5f));

  r->set(3, 9.0f);
  e->set(0, 3.0f);
  scan(p);  // first scan: integrator cleared, no differential step
  EXPECT_EQ(r->get(1), 6.0f);
  EXPECT_EQ(r->get(2), 0.0f);
  EXPECT_EQ(r->get(3), 1.5f);
  EXPECT_EQ(r->get(0), 8.5f);
  e->set(0, 7.0f);
  scan(p);
  EXPECT_EQ(r->get(2), 4.0f);
  EXPECT_EQ(r->get(3), 5.0f);
  scan(p);
  EXPECT_EQ(r->get(2), 0.0f);
  EXPECT_EQ(r->get(3), 8.5f);

  // Enable 0 holds everything, the last error included.
  ASSERT_TRUE(ref(p, En, en));
  e->set(0, 1.0f);
  scan(p);
  EXPECT_EQ(r->get(0), 1.0f + 14.0f + 0.0f + 8.5f);
  en->set(0, 1.0f);
  scan(p);
  EXPECT_EQ(r->get(2), -6.0f);  // against the error of the last scan that ran
  // Enable 2 resets the integrator before every step.
  en->set(0, 2.0f);
  scan(p);
  scan(p);
  EXPECT_EQ(r->get(3), 0.5f);

  // Interval 10 in a 1000 ms loop: only at multiples of 10 seconds.
  en->set(0, 1.0f);
  ASSERT_TRUE(num(p, Interval, ptype::Time, 10));
  const u32 day = 86400 * 100;
  scan(p, day + 3);
  EXPECT_EQ(r->get(3), 0.5f);
  scan(p, day + 10);
  EXPECT_EQ(r->get(3), 1.0f);
  gen_loop_int[0] = 100;
  scan(p, day + 11);
  EXPECT_EQ(r->get(3), 1.5f);
  gen_loop_int[0] = 1000;
}

TEST_F(InstPid, NewRunResetsEvenBetweenIntervals) {
  Control* p = add(9);
  Ivar* e = var("e");
  Ivar* r = var("r", 3);
  ASSERT_TRUE(ref(p, Err, e));
  ASSERT_TRUE(ref(p, Res, r));
  ASSERT_TRUE(flt(p, Ki, 1.0f));
  ASSERT_TRUE(flt(p, Kd, 1.0f));
  e->set(0, 2.0f);
  engine_start();
  engine_scan();
  engine_scan();
  EXPECT_EQ(r->get(3), 4.0f);
  ASSERT_TRUE(num(p, Interval, ptype::Time, 86400));
  e->set(0, 5.0f);
  engine_start();  // midnight is long gone: no step runs today
  engine_scan();
  EXPECT_EQ(r->get(3), 0.0f);
  ASSERT_TRUE(num(p, Interval, ptype::Time, 0));
  engine_scan();
  EXPECT_EQ(r->get(2), 0.0f);  // last error taken on the run's first scan
  EXPECT_EQ(r->get(3), 5.0f);
}
