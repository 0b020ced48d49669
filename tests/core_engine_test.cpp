#include <future>
#include <tuple>
#include <vector>

#include "core/engine.h"
#include "core/hooks.h"
#include "core/scan_pause.h"
#include "tests/support/fixture.h"
#include "tests/support/hook_guard.h"
#include "tests/support/probe.h"

namespace {

class Engine : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    for (auto& p : gen_loop_int) p = 0;
  }
  void TearDown() override {
    stop_exec_thread();
    ProgramTest::TearDown();
  }
  // Adds n probes at the end of loop L; returns the first.
  Probe* add_probes(int L, int n, int first_id) {
    Control* at = loop_start[L + 1]->prev;
    Probe* first = nullptr;
    for (int i = 0; i < n; ++i) {
      auto* p = new Probe(at, first_id + i, &hits);
      if (!first) first = p;
      at = p;
    }
    return first;
  }
  std::vector<i32> starts_of(int id) {
    std::vector<i32> v;
    for (auto& h : hits)
      if (h.id == id) v.push_back(h.usec);
    return v;
  }
  std::vector<ProbeHit> hits;
  HookGuard<EngineHooks> hooks_{engine_hooks};
};

}  // namespace

TEST_F(Engine, SubSecondGrids) {
  add_probes(0, 1, 1);
  start_run();
  // Each probe runs within a few iterations of its loop's start.
  for (u32 period : {250u, 300u}) {
    hits.clear();
    gen_loop_int[0] = period;
    loop_time[0] = 0;
    fake.set(86400 * 100 + period, 0);
    run_for_us(1'005'000);
    auto a = starts_of(1);
    std::vector<i32> expect;
    for (u32 t = 0; t < 1000; t += period) expect.push_back(i32(t * 1000));
    expect.push_back(0);  // the grid restarts at every second
    ASSERT_EQ(a.size(), expect.size()) << period;
    for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], expect[i], 5000) << period << " " << i;
  }
}

