#include "core/engine.h"

#ifdef __linux__
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#endif
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/hooks.h"
#include "core/module.h"
#include "core/scan_pause.h"
#include "platform/platform.h"

namespace {
std::atomic<bool> exec_stop{false};
std::atomic<bool> exec_running{false};
std::atomic<bool> exec_dead{false};  // the software watchdog ran out
thread_local bool exec_thread_self = false;

Ivar* sys() {
  return loop_start[0] ? static_cast<Module*>(loop_start[0])->vars : nullptr;
}
}  // namespace

Idata sys_get(u16 i) {
  Ivar* v = sys();
  return v ? v->get(i) : 0.0f;
}
void sys_set(u16 i, Idata x) {
  if (Ivar* v = sys()) v->set(i, x);
}

int update_time() {
  u32 s;
  i32 us;
  for (;;) {
    plat->now(&s, &us);
    ptime.tv_sec = s;
    ptime.tv_usec = us;
    timec.store(s, std::memory_order_relaxed);
    if (s < next_time_sync.load(std::memory_order_relaxed) || !engine_hooks.clock_sync) break;
    u32 before = next_time_sync.load(std::memory_order_relaxed);
    engine_hooks.clock_sync();
    if (next_time_sync.load(std::memory_order_relaxed) == before) break;  // no progress
  }
  dtime.store(us, std::memory_order_relaxed);
  timec_msec.store(i32(s % 86400) * 100 + (us + 5000) / 10000, std::memory_order_relaxed);
  return 0;
}

void set_run_date(int L) {
  u32 p = gen_loop_int[L].load(std::memory_order_relaxed);
  u32 t = timec.load(std::memory_order_relaxed);
  if (p >= 1000) {
    u32 s = p / 1000;
    run_date[L] = s * (t / s);
  } else if (p > 0) {
    run_date[L] = t;
  } else {
    run_date[L] = 0;
  }
}

void set_next_loop_time(int L) {
  u32 p = gen_loop_int[L].load(std::memory_order_relaxed);
  u32 next = 0;
  if (p >= 1000) {
    u32 s = p / 1000;
    next = s * (timec.load(std::memory_order_relaxed) / s + 1);
  } else if (p > 0) {
    u32 u = p * 1000;
    u32 d = u32(dtime.load(std::memory_order_relaxed));
    next = u * (d / u) + u;
    if (next > 999999) next = 0;
  }
  loop_time[L].store(next, std::memory_order_relaxed);
}

void start_loop(int L) {
  // While the scan is stopped the main thread may be replacing the program
  // (and "!System" with it): only the schedule moves on then, and the
  // restart that ends the stop clears the queued starts anyway.
  if (thread_ctr.load(std::memory_order_acquire) != 4 && loop_start[0]) {
    u8 rs = u8(run_status[L].load() + 1);
    if (rs >= 3) {
      sys_set(u16(16 + L), sys_get(u16(16 + L)) + 1.0f);
      rs = 1;  // only the pass in progress remains
    }
    run_status[L].store(rs);
  }
  set_next_loop_time(L);
}

void start_instruction_loop(int L) {
  run_instruction = loop_start[L];
  update_time();
  set_run_date(L);
  sys_set(0, float(run_date[L] / 86400));
  sys_set(1, float(run_date[L] % 86400));
  i32 ms = timec_msec.load(std::memory_order_relaxed);
  sys_set(2, float(ms) / 100.0f);
  loop_exec_time[L] = ms;
}

void start_run() {
  run.store(0);
  run_instruction = nullptr;
  for (int L = 0; L < 4; ++L) {
    return_instruction[L] = nullptr;
    first_pass[L] = 0;
    run_status[L].store(0);
    sys_set(u16(4 + L), 1.0f);
    sys_set(u16(8 + L), float(gen_loop_int[L].load()));
  }
  for (u16 i = 12; i <= 23; ++i) sys_set(i, 0.0f);
  run.store(1);
  if (engine_hooks.io_forget) engine_hooks.io_forget();
  if (plat) plat->wake();
}

void lock(int level) {
  u8 cur = thread_ctr.load(std::memory_order_acquire);
  if (level <= cur) return;
  if (!exec_running.load()) {
    // Without an execution thread the scan is already at rest.
    thread_ctr.store(u8(level + 1), std::memory_order_release);
    return;
  }
  thread_ctr.store(u8(level), std::memory_order_release);
  plat->wake();
  thread_ctr.wait(u8(level), std::memory_order_acquire);
}

void release(bool halted) {
  if (thread_ctr.load(std::memory_order_acquire) == 4) {
    start_run();
    if (halted) run.store(0);  // before the scan may go on
  }
  thread_ctr.store(0, std::memory_order_release);
  thread_ctr.notify_all();
  if (plat) plat->wake();
}

ScanPause::ScanPause(Pause level, Resume resume)
    : owner_(thread_ctr.load(std::memory_order_acquire) == 0), resume_(resume) {
  lock(int(level));
}

ScanPause::~ScanPause() {
  if (owner_) release(resume_ == Halted);
}

