#include <cmath>

#include "instructions/statistics.h"
#include "tests/support/inst_fixture.h"

namespace {

constexpr float NO_DATA = 16777215.0f;

class InstStatistics : public InstTest {
 protected:
  // Feeds one sample (value, status) and scans.
  void feed(Control* c, float v, float s = 0) {
    in->set(0, v);
    in->set(1, s);
    scan(c);
  }
  float value(u16 calc) { return res->get(u16(2 * calc)); }
  float status(u16 calc) { return res->get(u16(2 * calc + 1)); }
  void SetUp() override {
    InstTest::SetUp();
    in = var("in", 1);
    res = var("res", 1);
    ctl = var("ctl");
  }
  Ivar *in, *res, *ctl;
};

}  // namespace

TEST_F(InstStatistics, CircbufRowsResizeAndBlocks) {
  Circbuf* c = static_cast<Circbuf*>(add(14, 0));
  EXPECT_STREQ(c->dparam(),
               "Input}Results}Control}Max valid status}Circular buffer length}"
               "Calc type~Disable~Average~Std Dev~Maximum~Minimum~Difference~Total~Circ avg~"
               "Circ std dev~# valid}Number in calc}Minimum valid");
  Ilparam s;
  c->lparam(&s);
  EXPECT_EQ(s.rows, 5);
  EXPECT_EQ(s.group_rows, 3);
  EXPECT_EQ(s.groups, 1);  // 0 becomes 1
  num(c, 4, ptype::Dec, 10);
  num(c, 1, ptype::Dec, 25, 1);  // N capped at L
  EXPECT_EQ(get(c, 1, 1).value, 10u);
  num(c, 0, ptype::Select, 12, 1);
  EXPECT_EQ(get(c, 0, 1).value, 9u);
  c->resize(3);
  EXPECT_EQ(get(c, 1, 1).value, 10u);  // kept
  EXPECT_EQ(get(c, 1, 3).value, 0u);   // new
  c->resize(1000);
  c->lparam(&s);
  EXPECT_EQ(s.groups, 128);
  EXPECT_FALSE(num(c, 3, ptype::Dec, 1));  // Hex only

  // Results span 2R cells; the input a pair.
  Ivar* big = var("big");
  ASSERT_TRUE(ref(c, 1, big, 65535));
  EXPECT_EQ(get_ref(c, 1).index, 65535 - 255);
  c->resize(2);
  ref(c, 1, big, 65535);
  EXPECT_EQ(get_ref(c, 1).index, 65532);
  ref(c, 0, big, 65535);
  EXPECT_EQ(get_ref(c, 0).index, 65534);
  EXPECT_EQ(big->size, 65535);
  Ivar* r = var("r");
  ref(c, 1, r);
  c->resize(4);  // a resize grows the results block
  EXPECT_EQ(r->size, 7);
}

TEST_F(InstStatistics, CircbufOverTheNewestSamples) {
  Control* c = add(14, 4);
  ref(c, 0, in);
  ref(c, 1, res);
  num(c, 4, ptype::Dec, 4);
  const u16 types[4] = {stats::Average, stats::NumValid, stats::Maximum, stats::StdDev};
  for (u16 g = 1; g <= 4; ++g) {
    num(c, 0, ptype::Select, types[g - 1], g);
    num(c, 1, ptype::Dec, 3, g);  // the newest 3
    num(c, 2, ptype::Dec, 2, g);  // 2 valid for a valid status
  }
  // One sample: the other two entries are cleared, so invalid.
  feed(c, 10, 0);
  EXPECT_EQ(value(0), 10.0f);
  EXPECT_EQ(value(1), 1.0f);
  EXPECT_EQ(value(3), 0.0f);      // std dev of one sample
  EXPECT_EQ(status(0), NO_DATA);  // too few valid, no invalid status left
  feed(c, 20, 0);
  EXPECT_EQ(value(0), 15.0f);
  EXPECT_EQ(status(0), 0.0f);
  feed(c, 30, 0);
  feed(c, 40, 0);  // 10 falls out of the newest three
  EXPECT_EQ(value(0), 30.0f);
  EXPECT_EQ(value(2), 40.0f);
  EXPECT_FLOAT_EQ(value(3), 10.0f);

  // An invalid sample (status above the maximum valid status 0).
  feed(c, 1000, 4);
  EXPECT_EQ(value(0), 35.0f);
  EXPECT_EQ(value(1), 2.0f);
  EXPECT_EQ(status(0), 0.0f);
  feed(c, 1000, 8);
  EXPECT_EQ(value(0), 40.0f);
  EXPECT_EQ(status(0), 12.0f);  // OR of the invalid statuses

  // Control codes: 0 idle, 2 sample only, 4 overwrite the newest, 3 clear.
  ref(c, 2, ctl);
  const u16 at = static_cast<Circbuf*>(c)->write_index();
  ctl->set(0, 0);
  feed(c, 50, 0);
  EXPECT_EQ(static_cast<Circbuf*>(c)->write_index(), at);
  ctl->set(0, 2);
  res->set(0, -1);
  feed(c, 50, 0);
  EXPECT_EQ(res->get(0), -1.0f);
  ctl->set(0, 4);
  feed(c, 60, 0);  // newest three: 60, 50, 1000/8
  EXPECT_EQ(value(0), 55.0f);
  feed(c, 70, 0);  // replaces 60
  EXPECT_EQ(value(0), 60.0f);
  ctl->set(0, 3);
  feed(c, 80, 0);  // computed over 80, 50, then the ring is cleared
  EXPECT_EQ(value(0), 65.0f);
  ctl->set(0, 1);
  res->set(0, -1);
  feed(c, 5, 9);  // only an invalid sample: no value, its status
  EXPECT_EQ(res->get(0), -1.0f);
  EXPECT_EQ(value(1), 0.0f);  // # valid is always written
  EXPECT_EQ(status(0), 9.0f);
}

