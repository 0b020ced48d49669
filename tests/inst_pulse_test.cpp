#include "tests/support/inst_fixture.h"

using InstPulse = InstTest;

namespace {
struct PulseRig {
  Control* c;
  Ivar* trig;
  Ivar* out;
};
}  // namespace

TEST_F(InstPulse, RowsAndTypes) {
  Control* p = add(18);
  EXPECT_STREQ(p->dparam(), "Trigger}Pulse}Duration time}Idle state");
  ASSERT_TRUE(num(p, 2, ptype::Time, 7));
  EXPECT_EQ(get(p, 2).type, ptype::Dec);
  EXPECT_EQ(get(p, 2).value, 7u);
  EXPECT_FALSE(flt(p, 2, 3.0f));
  EXPECT_FALSE(num(p, 3, ptype::Dec, 1));
  ASSERT_TRUE(flt(p, 3, -1.5f));
  EXPECT_EQ(get(p, 3).f(), -1.5f);
  Iparam q;
  EXPECT_FALSE(p->gparam(&q, 0, 4));
  EXPECT_FALSE(p->gparam(&q, 1, 0));
}

TEST_F(InstPulse, PulseLengthRestartAndShortening) {
  PulseRig r{add(18), var("t"), var("o")};
  ASSERT_TRUE(ref(r.c, 0, r.trig));
  ASSERT_TRUE(ref(r.c, 1, r.out));
  ASSERT_TRUE(num(r.c, 2, ptype::Dec, 3));

  scan(r.c);  // first scan: idle
  EXPECT_EQ(r.out->get(0), 0.0f);
  r.trig->set(0, 1.0f);
  for (int s = 0; s < 3; ++s) {
    scan(r.c);
    EXPECT_EQ(r.out->get(0), 1.0f) << "scan " << s;
  }
  scan(r.c);
  EXPECT_EQ(r.out->get(0), 0.0f);
  scan(r.c);
  EXPECT_EQ(r.out->get(0), 0.0f);

  // A new change during a pulse restarts it with the new value.
  r.trig->set(0, 0.0f);
  scan(r.c);
  scan(r.c);
  r.trig->set(0, 4.0f);
  scan(r.c);
  EXPECT_EQ(r.out->get(0), 4.0f);
  scan(r.c);
  scan(r.c);
  EXPECT_EQ(r.out->get(0), 4.0f);
  scan(r.c);
  EXPECT_EQ(r.out->get(0), 0.0f);

  // Lowering the duration shortens the pulse in progress...
  ASSERT_TRUE(num(r.c, 2, ptype::Dec, 10));
  r.trig->set(0, 5.0f);
  scan(r.c);
  scan(r.c);
  ASSERT_TRUE(num(r.c, 2, ptype::Dec, 2));
  scan(r.c);
  EXPECT_EQ(r.out->get(0), 5.0f);
  scan(r.c);
  EXPECT_EQ(r.out->get(0), 0.0f);
  // ...and lowering it to 0 ends it at once instead of never.
  ASSERT_TRUE(num(r.c, 2, ptype::Dec, 10));
  r.trig->set(0, 6.0f);
  scan(r.c);
  ASSERT_TRUE(num(r.c, 2, ptype::Dec, 0));
  scan(r.c);
  EXPECT_EQ(r.out->get(0), 0.0f);

  // Duration 0: set and reset within the same scan.
  r.trig->set(0, 7.0f);
  scan(r.c);
  EXPECT_EQ(r.out->get(0), 0.0f);
}

TEST_F(InstPulse, TriggerAwayFromIdleAtRunStartPulses) {
  PulseRig r{add(18), var("t"), var("o")};
  ASSERT_TRUE(ref(r.c, 0, r.trig));
  ASSERT_TRUE(ref(r.c, 1, r.out));
  ASSERT_TRUE(num(r.c, 2, ptype::Dec, 2));
  ASSERT_TRUE(flt(r.c, 3, -1.0f));
  r.trig->set(0, 3.0f);
  r.out->set(0, 9.0f);
  engine_start();
  engine_scan();
  EXPECT_EQ(r.out->get(0), 3.0f);
  engine_scan();
  EXPECT_EQ(r.out->get(0), 3.0f);
  engine_scan();
  EXPECT_EQ(r.out->get(0), -1.0f);
  // A new run starts over from the idle state.
  engine_start();
  engine_scan();
  EXPECT_EQ(r.out->get(0), 3.0f);
}