bool on_exec_thread() { return exec_thread_self; }

bool scan_level_held(Pause level) {
  if (exec_thread_self || !exec_running.load()) return true;
  // A request counts once the execution thread has acknowledged it.
  return thread_ctr.load(std::memory_order_acquire) >= u8(level) + 1;
}

#ifdef QUOR_CHECK_LEVELS
void scan_level_violation(Pause level, const char* where) {
  std::fprintf(stderr, "quor: %s needs the scan %s (thread_ctr %u)\n", where,
               level == Pause::Stopped ? "stopped" : "paused", unsigned(thread_ctr.load()));
  std::abort();
}
#endif

namespace {

void set_ctr(u8 v) {
  thread_ctr.store(v, std::memory_order_release);
  thread_ctr.notify_all();
}

// Watchdog feeding of the execution thread, by board type.
void watchdog_toggle() {
  if (gen_watchdog.load(std::memory_order_relaxed) && gen_watchdog_type.load(std::memory_order_relaxed) == 1) {
    if (wd_toggle) {
      wd_toggle = false;
      plat->port_out(0x443, 0);
    } else {
      wd_toggle = true;
      (void)plat->port_in(0x443);
    }
  }
}

// Returns false when the software watchdog has run out.
bool watchdog_second() {
  if (!gen_watchdog.load(std::memory_order_relaxed)) return true;
  u16 t = wd_timer.load();
  if (t == 0) return false;
  wd_timer.store(u16(t - 1));
  switch (gen_watchdog_type.load(std::memory_order_relaxed)) {
    case 2:
      (void)plat->port_in(0x843);
      (void)plat->port_in(0x443);
      break;
    case 3:
      plat->port_out(0x121, 15);
      (void)plat->port_in(0x443);
      break;
    case 4:
      if (plat->watchdog_is_open()) plat->watchdog_request(1);
      break;
    case 5:
      plat->ts_feed(5);
      break;
    default:
      break;
  }
  return true;
}

}  // namespace

void exec_iteration() {
  update_time();
  u32 now = timec.load(std::memory_order_relaxed);
  u32 e = now - timel;
  watchdog_toggle();
  if (e != 0) {
    if (engine_hooks.alarm_second) engine_hooks.alarm_second();
    if (thread_ctr.load(std::memory_order_acquire) <= 3 && engine_hooks.io_second)
      engine_hooks.io_second();
    if (!watchdog_second()) {
      exec_dead.store(true);
      if (engine_hooks.watchdog_expired) engine_hooks.watchdog_expired();
      return;
    }
    if (engine_hooks.clients_second) engine_hooks.clients_second();
    for (int L = 0; L < 4; ++L)
      if (gen_loop_int[L].load(std::memory_order_relaxed) >= 1000 &&
          now >= loop_time[L].load(std::memory_order_relaxed))
        start_loop(L);
  }
  timel = now;
  i32 d = dtime.load(std::memory_order_relaxed);
  if (d < ltime) ntime = 0;
  if (d >= ntime) {
    ntime += 10000;
    if (engine_hooks.alarm_tick) engine_hooks.alarm_tick();
    if (thread_ctr.load(std::memory_order_acquire) <= 3 && engine_hooks.io_tick)
      engine_hooks.io_tick();
    for (int L = 0; L < 4; ++L) {
      u32 p = gen_loop_int[L].load(std::memory_order_relaxed);
      if (p == 0 || p >= 1000) continue;
      i32 diff = d - i32(loop_time[L].load(std::memory_order_relaxed));
      if ((diff >= 0 && diff <= 500000) || diff <= -500000)
        start_loop(L);
      else
        break;  // later loops are not examined in this tick
    }
  }
  ltime = d;
  quor_exec();
}

void quor_exec() {
  u8 ctr = thread_ctr.load(std::memory_order_acquire);
  if (ctr == 4) return;
  if (ctr == 1) {
    set_ctr(2);
    ctr = 2;
  }
  bool serving = engine_hooks.io_advance ? engine_hooks.io_advance() : false;
  if (!serving && ctr == 3) {
    set_ctr(4);
    return;
  }
  if (ctr > 2) return;
  if (engine_hooks.io_serve) engine_hooks.io_serve();
  // Acquire pairs with start_run: what it reset is visible once run reads 1.
  if (!run.load(std::memory_order_acquire) || ctr != 0) return;

  if (!run_instruction) {
    for (int L = 0; L < 4; ++L) {
      if (run_status[L].load() != 0 && gen_loop_int[L].load(std::memory_order_relaxed) != 0) {
        if (return_instruction[L])
          run_instruction = return_instruction[L];
        else
          start_instruction_loop(L);
        return_instruction[L] = nullptr;
        current_loop_exec = u16(L);
        break;
      }
    }
  }
  if (!run_instruction) return;

  for (int L = 0; L < current_loop_exec; ++L) {
    if (run_status[L].load() != 0) {
      return_instruction[current_loop_exec] = run_instruction;
      start_instruction_loop(L);
      current_loop_exec = u16(L);
      break;
    }
  }
  last_instruction = run_instruction;
  run_instruction = last_instruction->execute();

  if (last_instruction == break_execute.load(std::memory_order_relaxed)) {
    break_hit_loop.store(current_loop_exec);
    break_hit.store(last_instruction, std::memory_order_release);
    run.store(0);
  }
  if (engine_hooks.io_start) engine_hooks.io_start(last_instruction);

  int L = current_loop_exec;
  if (run_instruction == loop_start[L + 1] || !run_instruction) {
    run_instruction = nullptr;
    u8 rs = run_status[L].load();
    if (rs) run_status[L].store(u8(rs - 1));
    first_pass[L] = 1;
    sys_set(u16(4 + L), 0.0f);
    update_time();
    i32 span = timec_msec.load(std::memory_order_relaxed) - loop_exec_time[L];
    if (span < 0) span += 8640000;  // the pass ran over midnight
    sys_set(u16(12 + L), float(span + 1) / 100.0f);
  }
}

