#include <vector>

#include "tests/support/inst_fixture.h"

using InstModulators = InstTest;
using V = std::vector<int>;

namespace {
// Cell k of out after each of n scans with the input held at x.
V hold(Control* c, Ivar* in, Ivar* out, float x, int n, u16 k = 0) {
  V v;
  in->set(0, x);
  for (int i = 0; i < n; ++i) {
    c->execute();
    v.push_back(int(out->get(k)));
  }
  return v;
}
int count(const V& v) { return int(std::count(v.begin(), v.end(), 1)); }
}  // namespace

TEST_F(InstModulators, OnoffDelaysAndMinimumTimes) {
  Control* c = add(6);
  Ivar* in = var("in");
  Ivar* out = var("out");
  ASSERT_TRUE(ref(c, 0, in));
  ASSERT_TRUE(ref(c, 1, out));
  EXPECT_EQ(hold(c, in, out, 0.6f, 2), (V{1, 1}));  // all times 0
  EXPECT_EQ(hold(c, in, out, 0.5f, 1), (V{0}));
  ASSERT_TRUE(num(c, 4, ptype::Time, 3));  // off-to-on delay
  EXPECT_EQ(hold(c, in, out, 1.0f, 2), (V{0, 0}));
  EXPECT_EQ(hold(c, in, out, 0.0f, 1), (V{0}));  // a dip restarts the count
  EXPECT_EQ(hold(c, in, out, 1.0f, 5), (V{0, 0, 0, 1, 1}));
  ASSERT_TRUE(num(c, 4, ptype::Dec, 0));
  ASSERT_TRUE(num(c, 3, ptype::Dec, 5));  // minimum on time
  hold(c, in, out, 0.0f, 1);
  EXPECT_EQ(hold(c, in, out, 1.0f, 1), (V{1}));
  EXPECT_EQ(hold(c, in, out, 0.0f, 6), (V{1, 1, 1, 1, 0, 0}));
}

TEST_F(InstModulators, PwmFramesMinimumAndDisabled) {
  Control* c = add(7);
  Ivar* in = var("in");
  Ivar* out = var("out");
  ASSERT_TRUE(ref(c, 0, in));
  ASSERT_TRUE(ref(c, 1, out));
  out->set(0, 5.0f);
  EXPECT_EQ(hold(c, in, out, 0.5f, 3), (V{5, 5, 5}));  // F = 0: never written
  ASSERT_TRUE(num(c, 2, ptype::Dec, 10));
  hold(c, in, out, 0.0f, 9);  // to the end of the first frame
  EXPECT_EQ(hold(c, in, out, 0.3f, 10), (V{1, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(count(hold(c, in, out, 0.7f, 10)), 7);  // single precision: not 6
  EXPECT_EQ(count(hold(c, in, out, 0.05f, 10)), 0);
  EXPECT_EQ(count(hold(c, in, out, -0.5f, 10)), 0);
  EXPECT_EQ(count(hold(c, in, out, 1.5f, 10)), 10);
  ASSERT_TRUE(num(c, 3, ptype::Time, 2));
  EXPECT_EQ(count(hold(c, in, out, 0.15f, 10)), 0);
  EXPECT_EQ(count(hold(c, in, out, 0.25f, 10)), 2);
}

TEST_F(InstModulators, TimeposTravelDeadBandAndResync) {
  Control* c = add(8);
  Ivar* in = var("in");
  Ivar* r = var("r", 1);
  ASSERT_TRUE(ref(c, 0, in));
  ASSERT_TRUE(ref(c, 1, r));
  EXPECT_EQ(count(hold(c, in, r, 0.5f, 31, 1)), 30);  // open for 30 scans
  EXPECT_EQ(r->get(0) + r->get(1), 0.0f);             // then stopped at 30
  EXPECT_EQ(count(hold(c, in, r, 0.51f, 5, 1)), 0);   // inside the dead band
  EXPECT_EQ(count(hold(c, in, r, 0.45f, 10, 0)), 3);  // 27: close 3 scans
  EXPECT_EQ(hold(c, in, r, 2.0f, 1, 0), (V{1}));      // re-synchronise at 0
  ASSERT_TRUE(num(c, 3, ptype::Dec, 5));               // dead band 5
  EXPECT_EQ(count(hold(c, in, r, 0.9375f, 60, 1)), 56);
  EXPECT_EQ(count(hold(c, in, r, 1.0f, 10, 1)), 4);  // 4 < 5, yet full open is driven home
  V closed = hold(c, in, r, 0.0f, 80, 0);             // demand 0 holds closing
  EXPECT_EQ(count(closed), 80);
  EXPECT_EQ(r->get(1), 0.0f);
}
