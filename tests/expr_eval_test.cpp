#include <cmath>

#include "core/registry.h"
#include "net/clock.h"
#include "platform/fake.h"
#include "tests/support/expr_helpers.h"

using ExprEval = ExprTest;

// The operator table, one formula per case, exact unless a tolerance is
// given. Left to right without precedence; no result is ever a NaN or an
// infinity.
TEST_F(ExprEval, OperatorTable) {
  cell("a") = 2;
  cell("b") = 3;
  cell("c") = 4;
  cell("v") = -8;
  cell("w") = -1;
  cell("m1") = -1;
  cell("miss") = OVERFLOW_VALUE;
  struct Case {
    const char* formula;
    float want;
    double tolerance = 0;
  };
  const Case cases[] = {
      {"a + b * c", 20.0f}, {"a + (b * c)", 14.0f}, {"(a - b) * (c + 1) / 5", -1.0f},
      {"10 - a - b", 5.0f}, {"a", 2.0f}, {"1/0", OVERFLOW_VALUE}, {"5 % 0", OVERFLOW_VALUE},
      {"17 % 5", 2.0f},
      {"(0 - 1) % 7", float(4294967295u % 7)},  // two's complement pattern
      {"3e38 * 10", OVERFLOW_VALUE},  // never an infinity
      {"5 & 3", 1.0f}, {"(0 - 5) & 3", 0.0f}, {"20000000 : 0", 16777215.0f}, {"6 ^ 3", 5.0f},
      {"7 >> 0", 7.0f}, {"7 >> 24", 7.0f}, {"7 >> 1", 3.0f}, {"1 << 23", 8388608.0f},
      {"1 << 24", 1.0f},
      {"3 << 23", 8388608.0f},  // masked to 24 bits
      {"compb(0)", 4294967295.0f}, {"hbit(0)", 0.0f}, {"lbit(0)", 0.0f}, {"hbit(1)", 1.0f},
      {"lbit(12)", 3.0f}, {"hbit(16777215)", 24.0f}, {"lbit(8388608)", 24.0f},
      {"0.7 :> 0.2", 0.7f}, {"1.5 &> 0.3", 0.3f}, {"0.25 ^> 0.75", 0.5f, 1e-6f},
      {"compf(0.25)", 0.75f}, {"fuzzy(7)", 1.0f}, {"2 :: 0", 1.0f}, {"2 && 0", 0.0f},
      {"logical(0.1)", 1.0f}, {"bool(0.49)", 0.0f}, {"bool(0.5)", 1.0f}, {"compl(3)", 0.0f},
      {"2 == 2", 1.0f}, {"2 != 2", 0.0f}, {"1 < 2", 1.0f}, {"2 <= 2", 1.0f}, {"1 > 2", 0.0f},
      {"1 >= 2", 0.0f}, {"3 'min' 2", 2.0f}, {"3 'max' 2", 3.0f}, {"5 'orider' miss", 5.0f},
      {"5 'orider' 7", 7.0f}, {"5 'oridel' 0.5", 0.5f}, {"5 'oridel' 1.5", 5.0f},
      {"2 'pow' 0.5", 1.414214f, 1e-6f},
      {"v 'pow' 0.5", -8.0f},  // exponent rounded up to 1
      {"v 'pow' (0 - 0.5)", -0.125f},  // rounded down to -1
      {"25 'vpd' 50", 27.3487f, 0.001}, {"25 'dp' 50", 13.857f, 0.001},
      {"0 'pow' w", OVERFLOW_VALUE}, {"1 'atan2' 1", 0.785398f, 1e-6f}, {"inv(0)", OVERFLOW_VALUE},
      {"inv(4)", 0.25f}, {"sqrt(m1)", OVERFLOW_VALUE}, {"sqrt(9)", 3.0f},
      {"log(0)", OVERFLOW_VALUE}, {"log10(1000)", 3.0f}, {"exp(1000)", OVERFLOW_VALUE},
      {"tan(1.5708)", OVERFLOW_VALUE}, {"tan(0.785398)", 1.0f, 1e-6},
      {"asin(1)", 1.570796f, 1e-6f}, {"acos(2)", OVERFLOW_VALUE}, {"abs(m1)", 1.0f},
      {"neg(m1)", 1.0f}, {"ceil(1.2)", 2.0f}, {"floor(m1)", -1.0f}, {"year(0)", 2000.0f},
      {"month(59)", 2.0f}, {"day(59)", 29.0f}, {"month(60)", 3.0f}, {"day(60)", 1.0f},
      {"year(366)", 2001.0f}, {"month(397)", 2.0f}, {"day(397)", 1.0f},
      {"day(424)", 28.0f},  // 2001 is no leap year
      {"month(425)", 3.0f},
      {"day(1460)", 31.0f},  // 31 December 2003
      {"year(1461)", 2004.0f}, {"dow(0)", 5.0f}, {"dow(2)", 0.0f}, {"hour(7384)", 2.0f},
      {"minute(7384)", 3.0f}, {"second(7384)", 4.0f},
  };
  for (const Case& c : cases) EXPECT_NEAR(eval(c.formula), c.want, c.tolerance) << c.formula;
  EXPECT_NEAR(eval("25 'dp' 0"), eval("25 'dp' 0.1"), 1e-6);  // humidity clamps at 0.1
  for (u32 d : {0u, 59u, 365u, 800u, 1460u, 9000u, 50000u}) {
    Ymd ymd = day_to_ymd(d);
    EXPECT_EQ(dateymd(d, 0), u32(ymd.year)) << d;
    EXPECT_EQ(dateymd(d, 1), u32(ymd.month)) << d;
    EXPECT_EQ(dateymd(d, 2), u32(ymd.day)) << d;
  }
}

