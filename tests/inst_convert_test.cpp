#include <cmath>

#include "instructions/convert.h"
#include "tests/support/inst_fixture.h"

namespace {

class InstConvert : public InstTest {
 protected:
  Convert* make(u16 n) {
    auto* c = static_cast<Convert*>(add(1, n));
    ref(c, 0, in = var("in"));
    ref(c, 1, out = var("out"));
    return c;
  }
  // Sets pair g (1-based) to raw x, converted y; each edit refits.
  static void pair(Control* c, u16 g, float x, float y) {
    flt(c, 1, x, g);
    flt(c, 2, y, g);
  }
  static float coef(Control* c, u16 g) { return get(c, 0, g).f(); }
  float convert(Control* c, float x) {
    in->set(0, x);
    c->execute();
    return out->get(0);
  }
  Ivar *in, *out;
};

}  // namespace

TEST_F(InstConvert, RowsClampsAndResize) {
  Convert* c = make(3);
  EXPECT_EQ(c->degree(), 2);  // the requested size, at most n - 1
  EXPECT_EQ(static_cast<Convert*>(add(1, 12))->degree(), 7);
  num(c, 3, ptype::Dec, 0);
  EXPECT_EQ(c->degree(), 1);
  num(c, 3, ptype::Dec, 9);  // at most n - 1
  EXPECT_EQ(c->degree(), 2);
  num(c, 2, ptype::Select, 3);  // 3 and above are Normal
  EXPECT_EQ(get(c, 2).value, 0u);
  flt(c, 0, 7.5f, 1);
  c->resize(500);
  num(c, 3, ptype::Dec, 100);  // at most 7
  EXPECT_EQ(c->degree(), 7);
  c->resize(1);
  EXPECT_EQ(c->group_count(), 2);
  EXPECT_EQ(c->degree(), 1);
  EXPECT_EQ(coef(c, 1), 7.5f);

  Ivar* v = var("v");
  ref(c, 4, v, 65530);  // data blocks of 20 cells
  EXPECT_EQ(get_ref(c, 4).index, 65516);
  ref(c, 8, v, 65534);  // the control block of 5
  EXPECT_EQ(get_ref(c, 8).index, 65531);
  EXPECT_EQ(v->size, 65535);
}

TEST_F(InstConvert, ClientEditsRefit) {
  Convert* c = make(2);
  num(c, 3, ptype::Dec, 1);
  pair(c, 1, 0, 0);
  pair(c, 2, 10, 100);
  EXPECT_EQ(coef(c, 1), 0.0f);
  EXPECT_FLOAT_EQ(coef(c, 2), 10.0f);
  EXPECT_FLOAT_EQ(convert(c, 3.5f), 35.0f);
  flt(c, 0, 1.0f, 1);  // a typed coefficient is used as is
  EXPECT_FLOAT_EQ(convert(c, 3.5f), 36.0f);

  // Degree 5 over 3 pairs is fitted as degree 2: y = 1 + 2 x^2.
  c->resize(3);
  num(c, 3, ptype::Dec, 5);
  pair(c, 1, 0, 1);
  pair(c, 2, 1, 3);
  pair(c, 3, 2, 9);
  EXPECT_EQ(c->degree(), 2);
  const float parabola[3] = {1, 0, 2};
  for (u16 g = 1; g <= 3; ++g) EXPECT_NEAR(coef(c, g), parabola[g - 1], 1e-5);
  // A line fitted afterwards leaves the x^2 coefficient in the conversion.
  num(c, 3, ptype::Dec, 1);
  for (u16 g = 1; g <= 3; ++g) pair(c, g, float(g), float(2 * g));
  EXPECT_NEAR(convert(c, 1.0f), 2.0f + 2.0f, 1e-4);

  // Every raw value 0: no fit. Identical raw values: every coefficient 0.
  for (u16 g = 1; g <= 3; ++g) flt(c, 1, 0.0f, g);
  const float kept[3] = {coef(c, 1), coef(c, 2), coef(c, 3)};
  for (u16 g = 1; g <= 3; ++g) flt(c, 2, float(g), g);
  for (u16 g = 1; g <= 3; ++g) EXPECT_EQ(coef(c, g), kept[g - 1]) << g;
  for (u16 g = 1; g <= 3; ++g) flt(c, 1, 4.0f, g);
  for (u16 g = 1; g <= 3; ++g) EXPECT_EQ(coef(c, g), 0.0f) << g;
}

