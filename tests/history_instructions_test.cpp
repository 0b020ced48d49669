#include "core/config.h"
#include "tests/support/hist_fixture.h"

using HistInst = HistTest;
using K = HistKind;

TEST_F(HistInst, RowsAndDescriptors) {
  Control* p = add(15);
  Control* e = add(16);
  EXPECT_STREQ(p->dparam(), "Data}Status}Periodic file~Disabled~1~2~3~4");
  EXPECT_STREQ(e->dparam(),
               "Data}Status}Event file~Disabled~1~2~3~4}Event number (1-1024)}Force midnight record~No~Yes");
  Ivar* d = var("d");
  ASSERT_TRUE(ref(p, 0, d, 65000));  // 1024 cells from the index
  EXPECT_EQ(get_ref(p, 0).index, 64512);
  EXPECT_EQ(d->size, 65535);
  ASSERT_TRUE(ref(p, 0, d, 3));
  struct Case {
    Control* c;
    u16 row;
    u32 in, out;
  };
  for (Case c : {Case{p, 2, 4, 4}, Case{p, 2, 5, 0}, Case{e, 2, 9, 0}, Case{e, 3, 0, 1}, Case{e, 3, 2000, 1024},
                 Case{e, 3, 17, 17}, Case{e, 4, 1, 1}}) {
    ASSERT_TRUE(num(c.c, c.row, c.row == 3 ? ptype::Dec : ptype::Select, c.in));
    EXPECT_EQ(get(c.c, c.row).value, c.out) << "row " << c.row << " in " << c.in;
  }
  EXPECT_EQ(get(add(16), 3).value, 1u);  // default event number
}

// Interval 10 s in a 1000 ms loop through the engine: a record at every
// boundary carrying the boundary's time, Status 1.0 on those passes only.
TEST_F(HistInst, HistperWritesOnBoundariesInALoopOfOneSecond) {
  ASSERT_TRUE(make(K::Periodic, 0, 2, 100));
  per_interval[0] = 10;
  Control* h = add(15);
  Ivar* d = var("d", 1);
  Ivar* st = var("st");
  ASSERT_TRUE(ref(h, 0, d));
  ASSERT_TRUE(ref(h, 1, st));
  ASSERT_TRUE(num(h, 2, ptype::Select, 1));
  const u32 t0 = 86400 * 100;
  engine_start();
  std::vector<u32> status_one;
  for (int i = 0; i < 25; ++i) {
    d->set(0, float(i));
    d->set(1, float(-i));
    engine_scan();
    if (st->get(0) == 1.0f) status_one.push_back(run_date[0] - t0);
  }
  EXPECT_EQ(status_one, (std::vector<u32>{10, 20}));
  hist_par s = status(K::Periodic, 0);
  EXPECT_EQ(s.latest, 1u);
  RawHist r("quor1.per");
  EXPECT_EQ(r.time(0), t0 + 10);
  EXPECT_EQ(r.time(1), t0 + 20);
  EXPECT_EQ(r.value(1, 1), -r.value(1, 0));
  EXPECT_EQ(r.time(2), 0u);

  // A loop faster than a second, or no interval, writes nothing.
  gen_loop_int[0] = 500;
  for (int i = 0; i < 3; ++i) scan(h, t0 + 30 + i * 10);
  gen_loop_int[0] = 1000;
  per_interval[0] = 0;
  scan(h, t0 + 70);
  EXPECT_EQ(status(K::Periodic, 0).latest, 1u);
}

TEST_F(HistInst, HistperScheduleWithOffsetAndClockSteps) {
  ASSERT_TRUE(make(K::Periodic, 3, 1, 100));
  per_interval[3] = 3600;
  per_offset[3] = 900;
  Control* h = add(15);
  Ivar* d = var("d");
  Ivar* st = var("st");
  ASSERT_TRUE(ref(h, 0, d));
  ASSERT_TRUE(ref(h, 1, st));
  ASSERT_TRUE(num(h, 2, ptype::Select, 4));
  const u32 day = 86400 * 200;
  new_run();
  scan(h, day + 10 * 3600 + 20 * 60);  // 10:20 schedules 11:15
  scan(h, day + 11 * 3600 + 14 * 60);
  EXPECT_EQ(st->get(0), 0.0f);
  scan(h, day + 11 * 3600 + 15 * 60 + 3);  // a late pass still stamps 11:15
  EXPECT_EQ(st->get(0), 1.0f);
  EXPECT_EQ(RawHist("quor4.per").time(0), day + 11 * 3600 + 15 * 60);
  // The clock goes back a day: the schedule follows it.
  scan(h, day - 86400 + 12 * 3600);
  EXPECT_EQ(st->get(0), 0.0f);
  scan(h, day - 86400 + 12 * 3600 + 15 * 60);
  EXPECT_EQ(st->get(0), 1.0f);
  EXPECT_EQ(RawHist("quor4.per").time(1), day - 86400 + 12 * 3600 + 15 * 60);
  // Before the offset of the first interval of the epoch: no underflow.
  new_run();
  scan(h, 100);
  scan(h, 900);
  EXPECT_EQ(RawHist("quor4.per").time(2), 900u);
}

TEST_F(HistInst, HistevtWritesOnStatusBitZeroAndAtMidnight) {
  ASSERT_TRUE(make(K::Event, 1, 4, 100));
  Control* h = add(16);
  Ivar* d = var("d");
  Ivar* st = var("st");
  ASSERT_TRUE(ref(h, 0, d));
  ASSERT_TRUE(ref(h, 1, st));
  ASSERT_TRUE(num(h, 2, ptype::Select, 2));
  ASSERT_TRUE(num(h, 3, ptype::Dec, 3));
  engine_start();
  // Status per pass; 3.0 writes every pass, 2.0 and odd values past
  // 16777215 none. The status is left as it was.
  const float statuses[] = {3, 3, 2, 16777217.0f, 1, 0};
  for (float s : statuses) {
    st->set(0, s);
    d->set(0, s * 10);
    engine_scan();
    EXPECT_EQ(st->get(0), s);
  }
  hist_par ps = status(K::Event, 1);
  EXPECT_EQ(ps.latest, 2u);
  RawHist r("quor2.evt");
  for (unsigned i = 0; i < 3; ++i) {
    EXPECT_EQ(r.event(i), 3u);
    EXPECT_EQ(r.time(i), 86400u * 100 + 1 + (i == 2 ? 4 : i));
  }
  EXPECT_EQ(r.value(2, 1), 1.0f);  // the status field
  EXPECT_EQ(r.value(2, 0), 10.0f);

  // Force midnight: one record at the day boundary whatever the status.
  ASSERT_TRUE(num(h, 4, ptype::Select, 1));
  scan(h, 86400 * 101 - 1);
  scan(h, 86400 * 101);
  EXPECT_EQ(status(K::Event, 1).latest_time, 86400u * 101);
  EXPECT_EQ(status(K::Event, 1).latest, 3u);
}