TEST_F(ExprEval, IoPorts) {
  const std::pair<const char*, float> cases[] = {
      {"100 'outb' 0x1A5", 0},           {"inb(100)", 0xA5},
      {"200 'out2b' 0x1234", 0},         {"in2b(200)", 0x1234},
      {"1024 'outb' 1", OVERFLOW_VALUE}, {"inb(1024)", OVERFLOW_VALUE},
      {"in2b(5000)", OVERFLOW_VALUE},    {"1024 'loopz' 1", OVERFLOW_VALUE},
      {"100 'loopz' 0x80", 0},              // bit 7 of 0xA5 is set
      {"100 'loopnz' 0x40", 0},             // bit 6 is clear
      {"100 'loopz' 0x40", OVERFLOW_VALUE},  // gives up after ~10 ms
  };
  for (const auto& [formula, want] : cases) EXPECT_EQ(eval(formula), want) << formula;
  EXPECT_EQ(fake.pc104_in(100), 0xA5);
  EXPECT_EQ(fake.pc104_in(200), 0x34);
  EXPECT_EQ(fake.pc104_in(201), 0x12);
}

// Rows run in order, each can read what the row before wrote; rows
// without result or with a failed text are skipped.
TEST_F(ExprEval, RowsAndStatus) {
  auto* e = make_expression("x + 1", "y");
  EXPECT_TRUE(e->resize(4));
  set_row(e, 2, "y * 10", "z");
  EXPECT_FALSE(set_row(e, 3, "y +", "w"));
  cell("x") = 1;
  EXPECT_EQ(e->evaluate(), 20.0f);
  EXPECT_EQ(cell("z"), 20.0f);
  EXPECT_EQ(cell("w"), 0.0f);

  Iparam p;
  ASSERT_TRUE(e->gparam(&p, 3, 1));
  EXPECT_TRUE(p.type == ptype::Dec && p.value == 4u);  // the end of the text
  ASSERT_TRUE(e->gparam(&p, 3, 2));
  EXPECT_STREQ(p.text, "y +");  // the text is kept
  EXPECT_EQ(e->row(2).nsteps, 0);
  ASSERT_TRUE(e->gparam(&p, 4, 2));
  EXPECT_EQ(p.text, nullptr);
  for (auto [g, r] : {std::pair{5, 0}, {0, 0}, {1, 4}}) EXPECT_FALSE(e->gparam(&p, u16(g), u16(r))) << g << r;

  // A failed row that gets a good text runs again; an empty text clears.
  EXPECT_TRUE(set_row(e, 3, "z 'if' 1", "w"));
  EXPECT_EQ(e->row(2).status, 0);
  e->evaluate();
  EXPECT_EQ(cell("w"), 20.0f);
  Iparam t{.text = "", .type = ptype::Text};
  EXPECT_TRUE(e->sparam(&t, 3, 2));
  EXPECT_EQ(e->row(2).nsteps, 0);
  t.text = nullptr;
  EXPECT_TRUE(e->sparam(&t, 3, 3));

  // The status row ignores writes; types are checked elsewhere.
  p.set_float(9);
  EXPECT_TRUE(e->sparam(&p, 1, 1));
  EXPECT_EQ(e->row(0).status, 0);
  EXPECT_FALSE(e->sparam(&p, 1, 0) || e->sparam(&p, 1, 2));

  // Long texts would not survive the program file (formulas: Limits).
  std::string long_text(256, 'x');
  t.text = long_text.c_str();
  EXPECT_FALSE(e->sparam(&t, 1, 3));
  t.text = "flow in l/s";
  EXPECT_TRUE(e->sparam(&t, 1, 3));
  ASSERT_TRUE(e->gparam(&p, 1, 3));
  EXPECT_STREQ(p.text, "flow in l/s");
}