TEST_F(InstStatistics, CircularAverageAndSpread) {
  Control* c = add(14, 2);
  ref(c, 0, in);
  ref(c, 1, res);
  num(c, 4, ptype::Dec, 2);
  num(c, 0, ptype::Select, stats::CircAvg, 1);
  num(c, 1, ptype::Dec, 2, 1);
  num(c, 0, ptype::Select, stats::CircStdDev, 2);
  num(c, 1, ptype::Dec, 2, 2);
  feed(c, 350);
  EXPECT_EQ(value(1), 0.0f);  // spread of one sample
  feed(c, 10);
  const float avg = value(0);
  EXPECT_TRUE(avg < 0.01f || avg > 359.99f) << avg;
  EXPECT_GT(value(1), 0.0f);
  EXPECT_LT(value(1), 20.0f);
  feed(c, 90);
  feed(c, 90);
  EXPECT_NEAR(value(0), 90.0f, 1e-3);
  EXPECT_NEAR(value(1), 0.0f, 0.5f);
}

TEST_F(InstStatistics, StatAccumulatesUntilReset) {
  Stat* c = static_cast<Stat*>(add(24, 3));
  EXPECT_STREQ(c->dparam(),
               "Input}Results}Control}Max valid status}Minimum valid}"
               "Calc type~Disable~Average~Std Dev~Maximum~Minimum~Difference~Total~Circ avg~"
               "Circ std dev");
  ref(c, 0, in);
  ref(c, 1, res);
  EXPECT_EQ(res->size, 5);
  num(c, 0, ptype::Select, stats::Average, 1);
  num(c, 0, ptype::Select, stats::Difference, 2);
  num(c, 0, ptype::Select, 20, 3);  // clamped to Circ std dev
  EXPECT_EQ(get(c, 0, 3).value, 8u);
  num(c, 0, ptype::Select, stats::StdDev, 3);
  num(c, 4, ptype::Dec, 2);  // minimum valid
  feed(c, 5, 0);             // Control unset: nothing
  EXPECT_EQ(c->count(), 0u);

  ref(c, 2, ctl);
  ctl->set(0, 1);
  feed(c, 4, 0);
  EXPECT_EQ(value(0), 4.0f);
  EXPECT_EQ(value(2), 0.0f);      // std dev of one sample
  EXPECT_EQ(status(0), NO_DATA);  // below minimum valid, nothing invalid yet
  feed(c, 99, 1);                 // max valid status 0: status 1 is invalid
  EXPECT_EQ(c->count(), 1u);
  EXPECT_EQ(status(0), 1.0f);
  feed(c, 8, 0);
  EXPECT_EQ(value(0), 6.0f);
  EXPECT_EQ(value(1), 4.0f);
  EXPECT_FLOAT_EQ(value(2), std::sqrt(8.0f));
  EXPECT_EQ(status(0), 0.0f);

  ctl->set(0, 2);  // sample only
  feed(c, 12, 0);
  EXPECT_EQ(value(0), 6.0f);
  ctl->set(0, 0);  // idle
  feed(c, 100, 0);
  EXPECT_EQ(c->count(), 3u);
  ctl->set(0, 3);  // clear first, then this sample
  feed(c, 50, 0);
  EXPECT_EQ(c->count(), 1u);
  EXPECT_EQ(value(0), 50.0f);
  EXPECT_EQ(value(1), 0.0f);

  // A resize resets on the next scan; a wider maximum valid status admits more.
  c->resize(3);
  num(c, 3, ptype::Hex, 3);
  ctl->set(0, 1);
  feed(c, 1, 2);
  EXPECT_EQ(c->count(), 1u);
  feed(c, 3, 3);
  EXPECT_EQ(value(0), 2.0f);
  EXPECT_EQ(status(0), 3.0f);  // OR of the valid statuses
  feed(c, 3, std::nanf(""));   // a NaN status is no data, not valid
  EXPECT_EQ(c->count(), 2u);
}
