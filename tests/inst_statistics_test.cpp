#include <cmath>

#include "instructions/statistics.h"
#include "tests/support/inst_fixture.h"

namespace {

constexpr float NO_DATA = 16777215.0f;

class InstStatistics : public InstTest {
 protected:
  void SetUp() override {
    InstTest::SetUp();
    in = var("in", 1);
    res = var("res", 1);
    ctl = var("ctl");
  }
  // An instruction of the type with R calculations, Input and Results set.
  Control* make(u16 type, u16 r) {
    Control* c = add(type, r);
    ref(c, 0, in);
    ref(c, 1, res);
    return c;
  }
  // Feeds one sample (value, status) and scans.
  void feed(Control* c, float v, float s = 0) {
    in->set(0, v);
    in->set(1, s);
    scan(c);
  }
  float value(u16 calc) { return res->get(u16(2 * calc)); }
  float status(u16 calc) { return res->get(u16(2 * calc + 1)); }
  Ivar *in, *res, *ctl;
};

}  // namespace

TEST_F(InstStatistics, CircbufRowsAndBlocks) {
  Control* c = make(14, 0);
  EXPECT_EQ(static_cast<Circbuf*>(c)->group_count(), 1);
  EXPECT_EQ(res->size, 1);
  num(c, 4, ptype::Dec, 10);
  num(c, 1, ptype::Dec, 25, 1);  // N capped at L
  EXPECT_EQ(get(c, 1, 1).value, 10u);
  c->resize(4);  // keeps the first calculation, grows the results block
  EXPECT_EQ(get(c, 1, 1).value, 10u);
  EXPECT_EQ(res->size, 7);

  Ivar* big = var("big");
  ref(c, 1, big, 65535);
  EXPECT_EQ(get_ref(c, 1).index, 65528);
  c->resize(1000);
  EXPECT_EQ(static_cast<Circbuf*>(c)->group_count(), 128);
  EXPECT_EQ(get_ref(c, 1).index, 65535 - 255);

  // A buffer shortened below N is walked once, not past its end.
  ref(c, 1, res);
  c->resize(1);
  num(c, 0, ptype::Select, stats::NumValid, 1);
  num(c, 4, ptype::Dec, 3);
  feed(c, 1);
  feed(c, 2);
  EXPECT_EQ(value(0), 2.0f);
}

TEST_F(InstStatistics, CircbufOverTheNewestSamples) {
  Control* c = make(14, 4);
  num(c, 4, ptype::Dec, 4);
  const u16 types[4] = {stats::Average, stats::NumValid, stats::Maximum, stats::StdDev};
  for (u16 g = 1; g <= 4; ++g) {
    num(c, 0, ptype::Select, types[g - 1], g);
    num(c, 1, ptype::Dec, 3, g);  // over the newest 3
    num(c, 2, ptype::Dec, 2, g);  // 2 valid for a valid status
  }
  feed(c, 10);  // the other entries are cleared: invalid, no status
  EXPECT_EQ(value(0), 10.0f);
  EXPECT_EQ(value(1), 1.0f);
  EXPECT_EQ(value(3), 0.0f);
  EXPECT_EQ(status(0), NO_DATA);
  for (float v : {20.0f, 30.0f, 40.0f}) feed(c, v);
  EXPECT_EQ(value(0), 30.0f);
  EXPECT_EQ(value(2), 40.0f);
  EXPECT_FLOAT_EQ(value(3), 10.0f);
  EXPECT_EQ(status(0), 0.0f);
  feed(c, 1000, 4);  // statuses above 0 are invalid
  EXPECT_EQ(value(0), 35.0f);
  feed(c, 1000, 8);
  EXPECT_EQ(value(0), 40.0f);
  EXPECT_EQ(status(0), 12.0f);  // too few valid: OR of the invalid

  // Control: 0 idle, 2 sample only, 4 overwrite the newest, 3 clear after.
  auto* cb = static_cast<Circbuf*>(c);
  ref(c, 2, ctl);
  const u16 at = cb->write_index();
  ctl->set(0, 0);
  feed(c, 50);
  EXPECT_EQ(cb->write_index(), at);
  ctl->set(0, 2);
  feed(c, 50);
  EXPECT_EQ(value(0), 40.0f);
  ctl->set(0, 4);
  feed(c, 60);  // 60, 50 and an invalid one
  EXPECT_EQ(value(0), 55.0f);
  feed(c, 70);  // replaces 60
  EXPECT_EQ(value(0), 60.0f);
  ctl->set(0, 3);
  feed(c, 80);
  EXPECT_EQ(value(0), 65.0f);
  ctl->set(0, 1);
  feed(c, 5, 9);  // after the clear only an invalid sample: no value
  EXPECT_EQ(value(0), 65.0f);
  EXPECT_EQ(value(1), 0.0f);  // # valid is always written
  EXPECT_EQ(status(0), 9.0f);
}