TEST_F(ExprEval, IfKeepsTheLastValue) {
  auto* e = make_expression("x 'if' c", "out");
  cell("out") = 42;
  // x, c and the result; a NaN written by a client does not travel through a formula.
  for (auto [x, c, want] : {std::tuple{5.0f, 0.0f, 42.0f}, {5.0f, 1.0f, 5.0f}, {std::nanf(""), 1.0f, OVERFLOW_VALUE}}) {
    cell("x") = x, cell("c") = c;
    e->evaluate();
    EXPECT_EQ(cell("out"), want) << x << " " << c;
  }
}

TEST_F(ExprEval, Resize) {
  Control* c = inst_create(20, current_instruction, "calc", 0);
  ASSERT_NE(c, nullptr);
  Ilparam s;
  ASSERT_TRUE(c->lparam(&s));
  EXPECT_EQ(s.groups, 1);  // 0 becomes 1
  auto* e = static_cast<Expression*>(c);
  set_row(e, 1, "7", "seven");
  e->resize(500);
  EXPECT_EQ(e->group_count(), 128);
  e->resize(1);
  EXPECT_EQ(e->row(0).text, "7");
  EXPECT_EQ(c->execute(), c->next);
  EXPECT_EQ(cell("seven"), 7.0f);
  inst_delete(20, c);

  // Without a compiled formula there is no scratch variable: nothing runs.
  program_new(false);
  Expression idle(nullptr, "idle", 1);
  EXPECT_EQ(idle.evaluate(), 0.0f);
}

