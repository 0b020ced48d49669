#include "tests/support/inst_fixture.h"

using InstAlarm = InstTest;

TEST_F(InstAlarm, RowsCountAndBlockNear65535) {
  Control* a = add(27);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->num(), 27);
  EXPECT_STREQ(a->dparam(), "Master}Alarm}Number of alarms");
  Ilparam s;
  ASSERT_TRUE(a->lparam(&s));
  EXPECT_EQ(s.rows, 3);
  EXPECT_EQ(s.groups, 0);

  EXPECT_EQ(get(a, 2).value, 1u);
  ASSERT_TRUE(num(a, 2, ptype::Dec, 0));
  EXPECT_EQ(get(a, 2).value, 1u);
  ASSERT_TRUE(num(a, 2, ptype::Dec, 1000));
  EXPECT_EQ(get(a, 2).value, 255u);
  EXPECT_FALSE(num(a, 2, ptype::Time, 5));
  EXPECT_FALSE(flt(a, 1, 1.0f));

  Ivar* al = var("al");
  ASSERT_TRUE(num(a, 2, ptype::Dec, 5));
  ASSERT_TRUE(ref(a, 1, al, 65534));
  EXPECT_EQ(get_ref(a, 1).index, 65531);
  EXPECT_EQ(al->size, 65535);
  // A larger count re-checks the block already set.
  ASSERT_TRUE(num(a, 2, ptype::Dec, 10));
  EXPECT_EQ(get_ref(a, 1).index, 65526);
}

TEST_F(InstAlarm, MasterRisesOnNewAlarmsOnly) {
  Control* a = add(27);
  Ivar* m = var("m");
  Ivar* al = var("al", 2);
  ASSERT_TRUE(ref(a, 0, m));
  ASSERT_TRUE(ref(a, 1, al));
  ASSERT_TRUE(num(a, 2, ptype::Dec, 3));

  scan(a);
  EXPECT_EQ(m->get(0), 0.0f);
  al->set(0, 1.0f);
  al->set(2, 5.0f);  // two alarms in the same scan
  scan(a);
  EXPECT_EQ(m->get(0), 1.0f);

  m->set(0, 0.0f);  // the operator acknowledges while both persist
  scan(a);
  scan(a);
  EXPECT_EQ(m->get(0), 0.0f);
  al->set(1, -2.0f);  // another alarm
  scan(a);
  EXPECT_EQ(m->get(0), 1.0f);

  m->set(0, 0.0f);
  al->set(0, 0.0f);  // one goes off and on again: new
  scan(a);
  EXPECT_EQ(m->get(0), 0.0f);
  al->set(0, 1.0f);
  scan(a);
  EXPECT_EQ(m->get(0), 1.0f);

  al->set(0, 0.0f);
  al->set(1, -0.0f);  // counts as inactive
  al->set(2, 0.0f);
  m->set(0, 7.0f);
  scan(a);
  EXPECT_EQ(m->get(0), 0.0f);

  // After a change of the count, alarms already on count as new.
  al->set(0, 1.0f);
  scan(a);
  m->set(0, 0.0f);
  ASSERT_TRUE(num(a, 2, ptype::Dec, 2));
  scan(a);
  EXPECT_EQ(m->get(0), 1.0f);
}

TEST_F(InstAlarm, UnsetReferencesDoNothing) {
  Control* a = add(27);
  Ivar* m = var("m");
  m->set(0, 4.0f);
  ASSERT_TRUE(ref(a, 0, m));
  scan(a);
  EXPECT_EQ(m->get(0), 4.0f);
}
