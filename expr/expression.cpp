#include "expr/expression.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/registry.h"

bool compile_row(ExpRow& r, const char* text) {
  r.nsteps = 0;
  r.status = 0;
  r.steps.clear();
  r.text = text ? text : "";
  if (r.text.empty()) return true;
  std::array<Mstep, PARSE_STEPS> scratch;
  int n = expression_parse(scratch, r.text.c_str());
  if (n <= 0) {
    // Position + 1, kept below 256 so that a failure never reads as 0.
    r.status = u8(std::min(1 - n, 255));
    return false;
  }
  r.steps.resize(size_t(n));
  for (int j = 0; j < n; ++j) {
    const Mstep& m = scratch[size_t(j)];
    // Cell k < j of "!Exp_tmp" holds what step k has just computed.
    auto var = [&](const pIdata& a) {
      return a.var == Exp_tmp.var && a.index < j ? nullptr : a.var;
    };
    r.steps[size_t(j)] = ExpStep{var(m.arg1), var(m.arg2), m.arg1.index, m.arg2.index, m.op};
  }
  r.nsteps = u8(n);
  return true;
}

struct ExpressionRows {
  static ExpRow& at(Expression& e, u16 g) { return e.row_table[g - 1]; }

  static void get_status(Expression& e, u16 g, Iparam& p, const Row<Expression>&) {
    p.value = at(e, g).status;
  }
  static bool set_ignored(Expression&, u16, const Iparam&, const Row<Expression>&) {
    return true;
  }
  static void get_text(Expression& e, u16 g, Iparam& p, const Row<Expression>&) {
    const std::string& t = at(e, g).text;
    p.text = t.empty() ? nullptr : t.c_str();
  }
  static bool set_text(Expression& e, u16 g, const Iparam& p, const Row<Expression>&) {
    ExpRow& r = at(e, g);
    if (p.text && std::strlen(p.text) > Expression::MAX_TEXT) {
      // The program file keeps only MAX_TEXT characters, so a longer
      // formula is refused and the row left empty. Its status is where it
      // first fails: where the compiler stops, else the first character
      // beyond what is kept (both kept below 256).
      compile_row(r, p.text);
      u8 status = r.status ? r.status : u8(std::min<size_t>(Expression::MAX_TEXT + 1, 255));
      compile_row(r, nullptr);
      r.status = status;
      return false;
    }
    return compile_row(r, p.text);
  }
  static void get_comment(Expression& e, u16 g, Iparam& p, const Row<Expression>&) {
    const std::string& t = at(e, g).comment;
    p.text = t.empty() ? nullptr : t.c_str();
  }
  static bool set_comment(Expression& e, u16 g, const Iparam& p, const Row<Expression>&) {
    if (p.text && std::strlen(p.text) > Expression::MAX_TEXT) return false;
    at(e, g).comment = p.text ? p.text : "";
    return true;
  }
};

const RowTable<Expression> Expression::rows{
    {},
    {
        rows::gref<&Expression::row_table, &ExpRow::result>("Result"),
        rows::custom<Expression>("Status", ptype::Dec, &ExpressionRows::get_status,
                                 &ExpressionRows::set_ignored),
        rows::custom<Expression>("Expression", ptype::Text, &ExpressionRows::get_text,
                                 &ExpressionRows::set_text),
        rows::custom<Expression>("Comment", ptype::Text, &ExpressionRows::get_comment,
                                 &ExpressionRows::set_comment),
    }};

Expression::Expression(Control* prev, const char* desc, u16 n) : WithRows(prev, desc) {
  resize(n);
}

bool Expression::resize(u16 n) {
  row_table.resize(std::clamp<u16>(n, 1, MAX_ROWS));
  rows_changed();
  return true;
}

bool Expression::sparam(Iparam* p, u16 group, u16 row) {
  // The status row takes any type code and changes nothing.
  if (row == 1 && group >= 1 && group <= row_table.size()) return true;
  bool ok = WithRows::sparam(p, group, row);
  rows_changed();
  return ok;
}