// The step loop runs the common operators itself, with code of its own
// for a step inside a row, a row's last step, the last row's last step and
// a step whose first operand is the step before: every operator in every
// such place gives what the operator table gives, step by step, bit for
// bit, also for operands a client may write (NaN, infinities, the
// overflow value).
TEST_F(ExprEval, StepLoopMatchesOperatorTable) {
  struct Form {
    const char* text;  // binary forms start with "a ", unary ones read (a)
    u16 code;
  };
  const Form forms[] = {
      {"a + b", op::Add},        {"a - b", op::Sub},        {"a * b", op::Mul},     {"a / b", op::Div},
      {"a % b", op::Mod},        {"a : b", op::Or},         {"a & b", op::And},     {"a ^ b", op::Xor},
      {"a :> b", op::FuzzyOr},   {"a &> b", op::FuzzyAnd},  {"a ^> b", op::FuzzyXor}, {"a >> b", op::Shr},
      {"a << b", op::Shl},       {"a :: b", op::LogOr},     {"a && b", op::LogAnd}, {"a == b", op::Eq},
      {"a != b", op::Ne},        {"a < b", op::Lt},         {"a <= b", op::Le},     {"a > b", op::Gt},
      {"a >= b", op::Ge},        {"a 'orider' b", op::Orider}, {"a 'oridel' b", op::Oridel},
      {"a 'min' b", op::Min},    {"a 'max' b", op::Max},    {"a 'pow' b", op::Pow}, {"a 'atan2' b", op::Atan2},
      {"a 'vpd' b", op::Vpd},    {"a 'dp' b", op::Dp},      {"a 'if' b", op::If},   {"logical(a)", op::Logical},
      {"bool(a)", op::Bool},     {"compl(a)", op::Compl},   {"compf(a)", op::Compf}, {"abs(a)", op::Abs},
      {"neg(a)", op::Neg},       {"inv(a)", op::Inv},       {"floor(a)", op::Floor}, {"sqrt(a)", op::Sqrt},
      {"exp(a)", op::Exp},       {"log(a)", op::Log},       {"hbit(a)", op::Hbit},  {"a", op::Copy},
  };
  const float inf = INFINITY, values[] = {0.0f, -0.0f, 1.0f, -2.5f, 0.5f, 3.0e38f, OVERFLOW_VALUE,
                                          3.4e38f, -3.4e38f, 16777216.0f, inf, -inf, std::nanf("")};
  // The rows as the operator table runs them: T holds the step values.
  float T[MAX_STEPS];
  auto expect_rows = [&](Expression* e) {
    float last = 0.0f;
    for (u16 i = 0; i < e->group_count(); ++i) {
      const ExpRow& r = e->row(i);
      Idata& out = r.result.var->data[r.result.index];
      for (size_t j = 0; j < r.nsteps; ++j) {
        const ExpStep& s = r.steps[j];
        float a = s.var1 ? s.var1->data[s.index1] : T[s.index1];
        float b = s.var2 ? s.var2->data[s.index2] : T[s.index2];
        T[j] = s.op == op::If ? math_operation(b != 0.0f ? a : out, 0, op::Copy)
                              : math_operation(a, b, s.op);
      }
      out = T[r.nsteps - 1];
      last = out;
    }
    return last;
  };
  for (const Form& f : forms) {
    const std::string form = f.text;
    std::string tmp_arg = form;  // the form reading cell 0 of "!Exp_tmp"
    if (size_t at = tmp_arg.find("(a)"); at != std::string::npos) tmp_arg.replace(at, 3, "(!Exp_tmp[0])");
    const bool unary = form.find("(a)") != std::string::npos;
    // Alone; first of a row; its first operand the step before.
    const std::string shapes[] = {form, form + " - c", unary ? "a - c + " + tmp_arg : "c * " + form};
    for (const std::string& text : shapes) {
      // Twice, so that it ends a row and ends the last row.
      auto* e = make_expression(text.c_str(), "r1");
      ASSERT_EQ(e->row(0).status, 0) << text;
      ASSERT_TRUE(e->resize(2));
      ASSERT_TRUE(set_row(e, 2, text.c_str(), "r2"));
      for (float a : values)
        for (float b : values) {
          cell("a") = a, cell("b") = b, cell("c") = b;
          cell("r1") = 42, cell("r2") = -7;
          float want = expect_rows(e);
          float want1 = cell("r1"), want2 = cell("r2");
          cell("r1") = 42, cell("r2") = -7;
          EXPECT_EQ(float_bits(e->evaluate()), float_bits(want)) << text << " a=" << a << " b=" << b;
          EXPECT_EQ(float_bits(cell("r1")), float_bits(want1)) << text << " a=" << a << " b=" << b;
          EXPECT_EQ(float_bits(cell("r2")), float_bits(want2)) << text << " a=" << a << " b=" << b;
          for (u16 j = 0; j < e->row(1).nsteps; ++j)
            EXPECT_EQ(float_bits(Exp_tmp.var->data[j]), float_bits(T[j])) << text << " step " << j;
        }
    }
  }
}

// Variables made, grown or renamed after compilation, and after the row
// has run, are read and written where they now are.
TEST_F(ExprEval, VariablesChangeAfterCompilation) {
  cell("v[2]") = 3;
  auto* e = make_expression("(v[2] + 1) * 2", "out[1]");
  EXPECT_EQ(e->evaluate(), 8.0f);
  cell("v[100]");  // grows v: the cell array moves
  cell("out[50]");  // so does the result's
  cell("later") = 1;  // a new variable
  cell("v[2]") = 4;
  EXPECT_TRUE(var_rename("v", "vv"));
  EXPECT_EQ(e->evaluate(), 10.0f);
  EXPECT_EQ(cell("out[1]"), 10.0f);
  // The scratch cells show the row's steps.
  EXPECT_EQ(cell("!Exp_tmp[0]"), 5.0f);
  EXPECT_EQ(cell("!Exp_tmp[1]"), 10.0f);
  // A row given another result writes there from the next run on.
  set_row(e, 1, "(vv[2] + 1) * 2", "other");
  cell("other") = 0;
  e->evaluate();
  EXPECT_EQ(cell("other"), 10.0f);
}
