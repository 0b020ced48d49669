#include "instructions/arrays.h"
#include "tests/support/inst_fixture.h"

namespace {

class InstArrays : public InstTest {
 protected:
  void SetUp() override {
    InstTest::SetUp();
    in = var("in");
    out = var("out");
  }
  float step(Control* c, float x) {
    in->set(0, x);
    scan(c);
    return out->get(0);
  }
  static u16 groups(Control* c) {
    Ilparam s;
    c->lparam(&s);
    return s.groups;
  }
  Ivar *in, *out;
};

}  // namespace

TEST_F(InstArrays, MapCopiesBothWaysAndSkipsUnsetEntries) {
  Control* c = add(17, 3);
  Ivar* arr = var("arr");
  Ivar* a = var("a");
  ref(c, 0, arr);
  EXPECT_EQ(arr->size, 2);
  ref(c, 0, a, 0, 1);
  ref(c, 0, out, 0, 3);  // entry 2 unset
  Iparam t;
  t.type = ptype::Text;  // a null text leaves no description
  EXPECT_TRUE(c->sparam(&t, 1, 1));
  EXPECT_STREQ(get(c, 1, 1).text, "");

  a->set(0, 1);
  out->set(0, 3);
  arr->set(1, -2);
  scan(c);  // to array
  const float to[3] = {1, -2, 3};
  for (u16 i = 0; i < 3; ++i) EXPECT_EQ(arr->get(i), to[i]);
  num(c, 1, ptype::Select, 1);
  arr->set(0, 10);
  arr->set(2, 30);
  scan(c);  // from array
  EXPECT_EQ(a->get(0), 10.0f);
  EXPECT_EQ(out->get(0), 30.0f);

  // Resizes keep the first entries and re-validate the array block.
  Ivar* big = var("big");
  ref(c, 0, big, 65535);
  EXPECT_EQ(get_ref(c, 0).index, 65533);
  c->resize(0);
  EXPECT_EQ(get(c, 0, 1).ref.var, a);
  c->resize(200);
  EXPECT_EQ(groups(c), 128);
  EXPECT_EQ(get_ref(c, 0).index, 65535 - 127);
}

TEST_F(InstArrays, TranslateBothDirections) {
  Control* c = add(26, 3);
  ref(c, 0, in);
  ref(c, 1, out);
  const u32 codes[3] = {0x31, 0x5A, 0x31};
  for (u16 g = 1; g <= 3; ++g) num(c, 0, ptype::Hex, codes[g - 1], g);
  EXPECT_FALSE(num(c, 0, ptype::Dec, 1, 1));
  // Count to code: truncated, a negative count is 0, beyond the table 0.
  EXPECT_EQ(step(c, 1.7f), float(0x5A));
  EXPECT_EQ(step(c, -1), float(0x31));
  EXPECT_EQ(step(c, 3), 0.0f);
  // Code to count: any non-zero direction; the first match, else N.
  num(c, 2, ptype::Select, 7);
  EXPECT_EQ(get(c, 2).value, 1u);
  EXPECT_EQ(step(c, 0x31), 0.0f);
  EXPECT_EQ(step(c, 0x5A), 1.0f);
  EXPECT_EQ(step(c, 0x77), 3.0f);
}

TEST_F(InstArrays, LookupInterpolatesInsideTheTableOnly) {
  Control* c = add(29, 1);
  EXPECT_EQ(groups(c), 2);
  c->resize(4);
  ref(c, 0, in);
  ref(c, 1, out);
  const float raw[4] = {0, 10, 10, 20}, conv[4] = {0, 100, 500, 600};
  for (u16 g = 1; g <= 4; ++g) flt(c, 0, raw[g - 1], g), flt(c, 1, conv[g - 1], g);
  EXPECT_FLOAT_EQ(step(c, 5), 50.0f);
  EXPECT_FLOAT_EQ(step(c, 10), 100.0f);  // shared breakpoint: lower segment
  EXPECT_FLOAT_EQ(step(c, 15), 550.0f);
  out->set(0, -1);
  EXPECT_EQ(step(c, -1), -1.0f);  // outside the table: unchanged
  EXPECT_EQ(step(c, 21), -1.0f);
  flt(c, 0, 10, 1);  // a vertical segment holding x writes nothing
  EXPECT_EQ(step(c, 10), -1.0f);
}

TEST_F(InstArrays, FanSelectsByTimeOrCount) {
  Control* c = add(13);
  Ivar* src = var("src");
  Ivar* td = var("td", 2);
  Ivar* last = var("last");
  num(c, 6, ptype::Dec, 2);  // B
  num(c, 7, ptype::Dec, 3);  // K
  ref(c, 0, src);
  ref(c, 1, out);
  EXPECT_EQ(src->size, 5);  // B*K cells
  EXPECT_EQ(out->size, 1);  // B cells
  for (u16 i = 0; i < 6; ++i) src->set(i, float(10 * (i + 1)));
  ref(c, 3, in);  // time index
  ref(c, 4, td);
  ref(c, 5, last);
  for (u16 i = 0; i < 3; ++i) td->set(i, float(10 * (i + 1)));  // sums 10, 30, 60
  const float ts[] = {25, 30, 100, 0};
  const float first[] = {30, 30, 50, 10}, lastp[] = {0, 1, 0, 0};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(step(c, ts[i]), first[i]) << ts[i];
    EXPECT_EQ(last->get(0), lastp[i]) << ts[i];
  }
  EXPECT_EQ(out->get(1), 20.0f);

  // By count, one source fanned out to the blocks of the destination.
  ref(c, 3, nullptr);
  ref(c, 2, in);
  num(c, 8, ptype::Select, 1);
  EXPECT_EQ(out->size, 5);
  step(c, 2.9f);
  EXPECT_EQ(out->get(4), 10.0f);
  EXPECT_EQ(out->get(5), 20.0f);

  // Spans larger than a variable stay inside it; no blocks copy nothing.
  Ivar* big = var("big");
  ref(c, 1, big, 65535);
  EXPECT_EQ(get_ref(c, 1).index, 65530);
  num(c, 6, ptype::Dec, 1000);
  num(c, 7, ptype::Dec, 1000);
  EXPECT_EQ(get_ref(c, 1).index, 0);
  EXPECT_EQ(big->size, 65535);
  step(c, 999);  // block 999 would start at cell 999000
  num(c, 7, ptype::Dec, 0);
  big->set(0, 5);
  step(c, 0);
  EXPECT_EQ(big->get(0), 5.0f);
}
