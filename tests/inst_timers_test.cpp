#include "tests/support/inst_fixture.h"

using InstTimer = InstTest;
using InstCounter = InstTest;

TEST_F(InstTimer, CommandsLimitsAndClockRestarts) {
  Control* t = add(12);
  Ivar* tm = var("tm");
  Ivar* c = var("c");
  ASSERT_TRUE(ref(t, 1, tm));
  drive(t, {}, {{tm}}, {{16777215}, {16777215}});  // no Control: runs, at the top
  ASSERT_TRUE(ref(t, 0, c));
  drive(t, {{c}}, {{tm}}, {{0, 0}, {1, 1}, {1, 2}, {0.5f, 2}, {2, 16777215}});
  ASSERT_TRUE(num(t, 4, ptype::Select, 1));
  new_run();  // a down timer starts at 0 and stops there
  drive(t, {{c}, {tm}}, {{tm}}, {{1, 5, 0}, {X, 1, 0}, {X, X, 0}});

  // Interval 60, offset 5: restarts at every minute's fifth second, and
  // never by the clock in a loop faster than a second.
  ASSERT_TRUE(num(t, 2, ptype::Time, 5));
  ASSERT_TRUE(num(t, 3, ptype::Time, 60));
  drive(t, {{nullptr}}, {{tm}}, {{65, 59}, {66, 58}, {125, 59}});
  gen_loop_int[0] = 500;
  drive(t, {{nullptr}}, {{tm}}, {{185, 58}});
}

TEST_F(InstCounter, AccumulateWrapsAndInvalidates) {
  Control* k = add(2);
  Ivar* in = var("in");
  Ivar* res = var("res");
  Ivar* en = var("en");
  ASSERT_TRUE(ref(k, 0, in));
  ASSERT_TRUE(ref(k, 1, res));
  // Input before, input and result after. The first scan has no reading,
  // and neither has 65535.
  drive(k, {{in}}, {{in}, {res}},
        {{100, 65535, 0}, {65534, X, 0}, {3, X, 5}, {65535, X, 5}, {10, X, 12}, {11, X, 13}});
  ASSERT_TRUE(ref(k, 2, en));  // enable other than 1: no growth, no jump
  drive(k, {{in}, {en}}, {{in}, {res}}, {{50, 0, 65535, 13}, {60, 1, X, 13}, {61, X, X, 14}});
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
  // Date, input, update; result. The rate needs a changed update and P s.
  drive(k, {{nullptr}, {in}, {up}}, {{res}},
        {{1000, 0, 0, 0}, {1001, 1000, 0, 0}, {1005, 1200, 1, 0}, {1011, X, 0, 0},
         {1021, 1400, 2, 20}});
}

TEST_F(InstCounter, BaseModeTakesASetValue) {
  Control* k = add(2);
  Ivar* v = var("v", 3);  // input, result, set, base
  for (u16 r = 0; r < 4; ++r) ASSERT_TRUE(ref(k, r, v, r));
  ASSERT_TRUE(num(k, 4, ptype::Time, 0));
  drive(k, {{v, 0}, {v, 2}}, {{v, 1}, {v, 2}, {v, 3}},
        {{100, X, 100, 0, 0}, {X, 500, 500, 0, 65136}, {130, X, 530, 0, 65136}});
}
