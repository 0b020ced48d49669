// Conditional blocks: If (21) ... ElseIf (22) ... EndIf (23). If and ElseIf
// are expressions whose last row that ran is the condition; a branch not
// taken is skipped by returning a later instruction from execute(). The
// block state is kept per executing loop in if_status/if_index (engine),
// and every module start clears it, so blocks never span modules.
#pragma once
#include "expr/expression.h"

class If : public Expression {
 public:
  using Expression::Expression;
  u16 num() const override { return 21; }
  Control* execute() override;

  // The first ElseIf or EndIf of this block after this instruction, or the
  // next module, whichever comes first; nested blocks are passed over.
  // Worked out for the whole module at the first call after the program
  // list changed (program_shape), then kept.
  Control* next_if() {
    if (target_shape_ != program_shape.load(std::memory_order_relaxed)) find_targets(this);
    return target_;
  }
  // Evaluates the condition at the current level: next when true, else
  // next_if().
  Control* ifelse_execute();

 private:
  // Sets the target of every If and ElseIf of the module around `from`.
  static void find_targets(Control* from);
  Control* target_ = nullptr;
  u32 target_shape_ = 0;  // program_shape when target_ was found
};

class ElseIf : public If {
 public:
  using If::If;
  u16 num() const override { return 22; }
  Control* execute() override;
};

class EndIf : public Control {
 public:
  EndIf(Control* prev, const char* desc, u16) : Control(prev, desc) {}
  u16 num() const override { return 23; }
  Control* execute() override;
};
