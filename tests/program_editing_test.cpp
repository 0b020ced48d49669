#include <string>
#include <vector>

#include "core/hooks.h"
#include "expr/expression.h"
#include "tests/support/fake_hmi.h"
#include "tests/support/hook_guard.h"
#include "program/cursor.h"
#include "program/editing.h"
#include "program/naming.h"
#include "program/refs.h"
#include "tests/support/test_inst.h"

namespace {

class Editing : public TestInstProgram {
 protected:
  // Inserts after the cursor and returns the new element.
  Control* ins(u16 type, const char* desc, u16 n = 1) {
    EXPECT_TRUE(program_instruction(type, desc, n)) << desc;
    return current_instruction;
  }
  Control* inst(const char* desc) { return ins(TestInst::type, desc); }
  void at(Control* c) {
    current_instruction = c;
    current_module = module_of(c);
    current_loop = loop_of(c);
  }
  // The program list as "desc" names, and a check of both link chains.
  std::string listing() {
    std::string s;
    Control* last = nullptr;
    Module* lastmod = nullptr;
    for (Control* c = loop_start[0]; c; c = c->next) {
      EXPECT_EQ(c->prev, last);
      if (c->num() == 0) {
        auto* m = static_cast<Module*>(c);
        EXPECT_EQ(m->prev_module, lastmod) << m->desc;
        if (lastmod) {
          EXPECT_EQ(lastmod->next_module, m) << m->desc;
        }
        lastmod = m;
      }
      s += (s.empty() ? "" : " ") + c->desc;
      last = c;
    }
    EXPECT_EQ(last, loop_start[4]);
    return s;
  }
  static TestInst* ti(Control* c) { return static_cast<TestInst*>(c); }
  // Marks the block from one element to another.
  bool mark(Control* from, Control* to) {
    at(from);
    program_blockstart();
    at(to);
    return program_block();
  }
};

TEST(Naming, Rules) {
  EXPECT_TRUE(valid_char(' ') && valid_char('~'));
  EXPECT_FALSE(valid_char('|') || valid_char('\t') || valid_char(char(127)) || valid_char(char(0xE9)));
  for (const char* r : {"Loop_1", "Loop_4", "End", "System", static_cast<const char*>(nullptr)})
    EXPECT_FALSE(check_desc(r));
  EXPECT_TRUE(check_desc("Loop_5") && check_desc("end") && check_desc(""));
  EXPECT_FALSE(check_desc("a|b"));
}

TEST_F(Editing, InsertAndRename) {
  Control* a = ins(0, "A");
  Control* a1 = inst("a1");
  inst("a2");
  at(a1);
  // A module inserted mid-module goes after that module's last instruction.
  Control* b = ins(0, "B");
  EXPECT_EQ(current_module, b);
  EXPECT_EQ(listing(), "Loop_1 A a1 a2 B Loop_2 Loop_3 Loop_4 End");
  EXPECT_EQ(static_cast<Module*>(b)->prev_module, a);

  // Refusals change nothing.
  for (auto [type, desc] : {std::pair<u16, const char*>{TestInst::type, "End"}, {TestInst::type, "x|y"}, {33, "x"}})
    EXPECT_FALSE(program_instruction(type, desc, 1)) << desc;
  at(loop_start[4]);
  for (u16 type : {TestInst::type, u16(0)}) EXPECT_FALSE(program_instruction(type, "after end", 1));
  EXPECT_EQ(listing(), "Loop_1 A a1 a2 B Loop_2 Loop_3 Loop_4 End");

  // The last module of loop 4 is followed by "End": a module still fits.
  at(loop_start[3]);
  ins(0, "D");
  EXPECT_EQ(current_loop, 3);

  for (int L = 0; L < 5; ++L) {
    at(loop_start[L]);
    EXPECT_FALSE(program_rename("Other")) << L;
  }
  at(b);
  EXPECT_TRUE(program_blockstart());
  EXPECT_FALSE(program_rename("Loop_2"));
  EXPECT_EQ(block_start, nullptr);  // renaming clears the block
  EXPECT_TRUE(program_rename("B2"));
  EXPECT_EQ(b->desc, "B2");
}

TEST_F(Editing, CursorMoves) {
  // Loop_1 A a1 Loop_2 Loop_3 Loop_4 D d1 End
  Control* a = ins(0, "A");
  inst("a1");
  at(loop_start[3]);
  ins(0, "D");
  Control* d1 = inst("d1");
  // A move ('i' instructions, 'm' modules, 'l' loop), its result, and the
  // cursor after it: loop, element, module (null: not checked).
  struct Move {
    char op;
    int n, ret, loop;
    const char *inst, *mod;
  };
  auto run = [&](std::initializer_list<Move> moves) {
    for (const Move& m : moves) {
      int r = m.op == 'i' ? position_instruction(m.n) : m.op == 'm' ? position_module(m.n) : position_loop(m.n);
      EXPECT_EQ(r, m.ret) << m.op << m.n;
      EXPECT_EQ(current_loop, m.loop) << m.op << m.n;
      EXPECT_EQ(current_instruction->desc, m.inst) << m.op << m.n;
      if (m.mod) {
        EXPECT_EQ(current_module->desc, m.mod) << m.op << m.n;
      }
    }
  };
  at(d1);
  run({{'i', 5, 1, 3, "End", nullptr},  // five from just before "End": one step
       {'i', -2, -2, 3, "D", "D"},
       {'i', -2, -2, 2, "Loop_3", "Loop_3"},  // leaves loop 4
       {'i', -100, -4, 0, "Loop_1", nullptr},  // back to the start, keeping track of the loop
       {'i', -1, 0, 0, "Loop_1", nullptr},
       {'i', 4, 4, 2, "Loop_3", nullptr}});
  EXPECT_EQ(instruction_index_pos(), 4u);
  at(a);
  run({{'m', -3, -1, 0, "Loop_1", nullptr},  // stops on "Loop_1"
       {'m', -1, 0, 0, "Loop_1", nullptr},
       {'m', 100, 6, 4, "End", nullptr},
       {'m', -2, -2, 3, "Loop_4", "Loop_4"}});
  at(loop_start[4]);
  current_loop = 4;
  run({{'m', 1, 0, 0, "Loop_1", nullptr},  // past the end
       {'l', 3, 1, 3, "Loop_4", nullptr},
       {'l', 4, 0, 3, "Loop_4", nullptr}});
}

TEST_F(Editing, BlockRules) {
  Control* a = ins(0, "A");
  Control* a1 = inst("a1");
  Control* a2 = inst("a2");
  Control* b = ins(0, "B");
  Control* b1 = inst("b1");
  inst("b2");

  // Instruction block within one module.
  ASSERT_TRUE(mark(a1, a2));
  EXPECT_EQ(block_len, 2);
  EXPECT_EQ(bcheck(nullptr, false), 1);

  // From an instruction of A to one of B: invalid, and no block remains.
  EXPECT_FALSE(mark(a1, b1));
  EXPECT_EQ(block_start, nullptr);
  EXPECT_EQ(bcheck(nullptr, false), 0);

  // Module A with the cursor in B covers A and B completely.
  ASSERT_TRUE(mark(a, b1));
  EXPECT_EQ(block_len, 6);
  EXPECT_EQ(block_end->desc, "b2");
  EXPECT_EQ(block_module_end, b);
  EXPECT_EQ(bcheck(nullptr, false), 2);

  // A block over a standard module, or closed before its start, is invalid.
  at(b);
  program_blockstart();
  position_instruction(3);  // onto "Loop_2"
  EXPECT_FALSE(program_block());
  EXPECT_FALSE(mark(loop_start[0], loop_start[0]));
  EXPECT_FALSE(mark(a2, a1));

}

TEST_F(Editing, Delete) {
  Control* a = ins(0, "A");
  Control* a1 = inst("a1");
  Control* a2 = inst("a2");
  inst("a3");
  ins(0, "B");
  inst("b1");
  mark(a1, a2);
  break_execute = a2;
  at(loop_start[0]);
  EXPECT_TRUE(program_delete());
  EXPECT_EQ(listing(), "Loop_1 A a3 B b1 Loop_2 Loop_3 Loop_4 End");
  EXPECT_EQ(current_instruction, a);  // the instruction before the block
  EXPECT_EQ(break_execute.load(), nullptr);
  EXPECT_EQ(block_start, nullptr);
  EXPECT_FALSE(program_delete());  // nothing marked

  // A module block goes with its variables; the cursor to its loop's start.
  at(loop_start[1]);
  ins(0, "C");
  at(a);
  program_blockstart();
  position_module(1);
  program_block();
  at(loop_start[1]);
  position_module(1);  // in module C of loop 2
  EXPECT_TRUE(program_delete());
  EXPECT_EQ(listing(), "Loop_1 Loop_2 C Loop_3 Loop_4 End");
  EXPECT_EQ(current_instruction, loop_start[1]);
}

TEST_F(Editing, CopyResolvesNamesInTarget) {
  ins(0, "A");
  Control* a1 = inst("a1");
  pIdata x;
  ASSERT_TRUE(ref_resolve("x[2]", &x));
  ti(a1)->in = x;
  ASSERT_TRUE(ref_resolve("!shared", &ti(a1)->groups[0].out));
  ti(a1)->text = "hello";
  ti(a1)->gain = 2.5f;
  ti(a1)->resize(3);
  ti(a1)->groups[2].n = 77;
  Control* b = ins(0, "B");

  mark(a1, a1);
  at(b);
  ASSERT_TRUE(program_copy());
  EXPECT_EQ(listing(), "Loop_1 A a1 B a1 Loop_2 Loop_3 Loop_4 End");
  EXPECT_EQ(current_instruction, b);  // the cursor returns to where it was
  auto* c = ti(b->next);
  EXPECT_NE(c, ti(a1));
  ASSERT_NE(c->in.var, nullptr);
  EXPECT_NE(c->in.var, x.var);  // B's own x, created there with 3 cells
  EXPECT_EQ(c->in.var->name, "x");
  EXPECT_EQ(c->in.index, 2);
  EXPECT_EQ(c->in.var->size, 2);
  EXPECT_EQ(module_of(c)->rvar()->next, c->in.var);
  EXPECT_EQ(c->groups[0].out, ti(a1)->groups[0].out);  // "!" stays system-wide
  EXPECT_EQ(c->text, "hello");
  EXPECT_EQ(c->gain, 2.5f);
  ASSERT_EQ(c->groups.size(), 3u);
  EXPECT_EQ(c->groups[2].n, 77u);
  EXPECT_EQ(block_start, a1);  // the block stays marked

  // A module block copied into another loop brings its modules whole.
  Control* a = module_of(a1);
  mark(a, b);
  at(loop_start[2]);
  ASSERT_TRUE(program_copy());
  EXPECT_EQ(listing(), "Loop_1 A a1 B a1 Loop_2 Loop_3 A a1 B a1 Loop_4 End");
  // Copying onto the end of the block itself is fine for a copy.
  mark(a1, a1);
  EXPECT_TRUE(program_copy());
  EXPECT_EQ(listing(), "Loop_1 A a1 a1 B a1 Loop_2 Loop_3 A a1 B a1 Loop_4 End");
  at(loop_start[4]);
  EXPECT_FALSE(program_copy());  // no target in "End"
}

TEST_F(Editing, Move) {
  Control* a = ins(0, "A");
  Control* a1 = inst("a1");
  Control* a2 = inst("a2");
  Control* a3 = inst("a3");
  Control* b = ins(0, "B");
  Control* b1 = inst("b1");
  int moved_hook = 0;
  static int* hook_count;
  hook_count = &moved_hook;
  HookGuard guard(engine_hooks);
  engine_hooks.program_moved = [] { ++*hook_count; };

  // Onto its own position: refused both ways.
  mark(a1, a2);
  for (Control* to : {a2, a, a1 /* inside the block */}) {
    at(to);
    EXPECT_FALSE(program_move()) << to->desc;
  }
  EXPECT_EQ(moved_hook, 0);

  // Within the module: the same objects, relinked.
  at(a3);
  ASSERT_TRUE(program_move());
  EXPECT_EQ(listing(), "Loop_1 A a3 a1 a2 B b1 Loop_2 Loop_3 Loop_4 End");
  EXPECT_EQ(a3->next, a1);
  EXPECT_EQ(current_instruction, a3);
  EXPECT_EQ(block_start, nullptr);
  EXPECT_EQ(moved_hook, 1);

  // To another module: copies replace them.
  mark(a1, a2);
  at(b1);
  ASSERT_TRUE(program_move());
  EXPECT_EQ(listing(), "Loop_1 A a3 B b1 a1 a2 Loop_2 Loop_3 Loop_4 End");
  EXPECT_NE(b1->next, a1);
  EXPECT_EQ(current_instruction, b1);
  EXPECT_EQ(moved_hook, 2);

  // A move whose copy fails part way (a loaded description that editing
  // refuses) leaves the program as it was.
  Control* m1 = b1->next;
  Control* m2 = m1->next;
  m2->desc = "End";
  mark(m1, m2);
  at(a3);
  EXPECT_FALSE(program_move());
  EXPECT_EQ(listing(), "Loop_1 A a3 B b1 a1 End Loop_2 Loop_3 Loop_4 End");
  EXPECT_EQ(b1->next, m1);
  EXPECT_EQ(current_instruction, a3);
  EXPECT_EQ(moved_hook, 2);
  m2->desc = "a2";
  at(b1);

  // A module block moved within its loop keeps the module chain whole.
  Control* c = ins(0, "C");
  mark(a, a);
  at(c);
  EXPECT_EQ(bcheck(c, true), 2);
  ASSERT_TRUE(program_move());
  EXPECT_EQ(listing(), "Loop_1 B b1 a1 a2 C A a3 Loop_2 Loop_3 Loop_4 End");
  EXPECT_EQ(static_cast<Module*>(c)->next_module, a);
  // Right after the module before it is its own place.
  mark(a, a);
  at(b);
  ASSERT_TRUE(program_move());
  mark(a, a);
  at(b1);
  EXPECT_FALSE(program_move());
  EXPECT_EQ(current_instruction, b1);
}

TEST_F(Editing, CopyRecompilesFormulasAndCopiesScreens) {
  if (!inst_factory[20]) GTEST_SKIP() << "no Expression class";
  FakeHmi hmi;
  Control* a = ins(0, "A");
  Control* e = ins(20, "calc", 1);
  Iparam t{.text = "x + 1", .type = ptype::Text};
  ASSERT_TRUE(e->sparam(&t, 1, 2));
  Iparam r{.type = ptype::Ref};
  ref_resolve("y", &r.ref);
  ASSERT_TRUE(e->sparam(&r, 1, 0));
  auto* lamp = hmi.add(static_cast<Module*>(a), 2, "lamp");
  ref_resolve("x", &lamp->ref);
  int deleted_seen = 0;
  static int* seen;
  seen = &deleted_seen;
  hmi_file_hooks.instruction_deleted = [](Module*, Control*) { ++*seen; };

  // The module copied into loop 2: its formula and its screen bind to the
  // copy's own x, created there.
  mark(a, a);
  at(loop_start[1]);
  ASSERT_TRUE(program_copy());
  Control* a2 = loop_start[1]->next;
  ASSERT_EQ(a2->desc, "A");
  auto* e2 = static_cast<Expression*>(a2->next);
  pIdata x2;
  current_module = a2;
  ASSERT_TRUE(var_name("x", &x2, false));
  EXPECT_NE(x2.var, lamp->ref.var);
  x2.set(4.0f);
  e2->evaluate();
  EXPECT_EQ(e2->row(0).result.get(), 5.0f);
  pIdata y2;
  ASSERT_TRUE(var_name("y", &y2, false));
  EXPECT_EQ(e2->row(0).result.var, y2.var);
  ASSERT_EQ(hmi.of(a2).size(), 1u);
  EXPECT_EQ(hmi.of(a2)[0]->ref.var, x2.var);
  EXPECT_EQ(hmi.slot[0], nullptr);  // the copy's insertion slot is cleared

  // Deleting an instruction block tells the screens about each instruction.
  mark(e, e);
  ASSERT_TRUE(program_delete());
  EXPECT_EQ(deleted_seen, 1);
}

}  // namespace
