#include <cmath>

#include "instructions/convert.h"
#include "tests/support/inst_fixture.h"

namespace {

class InstConvert : public InstTest {
 protected:
  Convert* make(u16 n) { return static_cast<Convert*>(add(1, n)); }
  // Sets pair g (1-based): raw x, converted y.
  static void pair(Control* c, u16 g, float x, float y) {
    ASSERT_TRUE(flt(c, 1, x, g));
    ASSERT_TRUE(flt(c, 2, y, g));
  }
  static float coef(Control* c, u16 g) { return get(c, 0, g).f(); }
};

}  // namespace

TEST_F(InstConvert, RowsClampsAndResize) {
  Convert* c = make(3);
  EXPECT_STREQ(c->dparam(),
               "Input}Result}Select function~Normal~log-10~log-e}Poly degree}Raw Data}"
               "Converted Data}Calculated Coefficients}Error Data}Control}"
               "Conversion coefficient}Input value}Converted value");
  Ilparam s;
  c->lparam(&s);
  EXPECT_EQ(s.rows, 9);
  EXPECT_EQ(s.group_rows, 3);
  EXPECT_EQ(s.groups, 3);
  EXPECT_EQ(get(c, 3).value, 3u);  // degree starts at the requested size
  EXPECT_EQ(get(c, 3).type, ptype::Dec);

  // Degree: 0 becomes 1, above n-1 becomes n-1, above 7 becomes 7.
  num(c, 3, ptype::Dec, 0);
  EXPECT_EQ(c->degree(), 1);
  num(c, 3, ptype::Dec, 9);
  EXPECT_EQ(c->degree(), 2);
  c->resize(20);
  num(c, 3, ptype::Dec, 100000);
  EXPECT_EQ(c->degree(), 7);
  // Function: 3 and above are stored as Normal.
  num(c, 2, ptype::Select, 2);
  EXPECT_EQ(get(c, 2).value, 2u);
  num(c, 2, ptype::Select, 3);
  EXPECT_EQ(get(c, 2).value, 0u);
  EXPECT_FALSE(num(c, 2, ptype::Dec, 1));
  EXPECT_FALSE(num(c, 0, ptype::Dec, 1, 1));  // pairs are floats only

  // Resize keeps the first pairs and clamps to 2..20; degree follows.
  c->resize(3);
  flt(c, 0, 7.5f, 1);
  flt(c, 0, 8.5f, 3);
  EXPECT_TRUE(c->resize(1));
  c->lparam(&s);
  EXPECT_EQ(s.groups, 2);
  EXPECT_EQ(coef(c, 1), 7.5f);
  EXPECT_LE(c->degree(), 2);
  c->resize(500);
  c->lparam(&s);
  EXPECT_EQ(s.groups, 20);
  EXPECT_EQ(coef(c, 3), 0.0f);  // a new pair is zero
  Iparam p;
  EXPECT_FALSE(c->gparam(&p, 21, 0));

  // Data blocks of 20 cells and the control block of 5 near 65535.
  Ivar* v = var("v");
  for (u16 row = 4; row <= 7; ++row) {
    ASSERT_TRUE(ref(c, row, v, 65530));
    EXPECT_EQ(get_ref(c, row).index, 65516);
  }
  ASSERT_TRUE(ref(c, 8, v, 65534));
  EXPECT_EQ(get_ref(c, 8).index, 65531);
  EXPECT_EQ(v->size, 65535);
}

TEST_F(InstConvert, ClientEditsRefitAndConvert) {
  Convert* c = make(2);
  Ivar* in = var("in");
  Ivar* out = var("out");
  ref(c, 0, in);
  ref(c, 1, out);
  num(c, 3, ptype::Dec, 1);
  pair(c, 1, 0, 0);
  pair(c, 2, 10, 100);
  EXPECT_EQ(coef(c, 1), 0.0f);
  EXPECT_FLOAT_EQ(coef(c, 2), 10.0f);
  in->set(0, 3.5f);
  c->execute();
  EXPECT_FLOAT_EQ(out->get(0), 35.0f);

  // A typed coefficient is used as is; it does not refit.
  flt(c, 0, 1.0f, 1);
  c->execute();
  EXPECT_FLOAT_EQ(out->get(0), 36.0f);

  // Degree 5 with 3 pairs fits a parabola exactly.
  c->resize(3);
  num(c, 3, ptype::Dec, 5);
  pair(c, 1, 0, 1);
  pair(c, 2, 1, 3);
  pair(c, 3, 2, 9);  // y = 1 + 0 x + 2 x^2
  EXPECT_EQ(c->degree(), 2);
  EXPECT_NEAR(coef(c, 1), 1.0f, 1e-5);
  EXPECT_NEAR(coef(c, 2), 0.0f, 1e-5);
  EXPECT_NEAR(coef(c, 3), 2.0f, 1e-5);

  // A fit of lower degree leaves the higher coefficient in the conversion.
  num(c, 3, ptype::Dec, 1);
  pair(c, 1, 0, 0);  // points on y = 2x, refit as a line
  pair(c, 2, 1, 2);
  pair(c, 3, 2, 4);
  EXPECT_NEAR(coef(c, 2), 2.0f, 1e-5);
  EXPECT_NEAR(coef(c, 3), 2.0f, 1e-5);
  in->set(0, 1.0f);
  c->execute();
  EXPECT_NEAR(out->get(0), 2.0f + 2.0f, 1e-5);

  // All raw values 0: no fit, coefficients kept.
  for (u16 g = 1; g <= 3; ++g) flt(c, 1, 0.0f, g);
  const float kept[3] = {coef(c, 1), coef(c, 2), coef(c, 3)};
  for (u16 g = 1; g <= 3; ++g) flt(c, 2, float(g), g);
  for (u16 g = 1; g <= 3; ++g) EXPECT_EQ(coef(c, g), kept[g - 1]) << g;
  // Identical raw values: the zero pivot clears every coefficient.
  pair(c, 1, 4, 5);
  pair(c, 2, 4, 6);
  pair(c, 3, 4, 7);
  for (u16 g = 1; g <= 3; ++g) EXPECT_EQ(coef(c, g), 0.0f) << g;
}