void engine_apply_break() {
  Control* c = break_hit.exchange(nullptr, std::memory_order_acquire);
  if (!c) return;
  current_instruction = c;
  current_loop = break_hit_loop.load();
  current_module = module_of(c);
  if (engine_hooks.cursor_moved) engine_hooks.cursor_moved();
}

// How long the execution thread may sleep, in us: zero while a pass can
// execute or a ten-millisecond tick is already due (a late wake-up catches
// up at once), otherwise until the next tick (which also covers the next
// second boundary).
i32 idle_wait_us() {
  if (run.load(std::memory_order_relaxed) && thread_ctr.load(std::memory_order_acquire) == 0) {
    if (run_instruction) return 0;
    for (int L = 0; L < 4; ++L)
      if (run_status[L].load() && gen_loop_int[L].load(std::memory_order_relaxed)) return 0;
  }
  // A level-1 request is answered at once. A level-3 request still standing
  // after an iteration waits for transactions in flight: their replies wake
  // the thread (io_fds), their time-outs and gaps end on the tick.
  if (thread_ctr.load(std::memory_order_acquire) == 1) return 0;
  i32 d = dtime.load(std::memory_order_relaxed);
  return d < ntime ? ntime - d : 0;
}

namespace {

void quor_exect() {
  exec_thread_self = true;
#ifdef __linux__
  // Wake at the tick itself rather than up to 50 us after it (the default
  // slack a sleeping thread is given), so that passes start on time.
  prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
#endif
  if (exec_realtime && !request_realtime(EXEC_RT_PRIORITY))
    std::fprintf(stderr, "quor: the scan runs at normal priority: real-time scheduling refused (%s)\n",
                 std::strerror(errno));
  int fds[64];
  while (!exec_stop.load()) {
    if (exec_dead.load()) {
      // The software watchdog ran out: nothing runs and nothing is fed, so
      // the board's watchdog resets it. Wait without using the processor.
      plat->wait(nullptr, 0, 100000);
      continue;
    }
    exec_iteration();
    i32 w = idle_wait_us();
    if (w > 0) {
      int n = engine_hooks.io_fds ? engine_hooks.io_fds(fds, 64) : 0;
      plat->wait(fds, n, w);
    }
  }
}

}  // namespace

bool request_realtime(int priority) {
  sched_param sp{};
  sp.sched_priority = priority;
  int rc = pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);
  if (rc != 0) errno = rc;
  return rc == 0;
}

int start_exec_thread() {
  update_time();
  timel = timec.load();
  ip_timeout.store(timec.load() + 900);
  dtime.store(0);
  ltime = 0;
  timec_msec.store(0);
  for (auto& t : loop_time) t.store(0);
  std::signal(SIGPIPE, SIG_IGN);
  exec_stop.store(false);
  exec_dead.store(false);
  try {
    thread_execute = std::thread(quor_exect);
  } catch (...) {
    return 0;
  }
  exec_running.store(true);
  return -1;
}

void stop_exec_thread() {
  if (!exec_running.load()) return;
  exec_stop.store(true);
  plat->wake();
  thread_execute.join();
  exec_running.store(false);
}

bool exec_thread_running() { return exec_running.load(); }

void engine_reset() {
  run.store(0);
  thread_ctr.store(0);
  run_instruction = last_instruction = nullptr;
  current_loop_exec = 0;
  for (int L = 0; L < 4; ++L) {
    run_status[L].store(0);
    return_instruction[L] = nullptr;
    first_pass[L] = 0;
    loop_time[L].store(0);
    loop_exec_time[L] = 0;
    run_date[L] = 0;
    if_index[L] = 0;
    for (auto& s : if_status[L]) s = 0;
  }
  break_execute.store(nullptr);
  break_hit.store(nullptr);
  next_step_instruction = current_instruction_last = nullptr;
  timel = 0;
  ltime = 0;
  ntime = 0;
  wd_timer.store(600);
  wd_toggle = false;
  next_time_sync.store(0xFFFFFFFFu);
}