void Expression::rows_changed() {
  size_t steps = 0;
  for (const ExpRow& r : row_table) steps += r.nsteps;
  if (code_.size() < steps) code_.resize(steps);
  if (results_.size() < row_table.size()) results_.resize(row_table.size());
  resolved_ = false;
}

Control* Expression::execute() {
  if (!row_table.empty() && Exp_tmp.var) evaluate();
  return next;
}

// The operators the step loop runs itself, with the number of operands
// they read and the value they give; every other operator goes to
// math_rare. Comparisons and logic cannot give an infinity or a NaN, the
// others are checked.
#define QUOR_EXPR_STEPS(X)                                                          \
  X(Copy, 1, finite_or_overflow(a))                                                 \
  X(Add, 2, finite_or_overflow(a + b))                                              \
  X(Sub, 2, finite_or_overflow(a - b))                                              \
  X(Mul, 2, finite_or_overflow(a * b))                                              \
  X(Div, 2, b == 0.0f ? OVERFLOW_VALUE : finite_or_overflow(a / b))                 \
  X(If, 2, finite_or_overflow(b != 0.0f ? a : cell_load(*rp)))                      \
  X(Or, 2, float(make_binary(a) | make_binary(b)))                                  \
  X(And, 2, float(make_binary(a) & make_binary(b)))                                 \
  X(Xor, 2, float(make_binary(a) ^ make_binary(b)))                                 \
  X(LogOr, 2, bool_value(a != 0.0f || b != 0.0f))                                   \
  X(LogAnd, 2, bool_value(a != 0.0f && b != 0.0f))                                  \
  X(Eq, 2, bool_value(a == b))                                                      \
  X(Ne, 2, bool_value(a != b))                                                      \
  X(Lt, 2, bool_value(a < b))                                                       \
  X(Le, 2, bool_value(a <= b))                                                      \
  X(Gt, 2, bool_value(a > b))                                                       \
  X(Ge, 2, bool_value(a >= b))                                                      \
  X(Logical, 1, bool_value(a != 0.0f))                                              \
  X(Compl, 1, bool_value(a == 0.0f))                                                \
  X(Min, 2, finite_or_overflow(b < a ? b : a))                                      \
  X(Max, 2, finite_or_overflow(b > a ? b : a))                                      \
  X(Orider, 2, finite_or_overflow(b < MISSING_FROM ? b : a))                        \
  X(Abs, 1, finite_or_overflow(std::fabs(a)))                                       \
  X(Neg, 1, finite_or_overflow(-a))                                                 \
  X(Sqrt, 1, a < 0.0f ? OVERFLOW_VALUE : finite_or_overflow(float(std::sqrt(double(a)))))

namespace {

// Where a step stands: inside a row, a row's last step, the last row's;
// and whether its first operand is what the step before it computed (the
// common chain a + b * c), which it then takes from a register.
enum Place : u8 { kInside, kRowEnd, kEnd, kChained };

#define QUOR_EXPR_CODE(name, operands, value) k##name,
enum Code : u8 { QUOR_EXPR_STEPS(QUOR_EXPR_CODE) kRare };
#undef QUOR_EXPR_CODE

Code code_of(u16 o) {
  switch (o) {
#define QUOR_EXPR_CASE(name, operands, value) \
  case op::name: return k##name;
    QUOR_EXPR_STEPS(QUOR_EXPR_CASE)
#undef QUOR_EXPR_CASE
    default: return kRare;
  }
}

// Read by an operand, or read and written by a row for its result, when
// the cell would lie beyond its variable's end (which the compiler and the
// reference rows never let happen).
Idata no_cell = 0.0f;

Idata* cell_at(Ivar* v, u16 i) { return i <= v->size ? &v->data[i] : &no_cell; }

}  // namespace