TEST_F(InstConvert, LogSpaceNeverWritesNonFiniteValues) {
  Convert* c = make(3);
  Ivar* in = var("in");
  Ivar* out = var("out");
  ref(c, 0, in);
  ref(c, 1, out);
  num(c, 2, ptype::Select, 1);  // log-10
  num(c, 3, ptype::Dec, 1);
  pair(c, 1, 10, 1);
  pair(c, 2, 100, 2);
  pair(c, 3, 0, 99);  // undefined logarithm: left out of the fit
  EXPECT_NEAR(coef(c, 1), 0.0f, 1e-5);
  EXPECT_NEAR(coef(c, 2), 1.0f, 1e-5);
  in->set(0, 1000);
  c->execute();
  EXPECT_NEAR(out->get(0), 3.0f, 1e-5);
  for (float bad : {0.0f, -5.0f, std::nanf("")}) {
    in->set(0, bad);
    c->execute();
    EXPECT_EQ(float_bits(out->get(0)), OVERFLOW_BITS) << bad;
  }
  num(c, 2, ptype::Select, 2);  // log-e
  pair(c, 1, std::exp(1.0f), 1);
  pair(c, 2, std::exp(2.0f), 2);
  in->set(0, std::exp(3.0f));
  c->execute();
  EXPECT_NEAR(out->get(0), 3.0f, 1e-4);

  // Huge raw values overflow the power sums: no fit result, no NaN.
  num(c, 2, ptype::Select, 0);
  c->resize(8);
  num(c, 3, ptype::Dec, 7);
  for (u16 g = 1; g <= 8; ++g) pair(c, g, (g % 2 ? 3e38f : -3e38f) / g, float(g));
  for (u16 g = 1; g <= 8; ++g) EXPECT_TRUE(std::isfinite(coef(c, g))) << g;
  in->set(0, 2e38f);
  c->execute();
  EXPECT_TRUE(std::isfinite(out->get(0)));
}

TEST_F(InstConvert, CommandedFitFromDataBlocks) {
  Convert* c = make(2);
  Ivar* raw = var("raw", 19);
  Ivar* conv = var("conv", 19);
  Ivar* co = var("co", 19);
  Ivar* err = var("err", 19);
  Ivar* ctl = var("ctl", 4);
  ref(c, 4, raw);
  ref(c, 5, conv);
  ref(c, 6, co);
  ref(c, 7, err);
  for (u16 i = 0; i < 20; ++i) co->set(i, -1), err->set(i, -1);
  // Four points close to y = 1 + 2x, fitted as a line.
  const float xs[4] = {0, 1, 2, 3}, ys[4] = {1, 3.5f, 5, 7};
  for (u16 i = 0; i < 4; ++i) raw->set(i, xs[i]), conv->set(i, ys[i]);
  ctl->set(0, 1);
  ctl->set(1, 1.9f);  // truncated to 1
  ctl->set(2, 4);
  ctl->set(3, 7);  // above 2: Normal
  c->execute();    // nothing yet: Control unset
  EXPECT_EQ(co->get(0), -1.0f);
  ref(c, 8, ctl);
  c->execute();
  EXPECT_EQ(c->group_count(), 4);
  EXPECT_EQ(c->degree(), 1);
  EXPECT_EQ(get(c, 2).value, 0u);
  EXPECT_EQ(ctl->get(0), 0.0f);  // command done
  EXPECT_NEAR(co->get(0), 1.2f, 1e-5);
  EXPECT_NEAR(co->get(1), 1.95f, 1e-5);
  for (u16 i = 2; i < 20; ++i) EXPECT_EQ(co->get(i), 0.0f) << i;
  float worst = 0;
  for (u16 i = 0; i < 4; ++i) {
    const float e = (1.2f + 1.95f * xs[i]) - ys[i];
    EXPECT_NEAR(err->get(i), e, 1e-5) << i;
    worst = std::max(worst, std::fabs(e));
  }
  for (u16 i = 4; i < 20; ++i) EXPECT_EQ(err->get(i), 0.0f) << i;
  EXPECT_NEAR(ctl->get(4), worst, 1e-5);  // largest absolute error
  EXPECT_GT(ctl->get(4), 0.0f);

  // Control values out of range: pairs clamped to 2..20, degree to 1.
  ctl->set(0, 1);
  ctl->set(1, 0);
  ctl->set(2, 1000);
  c->execute();
  EXPECT_EQ(c->group_count(), 20);
  EXPECT_EQ(c->degree(), 1);
  ctl->set(0, 1);
  ctl->set(2, -3);
  c->execute();
  EXPECT_EQ(c->group_count(), 2);
}
