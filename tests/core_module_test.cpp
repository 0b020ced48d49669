#include "tests/support/fixture.h"

using Modules = ProgramTest;

TEST_F(Modules, StandardProgramShapeAndHeads) {
  const char* names[5] = {"Loop_1", "Loop_2", "Loop_3", "Loop_4", "End"};
  Control* c = loop_start[0];
  for (int i = 0; i < 5; ++i, c = c->next) {
    ASSERT_EQ(c, loop_start[i]);
    EXPECT_EQ(c->desc, names[i]);
    EXPECT_EQ(c->num(), 0);
  }
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(system_var()->name, "!System");
  EXPECT_EQ(system_var()->size + 1, SYSTEM_CELLS);
  EXPECT_EQ(loop_start[1]->rvar()->name, "Module");
  EXPECT_EQ(loop_start[1]->rvar()->size, 0);
  EXPECT_EQ(current_prog, "None");
  EXPECT_EQ(current_module, loop_start[0]);
}

TEST_F(Modules, ChainFollowsInsertionAndDeletion) {
  auto* l1 = static_cast<Module*>(loop_start[0]);
  auto* l2 = static_cast<Module*>(loop_start[1]);
  EXPECT_EQ(l1->next_module, l2);

  // Inserted directly before Loop_2.
  auto* m = static_cast<Module*>(inst_create(0, l1, "Pumps", 0));
  EXPECT_EQ(l1->next_module, m);
  EXPECT_EQ(m->prev_module, l1);
  EXPECT_EQ(m->next_module, l2);
  EXPECT_EQ(l2->prev_module, m);
  EXPECT_EQ(module_of(m), m);
  EXPECT_EQ(loop_of(m), 0);

  {
    struct Instr : Control {
      using Control::Control;
      u16 num() const override { return 4; }
    } probe(m, "x");  // an instruction of module m
    EXPECT_EQ(module_of(&probe), m);
    EXPECT_EQ(loop_of(&probe), 0);
  }

  inst_delete(m->num(), m);
  EXPECT_EQ(l1->next_module, l2);
  EXPECT_EQ(l2->prev_module, l1);
  EXPECT_EQ(l1->next, l2);
}

TEST_F(Modules, RowsAndScreenTitle) {
  auto* m = static_cast<Module*>(loop_start[2]);
  Iparam p;
  p.type = ptype::Text;
  p.text = "Boiler house";
  EXPECT_TRUE(m->sparam(&p, 0, 0));
  Iparam g;
  EXPECT_TRUE(m->gparam(&g, 0, 0));
  EXPECT_STREQ(g.text, "Boiler house");
  p.text = "";
  EXPECT_TRUE(m->sparam(&p, 0, 0));
  m->gparam(&g, 0, 0);
  EXPECT_EQ(g.text, nullptr);

  p.set_uint(ptype::Dec, 77);
  EXPECT_TRUE(m->sparam(&p, 0, 3));
  m->gparam(&g, 0, 3);
  EXPECT_EQ(g.value, 77u);
  p.set_uint(ptype::Hex, 1);
  EXPECT_FALSE(m->sparam(&p, 0, 1));
  EXPECT_FALSE(m->gparam(&g, 1, 0));
  EXPECT_FALSE(m->gparam(&g, 0, 4));
  Ilparam s;
  m->lparam(&s);
  EXPECT_EQ(s.rows, 4);
  EXPECT_EQ(m->dparam(), nullptr);
  EXPECT_FALSE(m->resize(2));
}

TEST_F(Modules, ExecutingAModuleResetsOnlyItsLoopsBlocks) {
  for (int L = 0; L < 4; ++L) {
    if_status[L][3] = 1;
    if_index[L] = 2;
  }
  current_loop_exec = 2;
  EXPECT_EQ(loop_start[2]->execute(), loop_start[3]);
  EXPECT_EQ(if_status[2][3], 0);
  EXPECT_EQ(if_index[2], 0);
  EXPECT_EQ(if_status[1][3], 1);
  EXPECT_EQ(if_index[3], 2);
}
