#include <vector>

#include "tests/support/inst_fixture.h"

using InstModulators = InstTest;

namespace {
// Output of n scans with the input held at x.
std::vector<int> hold(Control* c, Ivar* in, Ivar* out, float x, int n) {
  std::vector<int> v;
  in->set(0, x);
  for (int i = 0; i < n; ++i) {
    c->execute();
    v.push_back(int(out->get(0)));
  }
  return v;
}
using V = std::vector<int>;
}  // namespace

TEST_F(InstModulators, OnoffDelaysAndMinimumTimes) {
  Control* c = add(6);
  EXPECT_STREQ(c->dparam(), "Input}Result}Off time}On time}Off to on delay}On to off delay");
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
  EXPECT_EQ(hold(c, in, out, 0.0f, 1), (V{0}));
  EXPECT_EQ(hold(c, in, out, 1.0f, 1), (V{1}));
  EXPECT_EQ(hold(c, in, out, 0.0f, 6), (V{1, 1, 1, 1, 0, 0}));
}

TEST_F(InstModulators, PwmFramesMinimumAndDisabled) {
  Control* c = add(7);
  EXPECT_STREQ(c->dparam(), "Control input}Control result}Frame time}Minimum time");
  Ivar* in = var("in");
  Ivar* out = var("out");
  ASSERT_TRUE(ref(c, 0, in));
  ASSERT_TRUE(ref(c, 1, out));
  out->set(0, 5.0f);
  EXPECT_EQ(hold(c, in, out, 0.5f, 3), (V{5, 5, 5}));  // F = 0: never written

  ASSERT_TRUE(num(c, 2, ptype::Dec, 10));
  hold(c, in, out, 0.0f, 9);  // to the end of a frame
  EXPECT_EQ(hold(c, in, out, 0.3f, 20),
            (V{1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(hold(c, in, out, 0.7f, 10), (V{1, 1, 1, 1, 1, 1, 1, 0, 0, 0}));
  EXPECT_EQ(hold(c, in, out, 0.05f, 10), V(10, 0));
  EXPECT_EQ(hold(c, in, out, -0.5f, 10), V(10, 0));
  EXPECT_EQ(hold(c, in, out, 1.5f, 10), V(10, 1));
  ASSERT_TRUE(num(c, 3, ptype::Time, 2));
  EXPECT_EQ(hold(c, in, out, 0.15f, 10), V(10, 0));
  EXPECT_EQ(hold(c, in, out, 0.25f, 10), (V{1, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(InstModulators, TimeposTravelDeadBandAndResync) {
  Control* c = add(8);
  EXPECT_STREQ(c->dparam(), "Control input}Control result}Open time}Error time");
  EXPECT_EQ(get(c, 2).value, 60u);
  EXPECT_EQ(get(c, 3).value, 1u);
  ASSERT_TRUE(num(c, 3, ptype::Dec, 0));
  EXPECT_EQ(get(c, 3).value, 1u);  // 0 is stored as 1

  Ivar* in = var("in");
  Ivar* r = var("r");
  ASSERT_TRUE(ref(c, 0, in));
  r->set(0, 1.0f);
  ASSERT_TRUE(ref(c, 1, r, 65535));  // block of two, outputs cleared
  EXPECT_EQ(get_ref(c, 1).index, 65534);
  EXPECT_EQ(r->get(65534), 0.0f);
  ASSERT_TRUE(ref(c, 1, r, 0));
  EXPECT_EQ(r->get(0), 0.0f);

  auto step = [&](int n) {
    int open = 0;
    for (int i = 0; i < n; ++i) {
      c->execute();
      open += r->get(1) != 0.0f;
    }
    return open;
  };
  in->set(0, 0.5f);
  EXPECT_EQ(step(30), 30);
  step(1);
  EXPECT_EQ(r->get(0), 0.0f);
  EXPECT_EQ(r->get(1), 0.0f);

  in->set(0, 0.51f);  // t = 30: inside the dead band
  EXPECT_EQ(step(5), 0);
  in->set(0, 0.45f);  // t = 27: close for 3 scans
  int closing = 0;
  for (int i = 0; i < 10; ++i) {
    c->execute();
    closing += r->get(0) != 0.0f;
  }
  EXPECT_EQ(closing, 3);

  in->set(0, 2.0f);  // re-synchronise: drive closed from 0
  c->execute();
  EXPECT_EQ(r->get(0), 1.0f);
  in->set(0, 1.0f);  // full open is driven home
  EXPECT_EQ(step(70), 60);
  EXPECT_EQ(r->get(1), 0.0f);
  in->set(0, 0.0f);  // demand 0 keeps the close output on
  step(80);
  EXPECT_EQ(r->get(0), 1.0f);
  EXPECT_EQ(r->get(1), 0.0f);
}
