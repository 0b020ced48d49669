#include "instructions/correct.h"
#include "tests/support/inst_fixture.h"

namespace {

// A Correct with every reference set, expecting 0 low and 100 high, in
// offset-and-gain mode.
class InstCorrect : public InstTest {
 protected:
  void SetUp() override {
    InstTest::SetUp();
    c = add(19);
    Ivar** vars[6] = {&in, &out, &exp, &cap, &ctl, &type};
    const char* names[6] = {"in", "out", "exp", "cap", "ctl", "type"};
    for (u16 r = 0; r < 6; ++r) ref(c, r, *vars[r] = var(names[r]));
    type->set(0, 2);
    exp->set(1, 100);
  }
  float step(float x) {
    in->set(0, x);
    scan(c);
    return out->get(0);
  }
  Control* c;
  Ivar *in, *out, *exp, *cap, *ctl, *type;
};

}  // namespace

TEST_F(InstCorrect, RowsAndBlocks) {
  EXPECT_EQ(cap->size, 3);
  EXPECT_EQ(get(c, 7).value, 81u);
  num(c, 8, ptype::Dec, 1000);
  EXPECT_EQ(get(c, 8).value, 128u);
  Ivar* big = var("big");
  ref(c, 2, big, 65535);
  ref(c, 3, big, 65535);
  EXPECT_EQ(get_ref(c, 2).index, 65534);
  EXPECT_EQ(get_ref(c, 3).index, 65532);
}

TEST_F(InstCorrect, FirstScanOfARunResetsTheCalibration) {
  cap->set(2, 7);  // a stale offset and gain
  cap->set(3, 3);
  engine_start();
  in->set(0, 42);
  engine_scan();
  EXPECT_EQ(out->get(0), 42.0f);
  const float reset[4] = {0, 100, 0, 1};
  for (u16 i = 0; i < 4; ++i) EXPECT_EQ(cap->get(i), reset[i]) << i;
  cap->set(2, 5);  // later scans use what the operator puts there
  engine_scan();
  EXPECT_EQ(out->get(0), 47.0f);
}

TEST_F(InstCorrect, TwoPointCapture) {
  num(c, 8, ptype::Dec, 4);
  new_run();
  // Low reference reads 2, high reads 52; each captured over a full buffer.
  for (float reading : {2.0f, 52.0f}) {
    for (int i = 0; i < 4; ++i) step(reading);
    ctl->set(0, reading == 2 ? 49.0f : 81.0f);  // compared as floats
    step(reading);
    ctl->set(0, 0);
  }
  EXPECT_EQ(cap->get(0), 2.0f);
  EXPECT_EQ(cap->get(1), 52.0f);
  EXPECT_EQ(cap->get(2), -2.0f);
  EXPECT_EQ(cap->get(3), 2.0f);
  EXPECT_EQ(step(2), 0.0f);
  EXPECT_EQ(step(52), 100.0f);
  EXPECT_EQ(step(27), 50.0f);
  type->set(0, 1);  // offset only
  EXPECT_EQ(step(27), 25.0f);
  // Right after the length is set the buffer is still mostly zero.
  num(c, 8, ptype::Dec, 4);
  ctl->set(0, 49);
  step(12);
  EXPECT_EQ(cap->get(0), 3.0f);

  // Equal expected values, then equal captures, give the identity.
  exp->set(1, 0);
  step(12);
  EXPECT_EQ(cap->get(2), 0.0f);
  EXPECT_EQ(cap->get(3), 1.0f);
  exp->set(1, 100);
  ctl->set(0, 0);
  for (int i = 0; i < 4; ++i) step(12);
  cap->set(0, 12);
  ctl->set(0, 81);
  step(12);
  EXPECT_EQ(cap->get(1), 12.0f);
  EXPECT_EQ(cap->get(3), 1.0f);
  EXPECT_EQ(step(12), 12.0f);
  ref(c, 4, nullptr);  // a required reference unset: nothing happens
  EXPECT_EQ(step(5), 12.0f);
}