TEST_F(InstConvert, NoNonFiniteValues) {
  Convert* c = make(3);
  num(c, 2, ptype::Select, 1);  // log-10
  num(c, 3, ptype::Dec, 1);
  pair(c, 1, 10, 1);
  pair(c, 2, 100, 2);
  pair(c, 3, 0, 99);  // no logarithm: left out of the fit
  EXPECT_NEAR(coef(c, 2), 1.0f, 1e-5);
  EXPECT_NEAR(convert(c, 1000), 3.0f, 1e-5);
  for (float bad : {0.0f, -5.0f, std::nanf("")})
    EXPECT_EQ(float_bits(convert(c, bad)), OVERFLOW_BITS) << bad;

  // Degree 7 over huge raw values overflows the power sums: no NaN.
  num(c, 2, ptype::Select, 0);
  c->resize(8);
  num(c, 3, ptype::Dec, 7);
  for (u16 g = 1; g <= 8; ++g) pair(c, g, (g % 2 ? 3e38f : -3e38f) / g, float(g));
  for (u16 g = 1; g <= 8; ++g) EXPECT_TRUE(std::isfinite(coef(c, g))) << g;
  EXPECT_TRUE(std::isfinite(convert(c, 2e38f)));
}

TEST_F(InstConvert, CommandedFitFromDataBlocks) {
  Convert* c = make(2);
  Ivar* blocks[4];
  for (u16 r = 0; r < 4; ++r) ref(c, u16(4 + r), blocks[r] = var("blk", 19));
  Ivar *raw = blocks[0], *conv = blocks[1], *co = blocks[2], *err = blocks[3];
  Ivar* ctl = var("ctl", 4);
  for (u16 i = 0; i < 20; ++i) co->set(i, -1), err->set(i, -1);
  const float xs[4] = {0, 1, 2, 3}, ys[4] = {1, 3.5f, 5, 7};  // best line 1.2 + 1.95 x
  for (u16 i = 0; i < 4; ++i) raw->set(i, xs[i]), conv->set(i, ys[i]);
  const float command[4] = {1, 1.9f, 4, 7};  // degree truncated, function 7 is Normal
  for (u16 i = 0; i < 4; ++i) ctl->set(i, command[i]);
  c->execute();  // Control unset: no fit
  EXPECT_EQ(co->get(0), -1.0f);
  ref(c, 8, ctl);
  c->execute();
  EXPECT_EQ(c->group_count(), 4);
  EXPECT_EQ(c->degree(), 1);
  EXPECT_EQ(get(c, 2).value, 0u);
  EXPECT_EQ(ctl->get(0), 0.0f);
  EXPECT_NEAR(co->get(0), 1.2f, 1e-5);
  EXPECT_NEAR(co->get(1), 1.95f, 1e-5);
  float worst = 0;
  for (u16 i = 0; i < 20; ++i) {
    const float e = i < 4 ? (1.2f + 1.95f * xs[i]) - ys[i] : 0.0f;
    EXPECT_NEAR(err->get(i), e, 1e-5) << i;
    if (i >= 2) {
      EXPECT_EQ(co->get(i), 0.0f) << i;
    }
    worst = std::max(worst, std::fabs(e));
  }
  EXPECT_NEAR(ctl->get(4), worst, 1e-5);  // the largest absolute error

  ctl->set(0, 1);
  ctl->set(2, -3);  // pair counts are clamped to 2..20
  c->execute();
  EXPECT_EQ(c->group_count(), 2);
}
