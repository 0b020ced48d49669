#include <cstring>

#include "expr/names.h"
#include "tests/support/fixture.h"

using ExprNames = ProgramTest;

// The three scopes, creation order and growth of variables.
TEST_F(ExprNames, ScopesCreationAndGrowth) {
  Module* mod = new Module(loop_start[1], "Pump", 0);  // a module in loop 2
  current_loop = 1;
  current_module = mod;

  pIdata r;
  EXPECT_FALSE(var_name("x", &r, false));
  ASSERT_TRUE(var_name("x", &r, true));
  EXPECT_EQ(r.var->prev, mod->vars);  // appended after the head "Module"
  EXPECT_EQ(r.index, 0);
  pIdata y;
  ASSERT_TRUE(var_name("y[3]", &y, true));
  EXPECT_EQ(y.var->prev, r.var);  // lists stay in creation order
  EXPECT_EQ(y.var->size, 3);

  // Growth keeps cells and earlier references.
  y.var->set(3, 7.5f);
  pIdata y12;
  EXPECT_FALSE(var_name("y[12]", &y12, false));
  ASSERT_TRUE(var_name("y[12]", &y12, true));
  EXPECT_EQ(y12.var, y.var);
  EXPECT_EQ(y.var->size, 12);
  EXPECT_EQ(y.get(), 7.5f);
  EXPECT_TRUE(var_name("y[5]", &r, false));  // within size: no create needed

  // Loop scope: the first module of the loop being edited.
  pIdata h;
  ASSERT_TRUE(var_name("#level", &h, true));
  EXPECT_EQ(h.var->prev, loop_start[1]->rvar());
  // System scope: the "!System" list, whatever module is edited.
  pIdata s;
  ASSERT_TRUE(var_name("!System[16]", &s, false));
  EXPECT_EQ(s.var, system_var());
  ASSERT_TRUE(var_name("!alarm", &s, true));
  EXPECT_EQ(s.var->prev->name, "!System");

  // The head variable of an ordinary module is an ordinary name.
  ASSERT_TRUE(var_name("Module", &r, false));
  EXPECT_EQ(r.var, mod->vars);
  // Names are case-sensitive and per module.
  EXPECT_FALSE(var_name("X", &r, false));
  current_module = loop_start[0];
  EXPECT_FALSE(var_name("x", &r, false));
  current_module = nullptr;
  EXPECT_FALSE(var_name("x", &r, true));
}

TEST_F(ExprNames, SyntaxAndReservedNames) {
  pIdata r{system_var(), 5};
  EXPECT_TRUE(var_name("Null", &r, true));
  EXPECT_EQ(r.var, nullptr);

  for (const char* bad : {"Loop_1", "Loop_4", "End", "System", "System[2]", "1abc", "a-b",
                          "a b", "", "v[", "v[12", "v[1x]", "v[65535]", "[3]", "$x", "!", "#[2]"}) {
    r = pIdata{system_var(), 5};
    EXPECT_FALSE(var_name(bad, &r, true)) << bad;
    EXPECT_EQ(r.var, nullptr) << bad;  // cleared on failure
  }
  EXPECT_FALSE(var_name(nullptr, &r, true));
  EXPECT_FALSE(var_name("x", nullptr, true));

  ASSERT_TRUE(var_name("_t9[65534]", &r, true));
  EXPECT_EQ(r.var->size, 65534);
  ASSERT_TRUE(var_name("v[2]junk", &r, true));  // text after "]" is ignored
  EXPECT_EQ(r.var->name, "v");
  EXPECT_EQ(r.index, 2);
  EXPECT_TRUE(var_name("Loop_5", &r, true));  // only the exact names are reserved
}

TEST_F(ExprNames, PointerTextRoundTrips) {
  pIdata r;
  EXPECT_EQ(var_pointer(r), "Null");
  ASSERT_TRUE(var_name("v[0]", &r, true));
  EXPECT_EQ(var_pointer(r), "v");
  ASSERT_TRUE(var_name("v[307]", &r, true));
  EXPECT_EQ(var_pointer(r), "v[307]");
  pIdata back;
  ASSERT_TRUE(var_name(var_pointer(r).c_str(), &back, false));
  EXPECT_EQ(back, r);

  char small[6], big[7];
  EXPECT_FALSE(var_pointer(&r, small));
  EXPECT_STREQ(small, "");
  EXPECT_TRUE(var_pointer(&r, big));
  EXPECT_STREQ(big, "v[307]");
  EXPECT_TRUE(var_pointer(nullptr, big));
  EXPECT_STREQ(big, "Null");
}

TEST_F(ExprNames, RenameKeepsScopeAndReferences) {
  pIdata a, b, g;
  ASSERT_TRUE(var_name("a[2]", &a, true));
  ASSERT_TRUE(var_name("b", &b, true));
  ASSERT_TRUE(var_name("!g", &g, true));

  EXPECT_TRUE(var_rename("a", "flow"));
  EXPECT_EQ(a.var->name, "flow");  // the reference still points to it
  pIdata r;
  EXPECT_TRUE(var_name("flow[2]", &r, false));
  EXPECT_EQ(r, a);
  EXPECT_FALSE(var_name("a", &r, false));

  EXPECT_FALSE(var_rename("flow", "!flow"));  // no change of scope
  EXPECT_FALSE(var_rename("!g", "g"));
  EXPECT_FALSE(var_rename("!g", "#g"));
  EXPECT_TRUE(var_rename("!g", "!gain"));
  EXPECT_FALSE(var_rename("flow", "b"));       // b exists: would hide it
  EXPECT_FALSE(var_rename("flow", "End"));     // reserved
  EXPECT_FALSE(var_rename("flow", "two words"));
  EXPECT_FALSE(var_rename("flow", "f[3]"));
  EXPECT_FALSE(var_rename("missing", "m"));
  EXPECT_FALSE(var_rename("!System", "!Sys"));  // head variables keep their names
  EXPECT_TRUE(var_rename("flow", "flow"));
}

TEST_F(ExprNames, ConstantPoolSharesCells) {
  pIdata zero, two, two_again, half;
  make_constant(0.0f, &zero);
  ASSERT_NE(Exp_con.var, nullptr);
  EXPECT_EQ(Exp_con.var->name, "!Exp_con");
  EXPECT_EQ(zero.index, 0);  // cell 0 holds 0.0 from the start
  make_constant(2.0f, &two);
  make_constant(0.5f, &half);
  make_constant(2.0f, &two_again);
  EXPECT_EQ(two, two_again);
  EXPECT_EQ(two.index, 1);
  EXPECT_EQ(half.index, 2);
  EXPECT_EQ(Exp_con.var->size, 2);
  EXPECT_EQ(two.get(), 2.0f);
  pIdata r;
  EXPECT_TRUE(var_name("!Exp_con[2]", &r, false));  // an ordinary variable

  // A new program forgets the pool; it is made again on demand.
  program_new(false);
  EXPECT_EQ(Exp_con.var, nullptr);
  EXPECT_EQ(Exp_tmp.var, nullptr);
  make_constant(2.0f, &two);
  EXPECT_EQ(two.index, 1);
}
