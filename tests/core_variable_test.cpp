#include <gtest/gtest.h>

#include "core/variable.h"

TEST(VariableStore, GrowthKeepsValuesAndReferences) {
  Ivar head(nullptr, "Module", 0);
  Ivar v(&head, "x", 3);
  for (u16 i = 0; i <= 3; ++i) v.set(i, 1.5f + i);
  pIdata r{&v, 2};

  v.reindex(2);  // not above size: nothing changes
  EXPECT_EQ(v.size, 3);
  v.reindex(12);
  EXPECT_EQ(v.size, 12);
  for (u16 i = 0; i <= 3; ++i) EXPECT_FLOAT_EQ(v.get(i), 1.5f + i);
  for (u16 i = 4; i <= 12; ++i) EXPECT_EQ(v.get(i), 0.0f);
  EXPECT_FLOAT_EQ(r.get(), 3.5f);  // the reference follows the variable
  EXPECT_TRUE(r.valid());
  v.reindex(5);
  EXPECT_EQ(v.size, 12);  // never shrinks
}

TEST(VariableStore, OutOfRangeAccessIsHarmless) {
  Ivar v(nullptr, "v", 1);
  pIdata r{&v, 7};
  EXPECT_FALSE(r.valid());
  r.set(4.0f);  // ignored, not a write past the array
  EXPECT_EQ(r.get(), 0.0f);
  pIdata none{};
  none.set(1.0f);
  EXPECT_EQ(none.get(), 0.0f);
  pIdata top{&v, 65535};
  top.set(3, 2.0f);  // would wrap past 65535
  EXPECT_EQ(v.get(2), 0.0f);
}

TEST(VariableStore, BlockRuleNeverWrapsAndGrowsTheVariable) {
  Ivar v(nullptr, "big", 0);
  pIdata r{&v, 65530};
  revalidate_block(r, 9);  // a block of 10 cells
  EXPECT_EQ(r.index, 65526);
  EXPECT_EQ(v.size, 65535);

  Ivar w(nullptr, "small", 0);
  pIdata s{&w, 10};
  revalidate_block(s, 4);
  EXPECT_EQ(s.index, 10);
  EXPECT_EQ(w.size, 14);

  pIdata none{nullptr, 65535};
  revalidate_block(none, 0);
  EXPECT_EQ(none.index, 65535);
}

TEST(VariableStore, RenamingRules) {
  Ivar head(nullptr, "!System", 0);
  Ivar v(&head, "a", 0);
  EXPECT_FALSE(head.new_name("other", false));
  EXPECT_EQ(head.name, "!System");
  EXPECT_TRUE(head.new_name("other", true));
  EXPECT_FALSE(v.new_name("", false));
  EXPECT_FALSE(v.new_name(nullptr, true));
  EXPECT_TRUE(v.new_name("b", false));
  EXPECT_EQ(v.name, "b");
}

TEST(VariableStore, ListStaysIntactInBothDirections) {
  auto* head = new Ivar(nullptr, "Module", 0);
  auto* a = new Ivar(head, "a", 0);
  auto* b = new Ivar(a, "b", 0);
  auto* c = new Ivar(b, "c", 0);
  // Appending after the last keeps creation order; nothing goes before the head.
  EXPECT_EQ(head->next, a);
  EXPECT_EQ(c->prev, b);
  EXPECT_EQ(head->prev, nullptr);
  delete b;
  EXPECT_EQ(a->next, c);
  EXPECT_EQ(c->prev, a);
  auto* d = new Ivar(a, "d", 0);  // linked directly after a
  EXPECT_EQ(a->next, d);
  EXPECT_EQ(d->next, c);
  EXPECT_EQ(c->prev, d);
  destroy_var_list(head);
}
