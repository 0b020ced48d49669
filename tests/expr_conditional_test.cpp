#include <random>
#include <vector>

#include "core/registry.h"
#include "expr/conditional.h"
#include "program/editing.h"
#include "tests/support/expr_helpers.h"

namespace {

class ExprConditional : public ExprTest {
 protected:
  // Appends an If/ElseIf (condition formula), an EndIf, a marker Expression
  // that counts its runs in the named cell, or a module.
  Control* add(u16 type, const char* text = nullptr) {
    Control* c;
    if (type == 0) {
      c = new Module(current_instruction, text, 0);
      current_module = c;
    } else {
      c = inst_create(type, current_instruction, "i", 1);
    }
    current_instruction = c;
    if ((type == 21 || type == 22) && text) set_row(static_cast<Expression*>(c), 1, text, "cond");
    if (type == 20) set_row(static_cast<Expression*>(c), 1, (std::string(text) + " + 1").c_str(), text);
    return c;
  }
  Control* cond(const char* f) { return add(21, f); }
  Control* elseif(const char* f) { return add(22, f); }
  Control* endif() { return add(23); }
  Control* mark(const char* name) { return add(20, name); }

  // One pass of loop 1 the way the engine runs it.
  void pass() {
    current_loop_exec = 0;
    for (Control* c = loop_start[0]; c && c != loop_start[1];) c = c->execute();
  }
  float runs(const char* name) { return cell(name); }
};

}  // namespace

TEST_F(ExprConditional, BranchSelection) {
  cond("0");
  mark("skipped");
  endif();
  mark("after");
  pass();
  EXPECT_EQ(runs("skipped"), 0);
  EXPECT_EQ(runs("after"), 1);
  EXPECT_EQ(if_index[0], 0);
  EXPECT_EQ(if_status[0][0], 0);

  // If(true) A ElseIf(true) B EndIf: the ElseIf's rows are not evaluated.
  program_new(false);
  cond("1");
  mark("A");
  auto* e = static_cast<Expression*>(elseif("1"));
  set_row(e, 1, "elseif_rows + 1", "elseif_rows");
  mark("B");
  endif();
  pass();
  EXPECT_EQ(runs("A"), 1);
  EXPECT_EQ(runs("B"), 0);
  EXPECT_EQ(runs("elseif_rows"), 0);

  // If(false) P ElseIf(false) Q ElseIf(true) R EndIf.
  program_new(false);
  cond("0");
  mark("P");
  auto* e1 = static_cast<Expression*>(elseif("0"));
  set_row(e1, 1, "e1 + 1", "e1");
  e1->resize(2);
  set_row(e1, 2, "0", "cond");
  mark("Q");
  elseif("1");
  mark("R");
  endif();
  mark("S");
  pass();
  EXPECT_EQ(runs("P") + runs("Q"), 0);
  EXPECT_EQ(runs("e1"), 1);  // evaluated, found false
  EXPECT_EQ(runs("R"), 1);
  EXPECT_EQ(runs("S"), 1);
}

TEST_F(ExprConditional, Nesting) {
  // A false If passes over a nested block whole.
  cond("0");
  cond("1");
  mark("inner");
  elseif("1");
  mark("inner_else");
  endif();
  elseif("1");
  mark("X");
  endif();
  pass();
  EXPECT_EQ(runs("inner") + runs("inner_else"), 0);
  EXPECT_EQ(runs("X"), 1);
  EXPECT_EQ(if_index[0], 0);

  // If(true) { If(false) Y EndIf; Z } EndIf.
  program_new(false);
  cond("1");
  cond("0");
  mark("Y");
  endif();
  mark("Z");
  elseif("1");
  mark("not_taken");
  endif();
  pass();
  EXPECT_EQ(runs("Y"), 0);
  EXPECT_EQ(runs("Z"), 1);
  EXPECT_EQ(runs("not_taken"), 0);
  EXPECT_EQ(if_index[0], 0);

  // Eleven levels: the innermost share level 9 and it never goes beyond.
  program_new(false);
  for (int i = 0; i < 11; ++i) cond("1");
  mark("deep");
  pass();
  EXPECT_EQ(runs("deep"), 1);
  EXPECT_EQ(if_index[0], 9);
  loop_start[0]->execute();  // a module start closes every level
  EXPECT_EQ(if_index[0], 0);
  EXPECT_EQ(if_status[0][9], 0);
}

