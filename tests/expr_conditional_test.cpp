#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/registry.h"
#include "expr/conditional.h"
#include "program/editing.h"
#include "tests/support/expr_helpers.h"

namespace {

class ExprConditional : public ExprTest {
 protected:
  // Builds loop 1 from words: "if:F" and "elif:F" (condition formula F),
  // "if" (no rows), "elif=N" (its only row counts its runs in N, so it is
  // true once evaluated), "elif=N:F" (that row, then the condition F),
  // "end", "mod:Name", and any other word a marker counting its runs.
  void build(const std::string& words) {
    std::istringstream in(words);
    for (std::string w; in >> w;) {
      const size_t sep = w.find_first_of(":="), npos = std::string::npos;
      const std::string kind = w.substr(0, sep), arg = sep == npos ? "" : w.substr(sep + 1);
      if (kind == "mod") {
        current_module = current_instruction = new Module(current_instruction, arg.c_str(), 0);
        continue;
      }
      const u16 type = kind == "if" ? 21 : kind == "elif" ? 22 : kind == "end" ? 23 : 20;
      current_instruction = inst_create(type, current_instruction, "i", 1);
      if (type == 23) continue;  // an end has no rows
      auto* e = static_cast<Expression*>(current_instruction);
      if (type == 20) {
        set_row(e, 1, (w + " + 1").c_str(), w.c_str());
      } else if (sep != npos && w[sep] == ':') {
        set_row(e, 1, arg.c_str(), "cond");
      } else if (sep != npos) {
        const size_t colon = arg.find(':');
        const std::string name = arg.substr(0, colon);
        set_row(e, 1, (name + " + 1").c_str(), name.c_str());
        if (colon != npos) {
          e->resize(2);
          set_row(e, 2, arg.substr(colon + 1).c_str(), "cond");
        }
      }
    }
  }

  // One pass of loop 1 the way the engine runs it.
  void pass() {
    current_loop_exec = 0;
    for (Control* c = loop_start[0]; c && c != loop_start[1];) c = c->execute();
  }
};

}  // namespace

// One pass of each program: which markers ran (runs) and the block level
// left behind.
TEST_F(ExprConditional, BranchesNestingAndModuleBoundaries) {
  struct Case {
    const char* program;
    const char* runs;  // "name=count ..."
    int level;
  } const cases[] = {
      {"if:0 skipped end after", "skipped=0 after=1", 0},
      // The ElseIf after a taken If is not even evaluated.
      {"if:1 A elif=elseif_rows B end", "A=1 B=0 elseif_rows=0", 0},
      {"if:0 P elif=e1:0 Q elif:1 R end S", "P=0 Q=0 e1=1 R=1 S=1", 0},
      // A false If passes over a nested block whole.
      {"if:0 if:1 inner elif:1 inner_else end elif:1 X end", "inner=0 inner_else=0 X=1", 0},
      {"if:1 if:0 Y end Z elif:1 not_taken end", "Y=0 Z=1 not_taken=0", 0},
      // A false If without EndIf skips to the next module, which resets
      // the block state.
      {"if:0 skipped mod:Second second_runs", "skipped=0 second_runs=1", 0},
      // An If whose only row has no result is false; an unbalanced EndIf
      // or a lone ElseIf acts on level 0.
      {"if no_result end end elif:1 lone", "no_result=0 lone=1", 0},
      // Eleven levels: the innermost share level 9 and it never goes beyond.
      {"if:1 if:1 if:1 if:1 if:1 if:1 if:1 if:1 if:1 if:1 if:1 deep", "deep=1", 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    program_new(false);
    build(c.program);
    pass();
    std::istringstream want(c.runs);
    for (std::string w; want >> w;)
      EXPECT_EQ(cell(w.substr(0, w.find('=')).c_str()), std::stof(w.substr(w.find('=') + 1))) << w;
    EXPECT_EQ(if_index[0], c.level);
  }
  // A module start closes every level.
  loop_start[0]->execute();
  EXPECT_EQ(if_index[0], 0);
  EXPECT_EQ(if_status[0][9], 0);
  program_new(false);
  build("if:0 x end");
  pass();
  EXPECT_EQ(if_status[0][0], 0);

  // Each loop has its own block state.
  if_status[1][0] = 1;
  pass();
  EXPECT_EQ(if_status[1][0], 1);
}

// The engine runs the skipping through execute()'s return value.
TEST_F(ExprConditional, UnderTheEngine) {
  build("if:go taken elif:1 otherwise end");
  start_run();
  run_for_us(2'100'000, 10'000);  // two passes of the one-second loop
  EXPECT_EQ(cell("taken"), 0);
  EXPECT_EQ(cell("otherwise"), 2);
  cell("go") = 1;
  run_for_us(1'000'000, 10'000);
  EXPECT_EQ(cell("taken"), 1);
  EXPECT_EQ(cell("otherwise"), 2);
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
      if (c->num() == 21 || c->num() == 22) {
        ASSERT_EQ(static_cast<If*>(c)->next_if(), walked_target(c)) << after;
      }
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
      cursor_at(x);
      if (op == 0 || standard(x)) {
        program_instruction(kinds[pick(7)], "i", 1);
      } else {
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
