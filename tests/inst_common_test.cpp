#include "instructions/common.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct Holder : WithRows<Holder> {
  Holder() : WithRows<Holder>(nullptr, "h") {}
  pIdata block;
  u32 count = 7;
  static const RowTable<Holder> rows;
};
const RowTable<Holder> Holder::rows{{
    inst::block_ref<&Holder::block, 3>("Block"),
    inst::count_row<&Holder::count>("Count", 1),
}};

}  // namespace

TEST(InstCommon, ConversionsSaturateInsteadOfOverflowing) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(inst::to_u32(3.9), 3u);
  EXPECT_EQ(inst::to_u32(-0.5), 0u);
  EXPECT_EQ(inst::to_u32(std::nan("")), 0u);
  EXPECT_EQ(inst::to_u32(1e30), 0xFFFFFFFFu);
  EXPECT_EQ(inst::to_i32(-3.9), -3);
  EXPECT_EQ(inst::to_i32(-inf), INT32_MIN);
  EXPECT_EQ(inst::to_i32(std::nan("")), 0);
  EXPECT_EQ(inst::low16(65538.7), 2u);
  EXPECT_EQ(inst::low16(-1.0), 0xFFFFu);
  EXPECT_EQ(inst::low16(-65537.0), 0xFFFFu);
  EXPECT_EQ(inst::low16(16777216.0 * 4 + 3 * 65536.0 + 5), 5u);
  EXPECT_EQ(inst::low16(inf), 0xFFFFu);
}

TEST(InstCommon, BlockReferenceEndsAt65535AndGrowsTheVariable) {
  Ivar v(nullptr, "v", 0);
  Holder h;
  Iparam p;
  p.type = ptype::Ref;
  p.ref = {&v, 65534};
  ASSERT_TRUE(h.sparam(&p, 0, 0));
  EXPECT_EQ(h.block.index, 65532);
  EXPECT_EQ(v.size, 65535);
  p.ref = {&v, 10};
  ASSERT_TRUE(h.sparam(&p, 0, 0));
  EXPECT_EQ(h.block.index, 10);

  // Counts take Dec or Time, clamp to their range and refuse floats.
  p.type = ptype::Time;
  p.value = 0;
  ASSERT_TRUE(h.sparam(&p, 0, 1));
  EXPECT_EQ(h.count, 1u);
  p.type = ptype::Float;
  EXPECT_FALSE(h.sparam(&p, 0, 1));
  ASSERT_TRUE(h.gparam(&p, 0, 1));
  EXPECT_EQ(p.type, ptype::Dec);
  EXPECT_STREQ(h.dparam(), "Block}Count");
}
