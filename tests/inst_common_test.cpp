#include <vector>

#include "tests/support/inst_fixture.h"

using InstRows = InstTest;

// Descriptors, row type codes and group limits are part of the program
// file format.
TEST_F(InstRows, DescriptorsTypeCodesAndGroupLimits) {
  const u16 R = ptype::Ref, D = ptype::Dec, T = ptype::Time, S = ptype::Select, F = ptype::Float,
            H = ptype::Hex, X = ptype::Text;
  struct Case {
    u16 type;
    const char* desc;
    std::vector<u16> fixed, group;
    u16 min_groups = 0, max_groups = 0;  // what a size of 0 and of 500 give
  } cases[] = {
      {27, "Master}Alarm}Number of alarms", {R, R, D}, {}},
      {12, "Control}Time}Time offset}Time interval}Type~Up counter~Down counter", {R, R, T, T, S}, {}},
      {2, "Input}Result}Enable/Set}Update/Base}Frequency period", {R, R, R, R, T}, {}},
      {18, "Trigger}Pulse}Duration time}Idle state", {R, R, D, F}, {}},
      {9, "Error input}Control result}Enable}Tuning~None~Auto}Constant}Proportional}"
          "Differential}Integral}Control interval", {R, R, R, S, F, F, F, F, T}, {}},
      {6, "Input}Result}Off time}On time}Off to on delay}On to off delay", {R, R, D, D, D, D}, {}},
      {7, "Control input}Control result}Frame time}Minimum time", {R, R, D, D}, {}},
      {8, "Control input}Control result}Open time}Error time", {R, R, D, D}, {}},
      {4, "Input}Result}Limit}High}Went high}Window}Went window}Low}Went low}High limit}"
          "High clear}Low clear}Low limit",
       {R, R, R, F, F, F, F, F, F, F, F, F, F}, {}},
      {5, "Input}Result}Activate}Full activation}De-activate}Full de-activation",
       {R, R, F, F, F, F}, {}},
      {10, "Input}Result}Alarm}High alarm status}Low alarm status}High bound alarm}High bound}"
           "Low bound}Low bound alarm",
       {R, R, R, F, F, F, F, F, F}, {}},
      {1, "Input}Result}Select function~Normal~log-10~log-e}Poly degree}Raw Data}Converted Data}"
          "Calculated Coefficients}Error Data}Control}Conversion coefficient}Input value}"
          "Converted value",
       {R, R, S, D, R, R, R, R, R}, {F, F, F}, 2, 20},
      {19, "Uncorrected input}Corrected result}Expected cal response}Captured cal response}"
           "Cal capture control}Correction type}Low capture match}High capture match}"
           "Number average elements",
       {R, R, R, R, R, R, H, H, D}, {}},
      {14, "Input}Results}Control}Max valid status}Circular buffer length}Calc type~Disable~"
           "Average~Std Dev~Maximum~Minimum~Difference~Total~Circ avg~Circ std dev~# valid}"
           "Number in calc}Minimum valid",
       {R, R, R, H, D}, {S, D, D}, 1, 128},
      {24, "Input}Results}Control}Max valid status}Minimum valid}Calc type~Disable~Average~"
           "Std Dev~Maximum~Minimum~Difference~Total~Circ avg~Circ std dev",
       {R, R, R, H, D}, {S}, 1, 128},
      {17, "Array}Direction~To array~From array}Individual}Description", {R, S}, {R, X}, 1, 128},
      {26, "Input}Result}Direction~Count to random~Random to count}Random match", {R, R, S}, {H},
       1, 128},
      {29, "Input}Result}Raw}Converted", {R, R}, {F, F}, 2, 128},
      {13, "Source}Destination}Count index}Time index}Time def}Last period}Block size}"
           "Number of blocks}Direction~Multiple sources to one destination~One source to "
           "multiple destinations",
       {R, R, R, R, R, R, D, D, S}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.desc);
    Control* x = add(c.type, 0);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->num(), c.type);
    EXPECT_STREQ(x->dparam(), c.desc);
    Ilparam s;
    ASSERT_TRUE(x->lparam(&s));
    EXPECT_EQ(s.rows, c.fixed.size());
    EXPECT_EQ(s.group_rows, c.group.size());
    EXPECT_EQ(s.groups, c.min_groups);
    for (u16 r = 0; r < c.fixed.size(); ++r) EXPECT_EQ(get(x, r).type, c.fixed[r]) << r;
    Iparam p;
    EXPECT_FALSE(x->gparam(&p, 0, u16(c.fixed.size())));
    EXPECT_FALSE(x->gparam(&p, u16(s.groups + 1), 0));
    p.type = ptype::Key;  // no row takes this code
    EXPECT_FALSE(x->sparam(&p, 0, 0));
    if (c.group.empty()) {
      EXPECT_FALSE(x->resize(5));
      continue;
    }
    EXPECT_TRUE(x->resize(500));
    ASSERT_TRUE(x->lparam(&s));
    EXPECT_EQ(s.groups, c.max_groups);
    for (u16 r = 0; r < c.group.size(); ++r) EXPECT_EQ(get(x, r, s.groups).type, c.group[r]) << r;
    EXPECT_FALSE(x->gparam(&p, s.groups, u16(c.group.size())));
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
