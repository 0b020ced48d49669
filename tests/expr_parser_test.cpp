#include <array>
#include <string>

#include "expr/parser.h"
#include "tests/support/expr_helpers.h"

using ExprParser = ExprTest;

namespace {
pIdata ref_of(const char* name) {
  pIdata r;
  EXPECT_TRUE(var_name(name, &r, false)) << name;
  return r;
}
pIdata pool(float v) {
  pIdata r;
  make_constant(v, &r);
  return r;
}
pIdata tmp(u16 k) { return pIdata{Exp_tmp.var, k}; }
// Runs compiled steps plainly, through the scratch cells.
float run_steps(const std::array<Mstep, PARSE_STEPS>& s, int n) {
  for (int j = 0; j < n; ++j)
    Exp_tmp.var->set(u16(j), math_operation(s[size_t(j)].arg1.get(), s[size_t(j)].arg2.get(), s[size_t(j)].op));
  return Exp_tmp.var->get(u16(n - 1));
}
std::string nest(int depth, const std::string& open, const std::string& inner) {
  std::string f;
  for (int i = 0; i < depth; ++i) f += open;
  return f + inner + std::string(size_t(depth), ')');
}
}  // namespace

// The step lists of the worked examples: left to right, parentheses group.
TEST_F(ExprParser, StepLayout) {
  std::array<Mstep, PARSE_STEPS> s;
  for (const char* n : {"a", "b", "c", "x"}) cell(n);

  ASSERT_EQ(expression_parse(s, "a + b * c"), 2);
  EXPECT_EQ(s[0].arg1, ref_of("a"));
  EXPECT_EQ(s[0].arg2, ref_of("b"));
  EXPECT_EQ(s[0].op, 1);
  EXPECT_EQ(s[1].arg1, tmp(0));
  EXPECT_EQ(s[1].arg2, ref_of("c"));
  EXPECT_EQ(s[1].op, 3);
  EXPECT_EQ(Exp_tmp.var->name, "!Exp_tmp");
  EXPECT_EQ(Exp_tmp.var->size, 127);

  ASSERT_EQ(expression_parse(s, "a * (b + c)"), 2);
  EXPECT_EQ(s[0].arg1, ref_of("b"));
  EXPECT_EQ(s[0].op, 1);
  EXPECT_EQ(s[1].arg1, ref_of("a"));
  EXPECT_EQ(s[1].arg2, tmp(0));
  EXPECT_EQ(s[1].op, 3);

  ASSERT_EQ(expression_parse(s, "sin(x) + 1"), 2);
  EXPECT_EQ(s[0].arg1, ref_of("x"));
  EXPECT_EQ(s[0].arg2, ref_of("x"));
  EXPECT_EQ(s[0].op, 144);
  EXPECT_EQ(s[1].arg1, tmp(0));
  EXPECT_EQ(s[1].arg2, pool(1.0f));

  ASSERT_EQ(expression_parse(s, "((a + b))"), 2);
  EXPECT_EQ(s[1].op, 0);
  EXPECT_EQ(s[1].arg1, tmp(0));
  EXPECT_EQ(s[1].arg2, tmp(0));

  ASSERT_EQ(expression_parse(s, "x"), 1);  // a single operand copies
  EXPECT_EQ(s[0].op, 0);
  EXPECT_EQ(s[0].arg2, ref_of("x"));

  // Groups on both sides and after a closed group.
  ASSERT_EQ(expression_parse(s, "(a + b) * (c - x) / 2"), 4);
  EXPECT_EQ(s[2].arg1, tmp(0));
  EXPECT_EQ(s[2].arg2, tmp(1));
  EXPECT_EQ(s[3].arg1, tmp(2));
  ASSERT_EQ(expression_parse(s, "x * (a + (b - c)) + 1"), 4);
  EXPECT_EQ(s[0].op, 2);
  EXPECT_EQ(s[1].arg2, tmp(0));
  EXPECT_EQ(s[2].arg2, tmp(1));
  EXPECT_EQ(s[3].arg1, tmp(2));
}

// Failure positions, as the 1-based status a row reports.
TEST_F(ExprParser, CompileStatus) {
  struct Case {
    const char* text;
    int status;
  };
  const Case cases[] = {
      {"(x)", 3},         {"(sin(x))", 8},      {"x 'max'", 8},       {"(a + b", 7},
      {"a + b)", 6},      {"2 3", 4},           {"a (b)", 3},         {"sin(x + 1)", 6},
      {"-x", 1},          {"x = 2", 4},         {"x + Loop_1", 5},    {"x 'maxi' y", 8},
      {"x 'orider2' y", 10}, {"x 'min y", 9},     {"0x1234567", 1},     {"1e+3", 1},
      {"1.2.3", 1},       {"sin(sin(x))", 5},   {"foo(x)", 1},        {"x + + y", 5},
      {"   ", 1},         {"x ! y", 3},         {"sin( x)", 5},       {"Null + 1", 1},
      {"x +", 4},         {"sin(x", 6},         {"v[3", 1},           {"a + b))", 6},
  };
  for (const auto& c : cases) EXPECT_EQ(status_of(c.text), c.status) << c.text;
  for (const char* ok : {"x", "x + 1", "!System[3] * 2", "#g + x", "x 'max' y", "x != y",
                         "x==y", "a :> b", "a<<2", "((a + b))", "inv(x)"})
    EXPECT_EQ(status_of(ok), 0) << ok;
}

