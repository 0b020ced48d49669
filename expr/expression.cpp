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
  return true;
}

bool Expression::sparam(Iparam* p, u16 group, u16 row) {
  // The status row takes any type code and changes nothing.
  if (row == 1 && group >= 1 && group <= row_table.size()) return true;
  return WithRows::sparam(p, group, row);
}

Control* Expression::execute() {
  if (!row_table.empty() && Exp_tmp.var) evaluate();
  return next;
}

float Expression::evaluate() {
  Ivar* T = Exp_tmp.var;
  float last = 0.0f;
  if (!T || T->size < MAX_STEPS - 1) return last;
  Idata* tcells = T->data.get();
  float t[MAX_STEPS];
  for (ExpRow& r : row_table) {
    if (!r.result.var || r.nsteps == 0) continue;
    const ExpStep* s = r.steps.data();
    const u32 n = r.nsteps;
    float v = 0.0f;
    for (u32 j = 0; j < n; ++j) {
      const ExpStep& st = s[j];
      // Every other operand names a variable (the compiler makes sure);
      // the variable's own bounds check applies.
      float a = st.var1 ? st.var1->get(st.index1) : t[st.index1];
      float b = st.var2 ? st.var2->get(st.index2) : t[st.index2];
      if (st.op == op::If)
        v = finite_or_overflow(b != 0.0f ? a : r.result.get());
      else
        v = math_operation(a, b, st.op);
      t[j] = v;
    }
    // The scratch cells show the row's steps, as clients may read them.
    for (u32 j = 0; j < n; ++j) cell_store(&tcells[j], t[j]);
    r.result.set(v);
    last = v;
  }
  return last;
}

QUOR_REGISTER_INSTRUCTION(20, Expression);
