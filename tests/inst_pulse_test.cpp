#include "tests/support/inst_fixture.h"

using InstPulse = InstTest;

TEST_F(InstPulse, LengthRestartAndShortening) {
  Control* c = add(18);
  Ivar* t = var("t");
  Ivar* o = var("o");
  ASSERT_TRUE(ref(c, 0, t));
  ASSERT_TRUE(ref(c, 1, o));
  ASSERT_TRUE(num(c, 2, ptype::Dec, 3));
  ASSERT_TRUE(flt(c, 3, -1.0f));
  t->set(0, 3.0f);
  // Trigger before the scan, output after. A trigger away from the idle
  // state at the start of a run pulses on the first scan.
  drive(c, {{t}}, {{o}},
        {{X, 3}, {X, 3}, {X, 3}, {X, -1}, {1, 1}, {X, 1}, {4, 4}, {X, 4}, {X, 4}, {X, -1}});
  ASSERT_TRUE(num(c, 2, ptype::Time, 10));
  drive(c, {{t}}, {{o}}, {{5, 5}, {X, 5}});
  ASSERT_TRUE(num(c, 2, ptype::Time, 2));  // shortens the pulse in progress
  drive(c, {{t}}, {{o}}, {{X, 5}, {X, -1}});
  ASSERT_TRUE(num(c, 2, ptype::Time, 10));
  drive(c, {{t}}, {{o}}, {{6, 6}});
  ASSERT_TRUE(num(c, 2, ptype::Time, 0));  // ends it at once (not never)
  drive(c, {{t}}, {{o}}, {{X, -1}, {7, -1}});  // and sets and resets in one scan
}
