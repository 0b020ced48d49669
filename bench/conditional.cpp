// Skipping branches: the time per pass of a loop of 1000 If/ElseIf/EndIf
// blocks whose conditions are all false (each branch holding instructions
// that are passed over), next to a loop holding only the Expressions that
// decide them (the same rows, the same formulas), measured in the same run.
// Both loops run through the engine's own pass (one instruction per call)
// and by instruction dispatch alone.
//   bench_conditional [passes] [instructions per branch]   (default 2000, 4)
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/table.h"
#include "core/engine.h"
#include "core/module.h"
#include "core/registry.h"
#include "expr/conditional.h"
#include "platform/fake.h"
#include "program/program_new.h"

namespace {

constexpr int kBlocks = 1000;

// Processor time of this thread: the machine may be shared, and time spent
// descheduled is nobody's speed.
double cpu_now() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// An instruction of the type after `after` in module m, with one row.
Control* make(Control* m, Control* after, u16 type, const char* formula, const char* result) {
  current_module = m;
  Control* c = inst_create(type, after, "b", 1);
  if (!c) std::abort();
  if (formula) {
    Iparam p;
    p.type = ptype::Ref;
    if (!var_name(result, &p.ref, true) || !c->sparam(&p, 1, 0)) std::abort();
    p.type = ptype::Text;
    p.text = formula;
    if (!c->sparam(&p, 1, 2)) std::abort();
  }
  return c;
}

// The blocks in a module of loop 1, their deciding Expressions in a module
// of loop 2. Both are made element by element in turn, so that both lie
// spread through memory alike. Returns the first module.
Control* build(int body) {
  Control* blocks = inst_create(0, loop_start[0], "Blocks", 0);
  Control* exprs = inst_create(0, loop_start[1], "Exprs", 0);
  Control *b = blocks, *e = exprs;
  auto branch = [&] {
    for (int k = 0; k < body; ++k) b = make(blocks, b, 20, "s + 1", "s");
  };
  for (int i = 0; i < kBlocks; ++i) {
    // Conditions on cells that hold 0: all false.
    b = make(blocks, b, 21, "a > 5", "ca");
    e = make(exprs, e, 20, "a > 5", "ca");
    branch();
    b = make(blocks, b, 22, "b > 5", "cb");
    e = make(exprs, e, 20, "b > 5", "cb");
    branch();
    b = make(blocks, b, 23, nullptr, nullptr);
  }
  return blocks;
}

// One pass of loop L as the execution thread runs it.
void engine_pass(int L) {
  run_status[L].store(1);
  while (run_status[L].load() != 0) quor_exec();
}

// The same pass by instruction dispatch alone, without the engine's
// per-instruction housekeeping.
void dispatch_pass(int L) {
  current_loop_exec = u16(L);
  for (Control* c = loop_start[L]; c && c != loop_start[L + 1];) c = c->execute();
}

}  // namespace

int main(int argc, char** argv) {
  const long passes = argc > 1 ? std::max(1L, std::atol(argv[1])) : 2000;
  const int body = argc > 2 ? std::clamp(std::atoi(argv[2]), 0, 50) : 4;
  FakePlatform fake;
  plat = &fake;
  inst_build();
  engine_reset();
  program_new(false);
  // The blocks in loop 1, the Expressions alone in loop 2.
  for (auto& p : gen_loop_int) p = 0;
  gen_loop_int[0] = gen_loop_int[1] = 1000;
  Control* blocks = build(body);
  run.store(1);

  // Best of several rounds, each measuring both loops in turn.
  struct Figure {
    double blocks = 1e30, exprs = 1e30;
  } engine, dispatch;
  constexpr int kRounds = 5;
  const long per_round = std::max(1L, passes / kRounds);
  auto measure = [&](void (*pass)(int), int L, double& best, bool keep) {
    double t0 = cpu_now();
    for (long i = 0; i < per_round; ++i) pass(L);
    double t = (cpu_now() - t0) * 1e6 / double(per_round);
    if (keep) best = std::min(best, t);
  };
  for (int round = 0; round <= kRounds; ++round) {  // round 0 warms up
    measure(engine_pass, 0, engine.blocks, round > 0);
    measure(engine_pass, 1, engine.exprs, round > 0);
    measure(dispatch_pass, 0, dispatch.blocks, round > 0);
    measure(dispatch_pass, 1, dispatch.exprs, round > 0);
  }

  // The blocks skipped every branch.
  pIdata s;
  current_module = blocks;
  if (body > 0 && (!var_name("s", &s, false) || s.get() != 0.0f)) {
    std::fprintf(stderr, "a branch ran\n");
    return 1;
  }

  std::printf("loop of %d blocks, %d instructions per branch, conditions false; best of %d rounds of %ld passes\n",
              kBlocks, body, kRounds, per_round);
  std::printf("                        engine pass    dispatch only   (us per pass)\n");
  std::printf("If/ElseIf/EndIf blocks  %11.1f  %15.1f\n", engine.blocks, dispatch.blocks);
  std::printf("deciding Expressions    %11.1f  %15.1f\n", engine.exprs, dispatch.exprs);
  std::printf("ratio                   %10.2fx  %14.2fx   (goal <= 1.5 x)\n", engine.blocks / engine.exprs,
              dispatch.blocks / dispatch.exprs);
  table_row("If blocks skipped vs Expressions", fig(engine.blocks, "us/pass"), fig(engine.exprs, "us/pass"),
            engine.blocks / engine.exprs, "<= 1.5 x", engine.blocks / engine.exprs <= 1.5);

  run.store(0);
  program_new(true);
  return 0;
}
