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
// reads it from cell k of "!Exp_tmp", whichever variable holds that name
// when the row runs.
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

// A step as an Expression runs it: where the step's code starts (the
// operator's, for a step inside a row, a row's last step or the last row's
// last step, and for a first operand that is the step before's value), the
// operand cells' addresses and the operator code, which only the rarer
// operators read. Built from the rows when the rows or a
// variable change, so that running a step is two loads, the operation and
// a store.
struct ExpCode {
  const void* run;
  const Idata* a;
  const Idata* b;
  u16 op;
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
  // Builds code_ and results_ from the rows, for the scratch cells tcells,
  // with run[6 * code + place] where each step's code starts. Called by evaluate
  // (on the thread that runs the scan) when the rows or any variable
  // changed since the last time; variables move only with the scan
  // stopped, rows only with it paused.
  void resolve(const void* const* run, Idata* tcells);
  // The rows changed: room for their program (made here, on the thread
  // that changes them, so that resolve never allocates), resolved before
  // the next run.
  void rows_changed();
  std::vector<ExpRow> row_table;
  std::vector<ExpCode> code_;     // every row's steps, in order; room for all
  std::vector<Idata*> results_;   // the result cell of each row that runs
  bool runs_ = false;             // code_ holds a step
  u32 resolved_gen_ = 0;          // var_generation when code_ was built
  const Idata* resolved_tcells_ = nullptr;  // the scratch cells it reads
  bool resolved_ = false;
};

// Compiles text into row (text kept, steps replaced). False, with
// status = failure position + 1 and no steps, when it does not compile.
bool compile_row(ExpRow& row, const char* text);
