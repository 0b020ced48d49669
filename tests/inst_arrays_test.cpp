#include "instructions/arrays.h"
#include "tests/support/inst_fixture.h"

using InstArrays = InstTest;

TEST_F(InstArrays, MapCopiesBothWaysAndSkipsUnsetEntries) {
  Control* c = add(17, 3);
  EXPECT_STREQ(c->dparam(), "Array}Direction~To array~From array}Individual}Description");
  Ivar* arr = var("arr");
  Ivar* a = var("a");
  Ivar* b = var("b");
  ASSERT_TRUE(ref(c, 0, arr));
  EXPECT_EQ(arr->size, 2);
  ref(c, 0, a, 0, 1);
  ref(c, 0, b, 0, 3);  // entry 2 unset
  Iparam t;
  t.type = ptype::Text;
  t.text = "first entry";
  EXPECT_TRUE(c->sparam(&t, 1, 1));
  EXPECT_STREQ(get(c, 1, 1).text, "first entry");
  t.text = nullptr;  // no text: no description
  EXPECT_TRUE(c->sparam(&t, 1, 1));
  EXPECT_STREQ(get(c, 1, 1).text, "");

  a->set(0, 1);
  b->set(0, 3);
  arr->set(1, -2);
  scan(c);  // to array
  EXPECT_EQ(arr->get(0), 1.0f);
  EXPECT_EQ(arr->get(1), -2.0f);
  EXPECT_EQ(arr->get(2), 3.0f);
  num(c, 1, ptype::Select, 1);
  arr->set(0, 10);
  arr->set(2, 30);
  scan(c);  // from array
  EXPECT_EQ(a->get(0), 10.0f);
  EXPECT_EQ(b->get(0), 30.0f);

  // Resizing keeps the first entries, and grows the array block near 65535.
  Ivar* big = var("big");
  ref(c, 0, big, 65535);
  EXPECT_EQ(get_ref(c, 0).index, 65533);
  c->resize(0);
  Ilparam s;
  c->lparam(&s);
  EXPECT_EQ(s.groups, 1);
  EXPECT_EQ(get(c, 0, 1).ref.var, a);
  c->resize(200);
  c->lparam(&s);
  EXPECT_EQ(s.groups, 128);
  EXPECT_EQ(get(c, 0, 2).ref.var, nullptr);
  EXPECT_EQ(get_ref(c, 0).index, 65535 - 127);
}

TEST_F(InstArrays, TranslateBothDirections) {
  Control* c = add(26, 3);
  EXPECT_STREQ(c->dparam(), "Input}Result}Direction~Count to random~Random to count}Random match");
  Ivar* in = var("in");
  Ivar* out = var("out");
  ref(c, 0, in);
  ref(c, 1, out);
  const u32 codes[3] = {0x31, 0x5A, 0x31};
  for (u16 g = 1; g <= 3; ++g) ASSERT_TRUE(num(c, 0, ptype::Hex, codes[g - 1], g));
  EXPECT_FALSE(num(c, 0, ptype::Dec, 1, 1));
  in->set(0, 1.7f);
  scan(c);
  EXPECT_EQ(out->get(0), float(0x5A));
  in->set(0, 3);
  scan(c);
  EXPECT_EQ(out->get(0), 0.0f);  // beyond the table
  in->set(0, -1);
  scan(c);
  EXPECT_EQ(out->get(0), float(0x31));  // a negative count is 0

  num(c, 2, ptype::Select, 7);  // any non-zero value is Random to count
  EXPECT_EQ(get(c, 2).value, 1u);
  in->set(0, 0x31);
  scan(c);
  EXPECT_EQ(out->get(0), 0.0f);  // the first match
  in->set(0, 0x5A);
  scan(c);
  EXPECT_EQ(out->get(0), 1.0f);
  in->set(0, 0x77);
  scan(c);
  EXPECT_EQ(out->get(0), 3.0f);  // no match: N
  c->resize(0);
  Ilparam s;
  c->lparam(&s);
  EXPECT_EQ(s.groups, 1);
  EXPECT_EQ(get(c, 0, 1).value, 0x31u);
}

