#include "tests/support/inst_fixture.h"

using InstAlarm = InstTest;

TEST_F(InstAlarm, MasterRisesOnNewAlarmsOnly) {
  Control* a = add(27);
  Ivar* m = var("m");
  Ivar* al = var("al", 2);
  ASSERT_TRUE(ref(a, 0, m));
  ASSERT_TRUE(ref(a, 1, al));
  ASSERT_TRUE(num(a, 2, ptype::Dec, 3));
  // Alarms 0..2 and the master as written before the scan; the master after.
  drive(a, {{al, 0}, {al, 1}, {al, 2}, {m}}, {{m}},
        {{1, 0, 5, X, 1},      // two at once: raised once
         {X, X, X, 0, 0},      // acknowledged while they persist
         {X, -2, X, X, 1},     // a new one
         {0, X, X, 0, 0},      // one goes off...
         {1, X, X, X, 1},      // ...and on again: new
         {0, -0.0f, 0, 7, 0},  // none active (-0 is inactive)
         {1, X, X, X, 1},
         {X, X, X, 0, 0}});
  ASSERT_TRUE(num(a, 2, ptype::Dec, 2));  // a new count: active alarms are new
  drive(a, {}, {{m}}, {{1}});
}
