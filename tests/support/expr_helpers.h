// Helpers for formula tests: compile a formula into an Expression row in
// the current module and evaluate it.
#pragma once
#include <string>

#include "expr/expression.h"
#include "tests/support/fixture.h"

class ExprTest : public ProgramTest {
 protected:
  // An Expression with one row writing "out", appended to the current module.
  Expression* make_expression(const char* formula, const char* result = "out") {
    auto* e = new Expression(current_instruction, "calc", 1);
    current_instruction = e;
    set_row(e, 1, formula, result);
    return e;
  }
  // Sets result and formula of row g; returns what the formula set returned.
  bool set_row(Expression* e, u16 g, const char* formula, const char* result = "out") {
    Iparam p;
    p.type = ptype::Ref;
    EXPECT_TRUE(var_name(result, &p.ref, true));
    EXPECT_TRUE(e->sparam(&p, g, 0));
    Iparam t;
    t.type = ptype::Text;
    t.text = formula;
    return e->sparam(&t, g, 2);
  }
  // The compile status of formula (0 = compiled).
  int status_of(const char* formula) {
    Expression e(nullptr, "probe", 1);
    set_row(&e, 1, formula);
    return e.row(0).status;
  }
  // The value of a formula, evaluated once.
  float eval(const char* formula) {
    Expression e(nullptr, "probe", 1);
    EXPECT_TRUE(set_row(&e, 1, formula)) << formula << " status " << int(e.row(0).status);
    return e.evaluate();
  }
  float& cell(const char* name) {
    pIdata r;
    EXPECT_TRUE(var_name(name, &r, true));
    return r.var->data[r.index];
  }
};
