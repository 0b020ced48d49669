// Expression (type 20): up to 128 rows, each a result variable and a
// formula compiled when its text is set. Every scan evaluates the rows in
// order; If and ElseIf reuse the rows as their conditions.
#pragma once
#include <string>
#include <vector>

#include "core/rows.h"
#include "expr/math.h"
#include "expr/names.h"
#include "expr/parser.h"

// A compiled step as the row runs it. An operand that is the result of an
// earlier step k of the same row has no variable and index k: the row
// reads it from its own scratch values instead of through "!Exp_tmp".
struct ExpStep {
  Ivar* var1 = nullptr;
  Ivar* var2 = nullptr;
  u16 index1 = 0, index2 = 0;
  u16 op = 0;
};

struct ExpRow {
  pIdata result;            // receives the value; none disables the row
  u8 nsteps = 0;            // 0 disables the row
  u8 status = 0;            // 0 compiled, else 1-based failure position
  std::string text;         // the formula ("" for none)
  std::string comment;
  std::vector<ExpStep> steps;  // exactly nsteps
};

class Expression : public WithRows<Expression> {
 public:
  static constexpr u16 MAX_ROWS = 128;
  static constexpr size_t MAX_TEXT = 255;  // what the program file keeps

  Expression(Control* prev, const char* desc, u16 n);

  u16 num() const override { return 20; }
  Control* execute() override;
  bool sparam(Iparam* p, u16 group, u16 row) override;
  bool resize(u16 n) override;

  // Runs every row; the value written by the last row that ran (0.0 when
  // none ran).
  float evaluate();

  u16 group_count() const { return u16(row_table.size()); }
  const ExpRow& row(u16 i) const { return row_table[i]; }

  static const RowTable<Expression> rows;

 private:
  friend struct ExpressionRows;
  std::vector<ExpRow> row_table;
};

// Compiles text into row (text kept, steps replaced). False, with
// status = failure position + 1 and no steps, when it does not compile.
bool compile_row(ExpRow& row, const char* text);