// A wake-up more than a tick late runs the missed ticks at once and then
// sleeps no further than the next mark (never to the end of the second).
TEST_F(Engine, LateWakeUpCatchesUp) {
  add_probes(0, 1, 1);
  gen_loop_int[0] = 10;
  loop_time[0] = 0;
  start_run();
  fake.set(86400 * 100, 100'000);
  run_for_us(50'000);
  for (i32 late : {25'000, 300'000}) {
    fake.advance_us(late);
    // What the thread does before it sleeps again.
    int n = 0;
    do exec_iteration();
    while (idle_wait_us() == 0 && ++n < 100);
    EXPECT_GT(idle_wait_us(), 0) << late;
    EXPECT_LE(idle_wait_us(), 10'000) << late;
  }
  hits.clear();
  run_for_us(100'000);
  EXPECT_GE(starts_of(1).size(), 9u);
}

TEST_F(Engine, LaterSubSecondLoopsWaitForEarlierOnes) {
  gen_loop_int[0] = 100;
  gen_loop_int[1] = 50;
  add_probes(0, 1, 1);
  add_probes(1, 1, 2);
  start_run();
  run_for_us(1'000'000);
  // Loop 2 is examined only in ticks where loop 1 was due: it keeps loop 1's rhythm.
  auto b = starts_of(2);
  EXPECT_EQ(b.size(), 10u);
  for (i32 t : b) EXPECT_LT(t % 100000, 10000) << t;
}

TEST_F(Engine, WholeSecondLoopAndSystemCells) {
  gen_loop_int[0] = 1000;
  add_probes(0, 1, 1);
  start_run();
  EXPECT_EQ(sys_get(4), 1.0f);
  EXPECT_EQ(sys_get(8), 1000.0f);
  run_for_us(2'500'000, 1000);
  auto a = starts_of(1);
  ASSERT_EQ(a.size(), 2u);
  for (i32 t : a) EXPECT_LT(t, 5000);
  // Day 100, second 2 of the day, the first pass done; the actual start with hundredths.
  for (auto [cell, want] : {std::pair{0, 100.0f}, {1, 2.0f}, {4, 0.0f}}) EXPECT_EQ(sys_get(cell), want) << cell;
  EXPECT_NEAR(sys_get(2), 2.00f, 0.011f);
  EXPECT_EQ(first_pass[0], 1);
  EXPECT_GT(sys_get(12), 0.0f);
}

TEST_F(Engine, LongPassCountsOverrunAndDropsQueuedStart) {
  gen_loop_int[0] = 100;
  add_probes(0, 250, 1);  // one instruction per millisecond: a 250 ms pass
  start_run();
  run_for_us(260'000);
  EXPECT_EQ(sys_get(16), 1.0f);
  // The pass ended at about 251 ms with nothing queued: the next one starts at 300.
  size_t before = hits.size();
  run_for_us(35'000);
  EXPECT_EQ(hits.size(), before);
  run_for_us(10'000);
  EXPECT_GT(hits.size(), before);
}

TEST_F(Engine, LowerLoopPreemptsAndHigherResumes) {
  gen_loop_int[0] = 50;
  gen_loop_int[2] = 1000;
  add_probes(0, 1, 1000);
  add_probes(2, 300, 0);
  start_run();
  run_for_us(1'400'000);
  // Find loop 1 hits inside loop 3's pass and check loop 3 continues in order.
  int last3 = -1, preemptions = 0;
  bool inside = false;
  for (auto& h : hits) {
    if (h.id < 1000) {
      if (last3 >= 0 && h.id != 0) {
        EXPECT_EQ(h.id, last3 + 1);
      }
      if (inside) ++preemptions;
      inside = false;
      last3 = h.id;
      EXPECT_EQ(h.loop, 2);
    } else {
      EXPECT_EQ(h.loop, 0);
      inside = last3 >= 0 && last3 < 299;
    }
  }
  EXPECT_GE(preemptions, 4);
  EXPECT_EQ(last3, 299);
}

TEST_F(Engine, BreakPointStopsAfterItsInstruction) {
  gen_loop_int[0] = 10;
  Probe* p1 = add_probes(0, 3, 1);
  Control* p2 = p1->next;
  break_execute = p2;
  start_run();
  run_for_us(20'000);
  EXPECT_EQ(run.load(), 0);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits.back().id, 2);
  engine_apply_break();
  EXPECT_EQ(current_instruction, p2);
  EXPECT_EQ(current_module, loop_start[0]);
  EXPECT_EQ(current_loop, 0);
  // Continue: the break point's successor executes next.
  break_execute = nullptr;
  run = 1;
  exec_iteration();
  EXPECT_EQ(hits.back().id, 3);
}

TEST_F(Engine, PeriodZeroStopsAQueuedLoopAndNoProgramOnlyReschedules) {
  gen_loop_int[1] = 200;
  add_probes(1, 1, 1);
  start_run();
  run_status[1] = 1;
  gen_loop_int[1] = 0;
  run_for_us(300'000);
  EXPECT_TRUE(hits.empty());

  program_new(true);
  gen_loop_int[0] = 10;
  loop_time[0] = 0;
  run_for_us(50'000);
  EXPECT_EQ(run_status[0].load(), 0);
  EXPECT_NE(loop_time[0].load(), 0u);
}

TEST_F(Engine, PassOverMidnightHasItsRealDuration) {
  gen_loop_int[0] = 10;
  add_probes(0, 1, 1);
  start_run();
  fake.set(86400 * 101 - 1, 999'000);
  run_status[0] = 1;
  quor_exec();  // the module: the pass begins at 23:59:59.999
  fake.set(86400 * 101, 20'000);
  quor_exec();  // the probe, after midnight: the pass ends
  EXPECT_NEAR(sys_get(12), 0.03f, 0.001f);
}

TEST_F(Engine, ScanPausesWithTheThread) {
  // No loop is due, so only the main thread writes the run state here.
  static std::atomic<bool> busy;
  busy = false;
  engine_hooks.io_advance = [] { return busy.load(); };
  start_exec_thread();
  {
    ScanPause p(Pause::Paused);  // halted or not: acknowledged at the next pass
    EXPECT_EQ(thread_ctr.load(), 2);
    EXPECT_TRUE(scan_level_held(Pause::Paused));
    EXPECT_FALSE(scan_level_held(Pause::Stopped));
    { ScanPause inner(Pause::Paused); }  // nested at the same level: nothing changes
    EXPECT_EQ(thread_ctr.load(), 2);
  }
  EXPECT_EQ(thread_ctr.load(), 0);
  EXPECT_FALSE(scan_level_held(Pause::Paused));

  // A transaction in flight holds a stop until it ends; a stop raised
  // inside a pause is released by the outer pause, restarting every loop.
  busy = true;
  auto stopped = std::async(std::launch::async, [] {
    ScanPause outer(Pause::Paused);
    first_pass[0] = 1;
    { ScanPause inner(Pause::Stopped); }
    EXPECT_EQ(thread_ctr.load(), 4);  // the inner pause did not release
  });
  EXPECT_EQ(stopped.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  busy = false;
  stopped.get();
  auto state = [] { return std::tuple{int(run.load()), int(first_pass[0]), int(thread_ctr.load())}; };
  EXPECT_EQ(state(), std::tuple(1, 0, 0));  // running, every loop restarted, released

  // A halted stop resets the loops the same way but leaves the program halted.
  {
    ScanPause p(Pause::Stopped, ScanPause::Halted);
    first_pass[0] = 1;
  }
  EXPECT_EQ(state(), std::tuple(0, 0, 0));
}
