#include "instructions/correct.h"
#include "tests/support/inst_fixture.h"

namespace {

class InstCorrect : public InstTest {
 protected:
  // A Correct with every required reference set and offset-and-gain type.
  void SetUp() override {
    InstTest::SetUp();
    c = add(19);
    in = var("in");
    out = var("out");
    exp = var("exp", 1);
    cap = var("cap", 3);
    ctl = var("ctl");
    type = var("type");
    ref(c, 0, in);
    ref(c, 1, out);
    ref(c, 2, exp);
    ref(c, 3, cap);
    ref(c, 4, ctl);
    ref(c, 5, type);
    type->set(0, 2);
    exp->set(0, 0);
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

TEST_F(InstCorrect, RowsAndClamps) {
  EXPECT_STREQ(c->dparam(),
               "Uncorrected input}Corrected result}Expected cal response}Captured cal response}"
               "Cal capture control}Correction type}Low capture match}High capture match}"
               "Number average elements");
  EXPECT_EQ(get(c, 6).type, ptype::Hex);
  EXPECT_EQ(get(c, 6).value, 49u);
  EXPECT_EQ(get(c, 7).value, 81u);
  EXPECT_EQ(get(c, 8).value, 2u);
  EXPECT_FALSE(num(c, 6, ptype::Dec, 5));
  EXPECT_TRUE(num(c, 8, ptype::Dec, 1));
  EXPECT_EQ(get(c, 8).value, 2u);
  EXPECT_TRUE(num(c, 8, ptype::Dec, 1000));
  EXPECT_EQ(get(c, 8).value, 128u);
  EXPECT_FALSE(c->resize(3));

  Ivar* big = var("big");
  ref(c, 2, big, 65535);
  EXPECT_EQ(get_ref(c, 2).index, 65534);
  ref(c, 3, big, 65535);
  EXPECT_EQ(get_ref(c, 3).index, 65532);
  EXPECT_EQ(big->size, 65535);
}

TEST_F(InstCorrect, FirstScanOfARunResetsTheCalibration) {
  cap->set(2, 7);  // a stale offset and gain
  cap->set(3, 3);
  engine_start();
  in->set(0, 42);
  engine_scan();
  EXPECT_EQ(out->get(0), 42.0f);  // identity on the first scan
  EXPECT_EQ(cap->get(0), 0.0f);
  EXPECT_EQ(cap->get(1), 100.0f);
  EXPECT_EQ(cap->get(2), 0.0f);
  EXPECT_EQ(cap->get(3), 1.0f);
  // Later scans keep what the operator puts there.
  cap->set(2, 5);
  engine_scan();
  EXPECT_EQ(cap->get(2), 5.0f);
  EXPECT_EQ(out->get(0), 47.0f * 1.0f);
}

TEST_F(InstCorrect, TwoPointCaptureGivesTheLineThroughTheReferences) {
  num(c, 8, ptype::Dec, 4);
  new_run();
  step(0);  // first scan: identity calibration
  // Low reference applied: the sensor reads 2 for an expected 0.
  for (int i = 0; i < 4; ++i) step(2);
  ctl->set(0, 49);  // compared as a float with the low match
  step(2);
  EXPECT_EQ(cap->get(0), 2.0f);
  ctl->set(0, 0);
  // High reference: reads 52 for an expected 100.
  for (int i = 0; i < 4; ++i) step(52);
  ctl->set(0, 81);
  step(52);
  ctl->set(0, 0);
  EXPECT_EQ(cap->get(1), 52.0f);
  EXPECT_EQ(cap->get(2), -2.0f);
  EXPECT_EQ(cap->get(3), 2.0f);
  EXPECT_EQ(step(2), 0.0f);
  EXPECT_EQ(step(52), 100.0f);
  EXPECT_EQ(step(27), 50.0f);
  type->set(0, 1);  // offset only
  EXPECT_EQ(step(27), 25.0f);
  type->set(0, 9);  // above 2: offset and gain
  EXPECT_EQ(step(27), 50.0f);
  type->set(0, 0);
  EXPECT_EQ(step(27), 27.0f);

  // A capture right after the length changed averages a buffer still
  // partly zero.
  num(c, 8, ptype::Dec, 4);
  ctl->set(0, 49);
  step(12);
  EXPECT_EQ(cap->get(0), 3.0f);  // (12 + 0 + 0 + 0) / 4
}

TEST_F(InstCorrect, DegenerateReferencesGiveTheIdentity) {
  new_run();
  step(0);
  exp->set(1, 0);  // expected low == expected high
  ctl->set(0, 81);
  step(30);
  EXPECT_EQ(cap->get(2), 0.0f);
  EXPECT_EQ(cap->get(3), 1.0f);
  EXPECT_EQ(step(30), 30.0f);
  // Equal captured responses, and an unset required reference.
  exp->set(1, 100);
  cap->set(0, 30);
  step(30);
  EXPECT_EQ(cap->get(3), 1.0f);
  ref(c, 4, nullptr);
  out->set(0, -1);
  step(5);
  EXPECT_EQ(out->get(0), -1.0f);
}