void Expression::resolve(const void* const* run, Idata* tcells) {
  resolved_gen_ = var_generation.load(std::memory_order_relaxed);
  resolved_tcells_ = tcells;
  resolved_ = true;
  auto runs = [](const ExpRow& r) { return r.result.var && r.nsteps != 0; };
  const ExpRow* last = nullptr;
  for (const ExpRow& r : row_table)
    if (runs(r)) last = &r;
  runs_ = last != nullptr;
  ExpCode* c = code_.data();
  Idata** res = results_.data();
  for (const ExpRow& r : row_table) {
    if (!runs(r)) continue;
    *res++ = cell_at(r.result.var, r.result.index);
    for (u32 j = 0; j < r.nsteps; ++j) {
      const ExpStep& st = r.steps[j];
      const bool chained = j > 0 && !st.var1 && st.index1 == j - 1;
      const Place place = j + 1 < r.nsteps ? kInside : &r == last ? kEnd : kRowEnd;
      // Every other operand names a variable (the compiler makes sure).
      *c++ = ExpCode{run[6 * code_of(st.op) + (chained ? kChained : 0) + place],
                     st.var1 ? cell_at(st.var1, st.index1) : &tcells[st.index1],
                     st.var2 ? cell_at(st.var2, st.index2) : &tcells[st.index2], st.op};
    }
  }
}

// Threaded code: every step ends by jumping straight to the next step's
// code, and a row's last step stores the row's result, so the loop tests
// nothing per step. Each step's value goes to the cell of "!Exp_tmp" that
// later steps of the row read and clients see. Each step's code keeps its
// own jump (GCC would otherwise merge the identical ends of the steps into
// one, and one jump guesses its target worse than one per operator).
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-crossjumping")))
#endif
float Expression::evaluate() {
#define QUOR_EXPR_LABELS(name, operands, value) \
  &&name##_in, &&name##_row, &&name##_end, &&name##_chained_in, &&name##_chained_row, &&name##_chained_end,
  static const void* const run[] = {QUOR_EXPR_STEPS(QUOR_EXPR_LABELS) QUOR_EXPR_LABELS(Rare, 2, )};
#undef QUOR_EXPR_LABELS
  Ivar* T = Exp_tmp.var;
  if (!T || T->size < MAX_STEPS - 1) return 0.0f;
  Idata* const tcells = T->data.get();
  if (!resolved_ || resolved_tcells_ != tcells ||
      resolved_gen_ != var_generation.load(std::memory_order_relaxed))
    resolve(run, tcells);
  if (!runs_) return 0.0f;
  const ExpCode* c = code_.data();
  Idata* const* rp = results_.data();  // the result cell of the row running
  Idata* tp = tcells;                  // the cell of the step running
  float a, b, v = 0.0f;
  goto *c->run;

#define QUOR_EXPR_LOAD_1 a = cell_load(c->a);
#define QUOR_EXPR_LOAD_2 a = cell_load(c->a), b = cell_load(c->b);
#define QUOR_EXPR_LOAD_1_chained a = v;
#define QUOR_EXPR_LOAD_2_chained a = v, b = cell_load(c->b);
#define QUOR_EXPR_PLACES(name, load, value) \
  name##_in:                                \
  load v = value;                           \
  cell_store(tp++, v);                      \
  ++c;                                      \
  goto *c->run;                             \
  name##_row:                               \
  load v = value;                           \
  cell_store(tp, v);                        \
  cell_store(*rp++, v);                     \
  tp = tcells;                              \
  ++c;                                      \
  goto *c->run;                             \
  name##_end:                               \
  load v = value;                           \
  cell_store(tp, v);                        \
  cell_store(*rp, v);                       \
  return v;
#define QUOR_EXPR_RUN(name, operands, value)                          \
  QUOR_EXPR_PLACES(name, QUOR_EXPR_LOAD_##operands, value)            \
  QUOR_EXPR_PLACES(name##_chained, QUOR_EXPR_LOAD_##operands##_chained, value)
  QUOR_EXPR_STEPS(QUOR_EXPR_RUN)
  QUOR_EXPR_RUN(Rare, 2, (math_rare(a, b, c->op)))
#undef QUOR_EXPR_RUN
#undef QUOR_EXPR_PLACES
#undef QUOR_EXPR_LOAD_1
#undef QUOR_EXPR_LOAD_2
#undef QUOR_EXPR_LOAD_1_chained
#undef QUOR_EXPR_LOAD_2_chained
}
#undef QUOR_EXPR_STEPS

QUOR_REGISTER_INSTRUCTION(20, Expression);
