#include <cmath>
#include <vector>

#include "instructions/common.h"
#include "tests/support/inst_fixture.h"

TEST(InstCommon, ConversionsSaturateInsteadOfOverflowing) {
  EXPECT_EQ(inst::to_u32(3.9), 3u);
  EXPECT_EQ(inst::to_u32(-0.5), 0u);
  EXPECT_EQ(inst::to_u32(std::nan("")), 0u);
  EXPECT_EQ(inst::to_u32(1e30), 0xFFFFFFFFu);
  EXPECT_EQ(inst::to_i32(-1e30), INT32_MIN);
  EXPECT_EQ(inst::to_i32(std::nan("")), 0);
  EXPECT_EQ(inst::low16(65538.7), 2u);
  EXPECT_EQ(inst::low16(-1.0), 0xFFFFu);
  EXPECT_EQ(inst::low16(16777216.0 * 4 + 3 * 65536.0 + 5), 5u);
  EXPECT_EQ(inst::low16(INFINITY), 0xFFFFu);
}

using InstRows = InstTest;

// Descriptors and row type codes are part of the program file format.
TEST_F(InstRows, DescriptorsAndTypeCodes) {
  const u16 R = ptype::Ref, D = ptype::Dec, T = ptype::Time, S = ptype::Select, F = ptype::Float;
  struct Case {
    u16 type;
    const char* desc;
    std::vector<u16> codes;
  } cases[] = {
      {27, "Master}Alarm}Number of alarms", {R, R, D}},
      {12, "Control}Time}Time offset}Time interval}Type~Up counter~Down counter", {R, R, T, T, S}},
      {2, "Input}Result}Enable/Set}Update/Base}Frequency period", {R, R, R, R, T}},
      {18, "Trigger}Pulse}Duration time}Idle state", {R, R, D, F}},
      {9, "Error input}Control result}Enable}Tuning~None~Auto}Constant}Proportional}"
          "Differential}Integral}Control interval", {R, R, R, S, F, F, F, F, T}},
      {6, "Input}Result}Off time}On time}Off to on delay}On to off delay", {R, R, D, D, D, D}},
      {7, "Control input}Control result}Frame time}Minimum time", {R, R, D, D}},
      {8, "Control input}Control result}Open time}Error time", {R, R, D, D}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.desc);
    Control* x = add(c.type);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->num(), c.type);
    EXPECT_STREQ(x->dparam(), c.desc);
    Ilparam s;
    ASSERT_TRUE(x->lparam(&s));
    EXPECT_EQ(s.rows, c.codes.size());
    EXPECT_EQ(s.group_rows + s.groups, 0);
    for (u16 r = 0; r < c.codes.size(); ++r) EXPECT_EQ(get(x, r).type, c.codes[r]) << r;
    Iparam p;
    EXPECT_FALSE(x->gparam(&p, 0, u16(c.codes.size())));
    EXPECT_FALSE(x->gparam(&p, 1, 0));
    p.type = ptype::Text;
    EXPECT_FALSE(x->sparam(&p, 0, 0));
  }
}

TEST_F(InstRows, ClampsAndBlocksNear65535) {
  Control* a = add(27);
  Control* pid = add(9);
  Control* tp = add(8);
  Ivar* v = var("v");
  EXPECT_EQ(get(a, 2).value, 1u);
  ASSERT_TRUE(num(a, 2, ptype::Dec, 0));
  EXPECT_EQ(get(a, 2).value, 1u);
  ASSERT_TRUE(num(a, 2, ptype::Dec, 1000));
  EXPECT_EQ(get(a, 2).value, 255u);
  ASSERT_TRUE(num(a, 2, ptype::Dec, 5));
  ASSERT_TRUE(ref(a, 1, v, 65534));
  EXPECT_EQ(get(a, 1).ref.index, 65531);
  EXPECT_EQ(v->size, 65535);
  ASSERT_TRUE(num(a, 2, ptype::Dec, 10));  // the count re-checks the block
  EXPECT_EQ(get(a, 1).ref.index, 65526);

  ASSERT_TRUE(ref(pid, 1, v, 65535));
  EXPECT_EQ(get(pid, 1).ref.index, 65532);
  v->set(65534, 1.0f);
  ASSERT_TRUE(ref(tp, 1, v, 65535));  // outputs cleared with the new block
  EXPECT_EQ(get(tp, 1).ref.index, 65534);
  EXPECT_EQ(v->get(65534), 0.0f);

  EXPECT_EQ(get(tp, 2).value, 60u);
  EXPECT_EQ(get(tp, 3).value, 1u);
  ASSERT_TRUE(num(tp, 2, ptype::Time, 0));  // 0 is stored as 1
  EXPECT_EQ(get(tp, 2).value, 1u);
  Control* t = add(12);
  ASSERT_TRUE(num(t, 4, ptype::Select, 7));  // any non-zero type is Down
  EXPECT_EQ(get(t, 4).value, 1u);
  EXPECT_FALSE(num(t, 2, ptype::Dec, 5));
  EXPECT_EQ(get(add(2), 4).value, 1u);
}
