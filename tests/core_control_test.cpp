#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/rows.h"
#include "tests/support/fixture.h"

namespace {

// A class with fixed rows and a repeated group, as instructions have.
class Sample : public WithRows<Sample> {
 public:
  struct Item {
    float value = 0;
    std::string label;
  };
  Sample(Control* prev, const char* desc) : WithRows(prev, desc) {}
  u16 num() const override { return 3; }
  u16 group_count() const { return u16(items.size()); }
  bool resize(u16 n) override {
    items.resize(std::clamp<u16>(n, 1, 4));
    return true;
  }

  pIdata out{};
  u8 mode = 0;
  u16 count = 1;
  int afters = 0;
  std::vector<Item> items{1};
  static void bump(Sample& s, u16) { ++s.afters; }
  static const RowTable<Sample> rows;
};

const RowTable<Sample> Sample::rows{
    {
        rows::ref<&Sample::out>("Output", &Sample::bump),
        rows::num<&Sample::mode>("Mode~Normal~Startup~Capture", ptype::Select, 0, 2, nullptr, ptype::Dec),
        rows::num<&Sample::count>("Count", ptype::Dec, 1, 10),
    },
    {
        rows::gnum<&Sample::items, &Item::value>("Value", ptype::Float),
        rows::gtext<&Sample::items, &Item::label>("Description", 5),
    }};

}  // namespace

TEST(ControlList, LinksAndCaption) {
  Control a(nullptr, "a");
  Control c(&a, "c");
  Control b(&a, "b");  // goes between a and c
  EXPECT_EQ(a.next, &b);
  EXPECT_EQ(b.next, &c);
  EXPECT_EQ(c.prev, &b);
  b.new_desc(nullptr);
  EXPECT_EQ(b.desc, "b");
  b.new_desc("bee");
  EXPECT_EQ(b.desc, "bee");
  {
    Control d(&c, "d");
  }
  EXPECT_EQ(c.next, nullptr);
}

TEST(ControlList, BaseProtocolRefusesEverything) {
  Control a(nullptr, "a");
  Ilparam s{1, 2, 3};
  EXPECT_TRUE(a.lparam(&s));
  EXPECT_EQ(s.rows + s.group_rows + s.groups, 0);
  Iparam p;
  EXPECT_FALSE(a.gparam(&p, 0, 0));
  EXPECT_FALSE(a.sparam(&p, 0, 0));
  EXPECT_FALSE(a.resize(3));
  EXPECT_EQ(a.dparam(), nullptr);
  EXPECT_EQ(a.execute(), nullptr);
}

TEST(ParameterRows, DescriptorShapeAndAddressing) {
  Sample s(nullptr, "s");
  EXPECT_STREQ(s.dparam(), "Output}Mode~Normal~Startup~Capture}Count}Value}Description");
  s.resize(3);
  Ilparam shape;
  s.lparam(&shape);
  EXPECT_EQ(shape.rows, 3);
  EXPECT_EQ(shape.group_rows, 2);
  EXPECT_EQ(shape.groups, 3);

  Iparam p;
  EXPECT_TRUE(s.gparam(&p, 3, 1));
  EXPECT_EQ(p.type, ptype::Text);
  EXPECT_FALSE(s.gparam(&p, 4, 0));  // past the last group
  EXPECT_FALSE(s.gparam(&p, 1, 2));  // past the group's rows
  EXPECT_FALSE(s.gparam(&p, 0, 3));  // past the fixed rows
}

TEST(ParameterRows, SetRefusesWrongTypesAndClamps) {
  Sample s(nullptr, "s");
  Ivar v(nullptr, "v", 0);
  Iparam p;

  p.set_uint(ptype::Dec, 2);
  EXPECT_FALSE(s.sparam(&p, 0, 0));  // a reference row takes only 263
  EXPECT_EQ(s.afters, 0);
  p.type = ptype::Ref;
  p.ref = {&v, 0};
  EXPECT_TRUE(s.sparam(&p, 0, 0));
  EXPECT_EQ(s.out.var, &v);
  EXPECT_EQ(s.afters, 1);

  p.set_uint(ptype::Select, 9);  // clamped to the last choice
  EXPECT_TRUE(s.sparam(&p, 0, 1));
  EXPECT_EQ(s.mode, 2);
  p.set_uint(ptype::Dec, 1);  // the row's second accepted code
  EXPECT_TRUE(s.sparam(&p, 0, 1));
  EXPECT_EQ(s.mode, 1);
  p.set_uint(ptype::Dec, 0);
  EXPECT_TRUE(s.sparam(&p, 0, 2));
  EXPECT_EQ(s.count, 1);

  p.set_float(2.5f);
  EXPECT_TRUE(s.sparam(&p, 1, 0));
  EXPECT_FLOAT_EQ(s.items[0].value, 2.5f);
  Iparam t;
  t.type = ptype::Text;
  t.text = "toolong";
  EXPECT_FALSE(s.sparam(&t, 1, 1));
  t.text = nullptr;
  EXPECT_FALSE(s.sparam(&t, 1, 1));
  t.text = "ok";
  EXPECT_TRUE(s.sparam(&t, 1, 1));
  Iparam g;
  s.gparam(&g, 1, 1);
  EXPECT_STREQ(g.text, "ok");
  s.gparam(&g, 0, 1);
  EXPECT_EQ(g.type, ptype::Select);
  EXPECT_EQ(g.value, 1u);
}

using Registry = ProgramTest;

TEST_F(Registry, NamesPromptsAndLimits) {
  EXPECT_STREQ(inst_def_use[0].name, "Module");
  EXPECT_STREQ(inst_def_use[3].prompt, "Enter number of constants (1-100)");
  EXPECT_STREQ(inst_def_use[11].name, "Modmaster");
  EXPECT_STREQ(inst_def_use[24].name, "Statistics");
  EXPECT_STREQ(inst_def_use[31].name, "Asciimaster");
  EXPECT_STREQ(inst_def_use[32].prompt, "none");
  for (u16 t = 0; t < INST_TYPES; ++t) {
    EXPECT_NE(inst_def_use[t].name, nullptr);
    EXPECT_EQ(inst_def_use[t].selection_sets, nullptr);
  }

  Control* before = loop_start[0]->next;
  EXPECT_EQ(inst_create(33, loop_start[0], "x", 1), nullptr);
  EXPECT_EQ(loop_start[0]->next, before);

  Control* m = inst_create(0, loop_start[0], "M", 7);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->rvar()->size, 0);  // n is not passed on to a module
  EXPECT_EQ(m->rvar()->name, "Module");
  inst_delete(m->num(), m);
  EXPECT_EQ(loop_start[0]->next, before);
  inst_delete(40, nullptr);
}
