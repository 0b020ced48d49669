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

TEST(ParameterRows, DescriptorShapeAndAddressing) {
  Sample s(nullptr, "s");
  EXPECT_STREQ(s.dparam(), "Output}Mode~Normal~Startup~Capture}Count}Value}Description");
  s.resize(3);
  Ilparam shape;
  s.lparam(&shape);
  EXPECT_EQ((std::tuple{shape.rows, shape.group_rows, shape.groups}), (std::tuple{3, 2, 3}));

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

  // Numbers: {group, row, type, value, stored, read back as}.
  const std::tuple<u16, u16, u16, u32, u32, u16> nums[] = {
      {0, 1, ptype::Select, 9, 2, ptype::Select},  // clamped to the last choice
      {0, 1, ptype::Dec, 1, 1, ptype::Select},     // the row's second accepted code
      {0, 2, ptype::Dec, 0, 1, ptype::Dec},        // clamped to the least
      {1, 0, ptype::Float, float_bits(2.5f), float_bits(2.5f), ptype::Float}};
  for (auto [g, row, type, v, stored, as] : nums) {
    p.set_uint(type, v);
    EXPECT_TRUE(s.sparam(&p, g, row)) << g << ' ' << row;
    Iparam back;
    ASSERT_TRUE(s.gparam(&back, g, row));
    EXPECT_EQ(std::pair(back.type, back.value), std::pair(as, stored)) << g << ' ' << row << ' ' << v;
  }
  Iparam t{.text = "toolong", .type = ptype::Text};
  EXPECT_FALSE(s.sparam(&t, 1, 1));
  t.text = nullptr;
  EXPECT_FALSE(s.sparam(&t, 1, 1));
  t.text = "ok";
  EXPECT_TRUE(s.sparam(&t, 1, 1));
  s.gparam(&t, 1, 1);
  EXPECT_STREQ(t.text, "ok");
  EXPECT_EQ((std::tuple{s.mode, s.count, s.items[0].value}), (std::tuple{u8(1), u16(1), 2.5f}));
}

using Registry = ProgramTest;

TEST_F(Registry, CreateAndDelete) {
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