TEST_F(InstArrays, LookupInterpolatesInsideTheTableOnly) {
  Control* c = add(29, 1);
  EXPECT_STREQ(c->dparam(), "Input}Result}Raw}Converted");
  Ilparam s;
  c->lparam(&s);
  EXPECT_EQ(s.groups, 2);  // at least two pairs
  c->resize(4);
  Ivar* in = var("in");
  Ivar* out = var("out");
  ref(c, 0, in);
  ref(c, 1, out);
  const float raw[4] = {0, 10, 10, 20}, conv[4] = {0, 100, 500, 600};
  for (u16 g = 1; g <= 4; ++g) {
    flt(c, 0, raw[g - 1], g);
    flt(c, 1, conv[g - 1], g);
  }
  EXPECT_FALSE(num(c, 0, ptype::Dec, 1, 1));
  auto at = [&](float x) {
    in->set(0, x);
    scan(c);
    return out->get(0);
  };
  EXPECT_FLOAT_EQ(at(5), 50.0f);
  EXPECT_FLOAT_EQ(at(10), 100.0f);  // a shared breakpoint: the lower segment
  EXPECT_FLOAT_EQ(at(15), 550.0f);
  out->set(0, -1);
  EXPECT_EQ(at(-1), -1.0f);  // below the table: unchanged
  EXPECT_EQ(at(21), -1.0f);  // above it
  // A vertical first segment that holds x writes nothing.
  flt(c, 0, 10, 1);
  EXPECT_EQ(at(10), -1.0f);
}

TEST_F(InstArrays, FanSelectsByTimeOrCount) {
  Control* c = add(13);
  EXPECT_STREQ(c->dparam(),
               "Source}Destination}Count index}Time index}Time def}Last period}Block size}"
               "Number of blocks}Direction~Multiple sources to one destination~"
               "One source to multiple destinations");
  Ivar* src = var("src");
  Ivar* dst = var("dst");
  Ivar* ti = var("ti");
  Ivar* td = var("td", 2);
  Ivar* last = var("last");
  Ivar* cnt = var("cnt");
  num(c, 6, ptype::Dec, 2);  // B
  num(c, 7, ptype::Dec, 3);  // K
  ref(c, 0, src);
  ref(c, 1, dst);
  EXPECT_EQ(src->size, 5);  // B*K cells
  EXPECT_EQ(dst->size, 1);  // B cells
  for (u16 i = 0; i < 6; ++i) src->set(i, float(10 * (i + 1)));
  ref(c, 3, ti);
  ref(c, 4, td);
  ref(c, 5, last);
  td->set(0, 10);
  td->set(1, 20);
  td->set(2, 30);
  auto pick = [&](float t) {
    ti->set(0, t);
    scan(c);
    return dst->get(0);
  };
  EXPECT_EQ(pick(25), 30.0f);  // block 1
  EXPECT_EQ(dst->get(1), 40.0f);
  EXPECT_EQ(last->get(0), 0.0f);
  EXPECT_EQ(pick(30), 30.0f);  // block 1, last period
  EXPECT_EQ(last->get(0), 1.0f);
  EXPECT_EQ(pick(100), 50.0f);  // block 3, lowered to K-1
  EXPECT_EQ(last->get(0), 0.0f);
  EXPECT_EQ(pick(0), 10.0f);

  // By count, and one source fanned out to several destinations.
  ref(c, 3, nullptr);
  ref(c, 2, cnt);
  cnt->set(0, 1.9f);
  EXPECT_EQ(pick(0), 30.0f);
  num(c, 8, ptype::Select, 1);
  EXPECT_EQ(dst->size, 5);  // the destination now holds K blocks
  src->set(0, -1);
  src->set(1, -2);
  cnt->set(0, 2);
  scan(c);
  EXPECT_EQ(dst->get(4), -1.0f);
  EXPECT_EQ(dst->get(5), -2.0f);

  // Spans near 65535 and beyond what a variable can hold stay in bounds.
  Ivar* big = var("big");
  ref(c, 1, big, 65535);
  EXPECT_EQ(get_ref(c, 1).index, 65530);
  num(c, 6, ptype::Dec, 1000);
  num(c, 7, ptype::Dec, 1000);
  EXPECT_EQ(get_ref(c, 1).index, 0);
  EXPECT_EQ(big->size, 65535);
  cnt->set(0, 999);  // block 999 would start at 999000
  scan(c);
  num(c, 7, ptype::Dec, 0);  // no blocks: nothing copied
  big->set(0, 5);
  scan(c);
  EXPECT_EQ(big->get(0), 5.0f);
}
