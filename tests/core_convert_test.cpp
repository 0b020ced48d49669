#include <gtest/gtest.h>

#include <cmath>

#include "core/convert.h"
#include "expr/math.h"
#include "instructions/statistics.h"

// Every conversion of a cell value to an integer, over the values that
// tell them apart: fractions of both signs, range edges, beyond the range,
// the overflow value, NaN and infinities.
TEST(CoreConvert, SaturateAndWrapTable) {
  const double nan = std::nan(""), inf = INFINITY;
  struct Case {
    double v;
    u32 sat_u32;
    i32 sat_i32;
    u16 sat_u16;
    int16_t sat_i16;
    u32 wrap_u32;
    u16 wrap_u16;  // non-finite: 0xFFFF, as asked
    u8 wrap_u8;
    u32 binary;  // the formulas' 24-bit operand
  };
  const Case cases[] = {
      {3.9, 3, 3, 3, 3, 3, 3, 3, 3},
      {-0.5, 0, 0, 0, 0, 0, 0, 0, 0},
      {-3.9, 0, -3, 0, -3, 0xFFFFFFFD, 0xFFFD, 0xFD, 0},
      {-1.0, 0, -1, 0, -1, 0xFFFFFFFF, 0xFFFF, 0xFF, 0},
      {65538.7, 65538, 65538, 65535, 32767, 65538, 2, 2, 65538},
      {-32768.5, 0, -32768, 0, -32768, 0xFFFF8000, 0x8000, 0x00, 0},
      {16777216.0 * 4 + 3 * 65536.0 + 5, 67305477, 67305477, 65535, 32767, 67305477, 5, 5,
       16777215},
      {4294967296.0 + 5, 0xFFFFFFFF, INT32_MAX, 65535, 32767, 5, 5, 5, 16777215},
      {-4294967297.0, 0, INT32_MIN, 0, -32768, 0xFFFFFFFF, 0xFFFF, 0xFF, 0},
      {3.0e38, 0xFFFFFFFF, INT32_MAX, 65535, 32767, 0, 0, 0, 16777215},
      {nan, 0, 0, 0, 0, 0, 0xFFFF, 0, 0},
      {inf, 0xFFFFFFFF, INT32_MAX, 65535, 32767, 0, 0xFFFF, 0, 16777215},
      {-inf, 0, INT32_MIN, 0, -32768, 0, 0xFFFF, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.v);
    EXPECT_EQ(saturate<u32>(c.v), c.sat_u32);
    EXPECT_EQ(saturate<i32>(c.v), c.sat_i32);
    EXPECT_EQ(saturate<u16>(c.v), c.sat_u16);
    EXPECT_EQ(saturate<int16_t>(c.v), c.sat_i16);
    EXPECT_EQ(wrap<u32>(c.v), c.wrap_u32);
    EXPECT_EQ(wrap<u16>(c.v, u16(0xFFFF)), c.wrap_u16);
    EXPECT_EQ(wrap<u8>(c.v), c.wrap_u8);
    EXPECT_EQ(make_binary(float(c.v)), c.binary);
  }
  // A range of one's own: clamped at both ends, truncated inside.
  EXPECT_EQ(saturate<u32>(9999.9, 0, 9999), 9999u);
  EXPECT_EQ(saturate<u32>(-7.0, 5, 9), 5u);
  EXPECT_EQ(saturate<u32>(nan, 5, 9), 5u);  // NaN counts as 0
  EXPECT_EQ(saturate<u32>(7.9, 5, 9), 7u);
  // A status whose value is NaN says nothing valid: no data.
  EXPECT_EQ(stats::status_bits(float(nan)), stats::NO_DATA);
  EXPECT_EQ(stats::status_bits(-2.0f), 0u);
  EXPECT_EQ(stats::status_bits(5.5f), 5u);
}