TEST_F(ExprConditional, ModuleBoundaries) {
  // A false If without EndIf skips to the next module, which resets the
  // block state.
  cond("0");
  mark("skipped");
  add(0, "Second");
  mark("second_runs");
  pass();
  EXPECT_EQ(runs("skipped"), 0);
  EXPECT_EQ(runs("second_runs"), 1);

  // An If whose only row has no result is false; an unbalanced EndIf or a
  // lone ElseIf acts on level 0.
  program_new(false);
  add(21);  // no rows set
  mark("no_result");
  endif();
  endif();
  elseif("1");
  mark("lone");
  pass();
  EXPECT_EQ(runs("no_result"), 0);
  EXPECT_EQ(runs("lone"), 1);
  EXPECT_EQ(if_index[0], 0);

  // Each loop has its own block state.
  if_status[1][0] = 1;
  pass();
  EXPECT_EQ(if_status[1][0], 1);
}

// The engine runs the skipping through execute()'s return value.
TEST_F(ExprConditional, UnderTheEngine) {
  cell("go") = 0;
  cond("go");
  mark("taken");
  elseif("1");
  mark("otherwise");
  endif();
  start_run();
  run_for_us(2'100'000, 10'000);  // two passes of the one-second loop
  EXPECT_EQ(runs("taken"), 0);
  EXPECT_EQ(runs("otherwise"), 2);
  cell("go") = 1;
  run_for_us(1'000'000, 10'000);
  EXPECT_EQ(runs("taken"), 1);
  EXPECT_EQ(runs("otherwise"), 2);
}

namespace {

// The jump target by walking the list from x, as each false condition
// once did: the first ElseIf or EndIf of x's block, or the next module.
Control* walked_target(Control* x) {
  int nested = 0;
  for (Control* c = x->next; c; c = c->next) {
    u16 t = c->num();
    if (t == 0) return c;
    if (nested) {
      nested += t == 21 ? 1 : t == 23 ? -1 : 0;
    } else if (t == 21) {
      nested = 1;
    } else if (t == 22 || t == 23) {
      return c;
    }
  }
  return nullptr;
}

std::vector<Control*> elements() {
  std::vector<Control*> all;
  for (Control* c = loop_start[0]; c; c = c->next) all.push_back(c);
  return all;
}

void cursor_at(Control* c) {
  current_instruction = c;
  current_module = module_of(c);
  current_loop = loop_of(c);
}

}  // namespace

// Random programs of If, ElseIf, EndIf, other instructions and modules,
// changed by random inserts, deletes and moves: after every edit each If
// and ElseIf jumps where the walk would have taken it (unbalanced blocks,
// nesting, blocks cut by modules and the loop ends included).
TEST_F(ExprConditional, CachedTargetsEqualTheWalk) {
  std::mt19937 rng(12);
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  const u16 kinds[] = {21, 21, 22, 23, 23, 20, 0};
  auto check = [&](const char* after) {
    for (Control* c : elements())
      if (c->num() == 21 || c->num() == 22)
        ASSERT_EQ(static_cast<If*>(c)->next_if(), walked_target(c)) << after;
  };
  auto standard = [](Control* c) { return std::find(loop_start, loop_start + 5, c) != loop_start + 5; };
  for (int program = 0; program < 20; ++program) {
    program_new(false);
    for (int i = 0; i < 30; ++i) {
      std::vector<Control*> all = elements();
      cursor_at(all[size_t(pick(int(all.size()) - 1))]);  // never after End
      program_instruction(kinds[pick(7)], "i", 1);
    }
    check("building");
    for (int edit = 0; edit < 30; ++edit) {
      std::vector<Control*> all = elements();
      Control* x = all[size_t(pick(int(all.size()) - 1))];
      int op = pick(3);
      if (op == 0 || standard(x)) {
        cursor_at(x);
        program_instruction(kinds[pick(7)], "i", 1);
      } else {
        cursor_at(x);
        program_blockstart();
        program_block();
        if (op == 1) {
          program_delete();
        } else {
          cursor_at(all[size_t(pick(int(all.size()) - 1))]);
          program_move();
        }
      }
      check(op == 0 ? "insert" : op == 1 ? "delete" : "move");
    }
  }
}