TEST_F(ExprParser, Literals) {
  EXPECT_EQ(eval("0x1F"), 31.0f);
  EXPECT_EQ(eval("0XfFfFfF"), 16777215.0f);
  EXPECT_EQ(eval("0x"), 0.0f);
  EXPECT_EQ(eval("1e-3"), 0.001f);
  EXPECT_EQ(eval("1E3"), 1000.0f);
  EXPECT_EQ(eval(".5"), 0.5f);
  EXPECT_EQ(eval("5."), 5.0f);
  EXPECT_EQ(eval("1e39"), OVERFLOW_VALUE);  // beyond float: the overflow value
  // Literals share pool cells across formulas; 0 is always cell 0.
  eval("2 + 2");
  u16 size = Exp_con.var->size;
  eval("2 + 2 + 0");
  EXPECT_EQ(Exp_con.var->size, size);
  pIdata zero;
  make_constant(0.0f, &zero);
  EXPECT_EQ(zero.index, 0);
}

TEST_F(ExprParser, NamesCreateAndGrowVariables) {
  cell("v[3]");
  EXPECT_EQ(eval("newvar + v[12]"), 0.0f);
  pIdata r;
  ASSERT_TRUE(var_name("newvar", &r, false));  // made in the current module
  Ivar* head = r.var;
  while (head->prev) head = head->prev;
  EXPECT_EQ(head, current_module->rvar());  // made in the module being edited
  EXPECT_EQ(r.var->next, nullptr);          // at the end of its list
  ASSERT_TRUE(var_name("v", &r, false));
  EXPECT_EQ(r.var->size, 12);
}

// 128 steps compile; the operand that would make step 129 is refused. At
// most 126 groups are open at once; the 127th "(" is refused.
TEST_F(ExprParser, Limits) {
  std::array<Mstep, PARSE_STEPS> s;
  std::string f = "x";
  for (int i = 0; i < 128; ++i) f += " + x";
  EXPECT_EQ(expression_parse(s, f.c_str()), 128);
  f += " + y";
  EXPECT_EQ(expression_parse(s, f.c_str()), -int(f.size() - 1));  // at the y

  // Each group 126 deep holds a pending step: 127 steps, the value of
  // 126 + 1 + x with every one of them in place.
  cell("x") = 0.5f;
  std::string deep = nest(126, "1 + (", "1 + x");
  ASSERT_EQ(expression_parse(s, deep.c_str()), 127);
  EXPECT_EQ(run_steps(s, 127), 127.5f);
  EXPECT_EQ(expression_parse(s, nest(127, "1 + (", "1 + x").c_str()), -(126 * 5 + 4));
  std::string g = "x + " + nest(127, "(", "y + 1");
  EXPECT_EQ(expression_parse(s, g.c_str()), -(4 + 126));
  EXPECT_EQ(expression_parse(s, nest(126, "(", "a + b").c_str()), 126);  // closing runs copy

  // Functions take a step of their own.
  std::string fn = "sin(x)";
  for (int i = 0; i < 63; ++i) fn += " + sin(x)";
  EXPECT_EQ(expression_parse(s, (fn + " + 1").c_str()), 128);
  EXPECT_EQ(expression_parse(s, (fn + " + sin(x)").c_str()), -int(fn.size() + 3));
  EXPECT_EQ(Exp_tmp.var->size, 127);

  // In a row: the deepest formula that fits the 255 characters a text
  // keeps runs; one level more is refused at its 127th "(", leaving the
  // row empty; a longer text that compiles is refused at character 256.
  cell("a") = 7;
  cell("b") = 2;
  Expression e(nullptr, "probe", 1);
  std::string row = nest(126, "(", "a-b");
  ASSERT_EQ(row.size(), 255u);
  ASSERT_TRUE(set_row(&e, 1, row.c_str()));
  EXPECT_EQ(e.row(0).nsteps, 126);
  EXPECT_EQ(e.evaluate(), 5.0f);
  EXPECT_FALSE(set_row(&e, 1, nest(127, "(", "a-b").c_str()));
  EXPECT_EQ(e.row(0).status, 127);
  EXPECT_EQ(e.row(0).nsteps, 0);
  EXPECT_EQ(e.row(0).text, "");
  EXPECT_FALSE(set_row(&e, 1, (std::string(300, ' ') + "a").c_str()));
  EXPECT_EQ(e.row(0).status, 255);
}

TEST_F(ExprParser, StepShift) {
  std::array<Mstep, 4> s{};
  for (u16 i = 0; i < 4; ++i) s[i].op = u16(i + 1);
  step_shift(s, 1, 2);
  EXPECT_EQ(s[0].op, 1);
  EXPECT_EQ(s[1].op, 0);
  EXPECT_EQ(s[2].op, 2);
  EXPECT_EQ(s[3].op, 3);
  step_shift(s, 2, 2);  // would leave the array: nothing happens
  EXPECT_EQ(s[3].op, 3);
}