TEST_F(InstStatistics, CircularAverageAndSpread) {
  Control* c = make(14, 2);
  num(c, 4, ptype::Dec, 2);
  for (u16 g = 1; g <= 2; ++g) {
    num(c, 0, ptype::Select, g == 1 ? stats::CircAvg : stats::CircStdDev, g);
    num(c, 1, ptype::Dec, 2, g);
  }
  feed(c, 350);
  EXPECT_EQ(value(1), 0.0f);  // spread of one sample
  feed(c, 10);
  EXPECT_TRUE(value(0) < 0.01f || value(0) > 359.99f) << value(0);
  EXPECT_GT(value(1), 1.0f);
  EXPECT_LT(value(1), 20.0f);
}

TEST_F(InstStatistics, StatAccumulatesUntilReset) {
  Stat* c = static_cast<Stat*>(make(24, 3));
  EXPECT_EQ(res->size, 5);
  const u16 types[3] = {stats::Average, stats::Difference, stats::StdDev};
  for (u16 g = 1; g <= 3; ++g) num(c, 0, ptype::Select, types[g - 1], g);
  num(c, 4, ptype::Dec, 2);  // minimum valid
  feed(c, 5);                // Control unset: nothing
  EXPECT_EQ(c->count(), 0u);

  ref(c, 2, ctl);
  ctl->set(0, 1);
  feed(c, 4);
  EXPECT_EQ(value(0), 4.0f);
  EXPECT_EQ(value(2), 0.0f);      // std dev of one sample
  EXPECT_EQ(status(0), NO_DATA);  // too few valid, nothing invalid yet
  feed(c, 99, 1);                 // max valid status 0: invalid
  EXPECT_EQ(status(0), 1.0f);
  feed(c, 8);
  EXPECT_EQ(c->count(), 2u);
  EXPECT_EQ(value(0), 6.0f);
  EXPECT_EQ(value(1), 4.0f);
  EXPECT_FLOAT_EQ(value(2), std::sqrt(8.0f));
  EXPECT_EQ(status(0), 0.0f);

  ctl->set(0, 2);  // sample only
  feed(c, 12);
  EXPECT_EQ(value(0), 6.0f);
  ctl->set(0, 3);  // clear first
  feed(c, 50);
  EXPECT_EQ(value(0), 50.0f);

  // A resize resets on the next scan; a wider valid status admits more.
  c->resize(3);
  num(c, 3, ptype::Hex, 3);
  ctl->set(0, 1);
  feed(c, 1, 2);
  feed(c, 3, 3);
  EXPECT_EQ(c->count(), 2u);
  EXPECT_EQ(value(0), 2.0f);
  EXPECT_EQ(status(0), 3.0f);  // OR of the valid statuses
  feed(c, 3, std::nanf(""));   // a NaN status is no data
  EXPECT_EQ(c->count(), 2u);
  // The count does not wrap at 65536 samples: the mean stays right.
  for (int i = 0; i < 70000; ++i) feed(c, 2, 0);
  EXPECT_EQ(c->count(), 70002u);
  EXPECT_FLOAT_EQ(value(0), 2.0f);
}
