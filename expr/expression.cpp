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
  size_t steps = 0, most = 0;
  for (const ExpRow& r : row_table) {
    steps += r.nsteps;
    most = std::max<size_t>(most, r.nsteps);
  }
  if (code_.size() < steps) code_.resize(steps);
  if (scratch_.size() < most) scratch_.resize(most);
  resolved_ = false;
}

Control* Expression::execute() {
  if (!row_table.empty() && Exp_tmp.var) evaluate();
  return next;
}

namespace {

// The operators the step loop runs itself, densely numbered; the others
// go to math_rare.
enum Code : u8 {
  kCopy, kAdd, kSub, kMul, kDiv, kIf, kOr, kAnd, kXor, kLogOr, kLogAnd, kEq, kNe, kLt, kLe, kGt,
  kGe, kLogical, kCompl, kMin, kMax, kOrider, kAbs, kNeg, kSqrt, kRare
};

Code code_of(u16 o) {
  switch (o) {
    case op::Copy: return kCopy;
    case op::Add: return kAdd;
    case op::Sub: return kSub;
    case op::Mul: return kMul;
    case op::Div: return kDiv;
    case op::If: return kIf;
    case op::Or: return kOr;
    case op::And: return kAnd;
    case op::Xor: return kXor;
    case op::LogOr: return kLogOr;
    case op::LogAnd: return kLogAnd;
    case op::Eq: return kEq;
    case op::Ne: return kNe;
    case op::Lt: return kLt;
    case op::Le: return kLe;
    case op::Gt: return kGt;
    case op::Ge: return kGe;
    case op::Logical: return kLogical;
    case op::Compl: return kCompl;
    case op::Min: return kMin;
    case op::Max: return kMax;
    case op::Orider: return kOrider;
    case op::Abs: return kAbs;
    case op::Neg: return kNeg;
    case op::Sqrt: return kSqrt;
    default: return kRare;
  }
}

// Read by an operand, or read and written by a row for its result, when
// the cell would lie beyond its variable's end (which the compiler and the
// reference rows never let happen).
Idata no_cell = 0.0f;

Idata* cell_at(Ivar* v, u16 i) { return i <= v->size ? &v->data[i] : &no_cell; }

}  // namespace

void Expression::resolve() {
  resolved_gen_ = var_generation.load(std::memory_order_relaxed);
  resolved_ = true;
  const float* t = scratch_.data();
  ExpCode* c = code_.data();
  for (ExpRow& r : row_table) {
    Ivar* rv = r.result.var;
    if (!rv || r.nsteps == 0) continue;
    Idata* out = cell_at(rv, r.result.index);
    // Every other operand names a variable (the compiler makes sure).
    for (const ExpStep& st : r.steps)
      *c++ = ExpCode{st.var1 ? cell_at(st.var1, st.index1) : &t[st.index1],
                     st.var2 ? cell_at(st.var2, st.index2) : &t[st.index2], out, st.op,
                     code_of(st.op), 0};
    c[-1].last = 1;
  }
  runs_ = c != code_.data();
  if (runs_) c[-1].last = 2;
}

float Expression::evaluate() {
  Ivar* T = Exp_tmp.var;
  if (!T || T->size < MAX_STEPS - 1) return 0.0f;
  if (!resolved_ || resolved_gen_ != var_generation.load(std::memory_order_relaxed)) resolve();
  if (!runs_) return 0.0f;
  // Each step's value goes to the row's own scratch value, which later
  // steps read, and to the cell of "!Exp_tmp" that shows it to clients.
  Idata* const tcells = T->data.get();
  float* const t = scratch_.data();
  float v;
  for (const ExpCode* c = code_.data();; ++c) {
    u32 j = 0;
    for (;; ++c, ++j) {
      const float a = cell_load(c->a), b = cell_load(c->b);
      switch (c->code) {
        case kCopy: v = finite_or_overflow(a); break;
        case kAdd: v = finite_or_overflow(a + b); break;
        case kSub: v = finite_or_overflow(a - b); break;
        case kMul: v = finite_or_overflow(a * b); break;
        case kDiv: v = b == 0.0f ? OVERFLOW_VALUE : finite_or_overflow(a / b); break;
        case kIf: v = finite_or_overflow(b != 0.0f ? a : cell_load(c->r)); break;
        case kOr: v = float(make_binary(a) | make_binary(b)); break;
        case kAnd: v = float(make_binary(a) & make_binary(b)); break;
        case kXor: v = float(make_binary(a) ^ make_binary(b)); break;
        case kLogOr: v = bool_value(a != 0.0f || b != 0.0f); break;
        case kLogAnd: v = bool_value(a != 0.0f && b != 0.0f); break;
        case kEq: v = bool_value(a == b); break;
        case kNe: v = bool_value(a != b); break;
        case kLt: v = bool_value(a < b); break;
        case kLe: v = bool_value(a <= b); break;
        case kGt: v = bool_value(a > b); break;
        case kGe: v = bool_value(a >= b); break;
        case kLogical: v = bool_value(a != 0.0f); break;
        case kCompl: v = bool_value(a == 0.0f); break;
        case kMin: v = finite_or_overflow(b < a ? b : a); break;
        case kMax: v = finite_or_overflow(b > a ? b : a); break;
        case kOrider: v = finite_or_overflow(b < MISSING_FROM ? b : a); break;
        case kAbs: v = finite_or_overflow(std::fabs(a)); break;
        case kNeg: v = finite_or_overflow(-a); break;
        case kSqrt: v = a < 0.0f ? OVERFLOW_VALUE : finite_or_overflow(float(std::sqrt(double(a)))); break;
        case kRare: v = math_rare(a, b, c->op); break;
        default: __builtin_unreachable();
      }
      t[j] = v;
      cell_store(&tcells[j], v);
      if (c->last) break;
    }
    cell_store(c->r, v);
    if (c->last == 2) return v;
  }
}

QUOR_REGISTER_INSTRUCTION(20, Expression);
