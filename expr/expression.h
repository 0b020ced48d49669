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

// A step as an Expression runs it: the operand cells' addresses (an
// earlier step's value is read from the row's scratch values), the row's
// result cell (read by "if", which keeps the result's present value, and
// written after the row's last step), and the operator as a dense code
// with the original one (op) for the rarer operators. Built from the rows
// when the rows or a variable change, so that running a step is two loads,
// the operation and a store.
struct ExpCode {
  const Idata* a;
  const Idata* b;
  Idata* r;
  u16 op;
  u8 code;
  u8 last;  // 1 the row's last step, 2 also the last row's
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
  // Builds code_ from the rows. Called by evaluate (on the thread that runs
  // the scan) when the rows or any variable changed since the last time;
  // variables move only with the scan stopped, rows only with it paused.
  void resolve();
  // The rows changed: room for their program (made here, on the thread
  // that changes them, so that resolve never allocates), resolved before
  // the next run.
  void rows_changed();
  std::vector<ExpRow> row_table;
  std::vector<ExpCode> code_;   // every row's steps, in order; room for all
  bool runs_ = false;           // code_ holds a step
  std::vector<float> scratch_;  // step values of the row being run
  u32 resolved_gen_ = 0;        // var_generation when code_ was built
  bool resolved_ = false;
};

// Compiles text into row (text kept, steps replaced). False, with
// status = failure position + 1 and no steps, when it does not compile.
bool compile_row(ExpRow& row, const char* text);
