#include "tests/support/inst_fixture.h"

using InstPid = InstTest;

namespace {
enum PidRow : u16 { Err, Res, En, Tuning, K0, Kp, Kd, Ki, Interval };
}

TEST_F(InstPid, ThreeTermsEnableAndInterval) {
  Control* p = add(9);
  Ivar* e = var("e");
  Ivar* r = var("r", 3);
  Ivar* en = var("en");
  ASSERT_TRUE(ref(p, Err, e));
  ASSERT_TRUE(ref(p, Res, r));
  ASSERT_TRUE(ref(p, En, en));
  ASSERT_TRUE(num(p, Tuning, ptype::Select, 1));  // "Auto": no effect
  for (auto [row, k] : {std::pair{K0, 1.0f}, {Kp, 2.0f}, {Kd, 1.0f}, {Ki, 0.5f}})
    ASSERT_TRUE(flt(p, row, k));
  r->set(3, 9.0f);
  // Date, error, enable; output, P, D, I. The first scan clears the
  // integrator and has no differential step.
  drive(p, {{nullptr}, {e}, {en}}, {{r, 0}, {r, 1}, {r, 2}, {r, 3}},
        {{0, 3, 1, 8.5f, 6, 0, 1.5f},
         {0, 7, X, 24, 14, 4, 5},
         {0, X, X, 23.5f, 14, 0, 8.5f},
         {0, 1, 0, 23.5f, 14, 0, 8.5f},  // 0 holds, the last error too
         {0, X, 1, 6, 2, -6, 9},
         {0, X, 2, 3.5f, 2, 0, 0.5f},  // 2 resets before every step
         {0, X, X, 3.5f, X, X, 0.5f}});
  ASSERT_TRUE(num(p, Interval, ptype::Time, 10));
  drive(p, {{nullptr}, {en}}, {{r, 3}}, {{8003, 1, 0.5f}, {8010, X, 1}});
  gen_loop_int[0] = 100;  // a fast loop ignores the interval
  drive(p, {{nullptr}}, {{r, 3}}, {{8011, 1.5f}});
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
  start_run();
  engine_scan();
  engine_scan();
  EXPECT_EQ(r->get(3), 4.0f);
  ASSERT_TRUE(num(p, Interval, ptype::Time, 86400));
  e->set(0, 5.0f);
  start_run();  // no step runs until midnight, but the run still resets
  engine_scan();
  EXPECT_EQ(r->get(3), 0.0f);
  ASSERT_TRUE(num(p, Interval, ptype::Time, 0));
  engine_scan();
  EXPECT_EQ(r->get(2), 0.0f);
  EXPECT_EQ(r->get(3), 5.0f);
}
