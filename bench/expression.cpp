// Formula evaluation speed: one Expression holding a mix of the formulas a
// control program typically has (scaling, limits, comparisons, logic,
// functions, a conditional hold), run as the scan runs it, next to a plain
// C++ loop computing the same arithmetic on the same cells in the same run.
//   bench_expression [scans]   (default 2000000)
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/module.h"
#include "core/hooks.h"
#include "core/registry.h"
#include "expr/expression.h"
#include "platform/fake.h"
#include "program/program_new.h"
#include "bench/table.h"

namespace {

struct Formula {
  const char* result;
  const char* text;
};

// Inputs: t_in, t_out, k, offset, level, flow, area, sp, pv, a, b, dp, kf,
// x, en, raw, tick.
const Formula kMix[] = {
    {"heat", "(t_in - t_out) * k + offset"},
    {"lvl", "level 'max' 0 'min' 100"},
    {"rate", "flow * 3.6 / area"},
    {"err", "sp - pv"},
    {"trip", "(a > 10) && (b < 5)"},
    {"q", "sqrt(dp) * kf"},
    {"hold", "x 'if' en"},
    {"byte", "(raw & 0xFF) / 255"},
    {"avg", "(t_in + t_out + pv) / 3"},
    {"tick", "tick + 1"},
};

Idata* cell(const char* name) {
  pIdata r;
  if (!var_name(name, &r, true)) std::abort();
  return &r.var->data[r.index];
}

// Processor time of this thread: the machine may be shared, and time spent
// descheduled is nobody's speed.
double cpu_now() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  const long scans = argc > 1 ? std::atol(argv[1]) : 2000000;
  FakePlatform fake;
  plat = &fake;
  install_hooks();
  inst_build();
  program_new(false);

  Expression e(nullptr, "bench", u16(std::size(kMix)));
  int steps = 0;
  for (u16 g = 1; g <= std::size(kMix); ++g) {
    Iparam p;
    p.type = ptype::Ref;
    var_name(kMix[g - 1].result, &p.ref, true);
    e.sparam(&p, g, 0);
    p.type = ptype::Text;
    p.text = kMix[g - 1].text;
    if (!e.sparam(&p, g, 2)) {
      std::fprintf(stderr, "does not compile: %s\n", p.text);
      return 1;
    }
    steps += e.row(u16(g - 1)).nsteps;
  }

  struct {
    const char* name;
    float v;
  } inputs[] = {{"t_in", 80}, {"t_out", 60}, {"k", 4.18f}, {"offset", 1.5f}, {"level", 42},
                {"flow", 12.5f}, {"area", 0.8f}, {"sp", 50}, {"pv", 48.5f}, {"a", 11},
                {"b", 3}, {"dp", 2.25f}, {"kf", 1.7f}, {"x", 7}, {"en", 1}, {"raw", 0x1234}};
  for (auto& in : inputs) *cell(in.name) = in.v;

  // The same cells for the native loop, through the same kind of access.
  Idata *t_in = cell("t_in"), *t_out = cell("t_out"), *k = cell("k"), *offset = cell("offset"),
        *level = cell("level"), *flow = cell("flow"), *area = cell("area"), *sp = cell("sp"),
        *pv = cell("pv"), *a = cell("a"), *b = cell("b"), *dp = cell("dp"), *kf = cell("kf"),
        *x = cell("x"), *en = cell("en"), *raw = cell("raw"), *tick = cell("tick");
  Idata *heat = cell("heat"), *lvl = cell("lvl"), *rate = cell("rate"), *err = cell("err"),
        *trip = cell("trip"), *q = cell("q"), *hold = cell("hold"), *byte = cell("byte"),
        *avg = cell("avg");
  auto native_scan = [&] {
    auto ld = [](const Idata* c) { return cell_load(c); };
    cell_store(heat, (ld(t_in) - ld(t_out)) * ld(k) + ld(offset));
    float l = ld(level);
    l = l > 0.0f ? l : 0.0f;
    cell_store(lvl, l < 100.0f ? l : 100.0f);
    cell_store(rate, ld(flow) * 3.6f / ld(area));
    cell_store(err, ld(sp) - ld(pv));
    cell_store(trip, (ld(a) > 10.0f && ld(b) < 5.0f) ? 1.0f : 0.0f);
    float d = ld(dp);
    cell_store(q, (d < 0.0f ? 3.0e38f : float(std::sqrt(double(d)))) * ld(kf));
    if (ld(en) != 0.0f) cell_store(hold, ld(x));
    float r = ld(raw);
    u32 bits = r > 0.0f ? (r < 16777215.0f ? u32(r) : 16777215u) : 0u;
    cell_store(byte, float(bits & 0xFFu) / 255.0f);
    cell_store(avg, (ld(t_in) + ld(t_out) + ld(pv)) / 3.0f);
    cell_store(tick, ld(tick) + 1.0f);
  };

  // Warm up both, then measure each in turn, several rounds, keeping the
  // fastest round of each.
  for (int i = 0; i < 10000; ++i) {
    e.execute();
    native_scan();
  }
  constexpr int kRounds = 5;
  const long per_round = std::max(1L, scans / kRounds);
  double expr_s = 1e30, native_s = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    double t0 = cpu_now();
    for (long i = 0; i < per_round; ++i) e.execute();
    expr_s = std::min(expr_s, cpu_now() - t0);
    t0 = cpu_now();
    for (long i = 0; i < per_round; ++i) native_scan();
    native_s = std::min(native_s, cpu_now() - t0);
  }
  // Both computed the same values from the same inputs.
  *tick = 0;
  e.execute();
  float check_expr = *heat + *q + *avg + *lvl + *rate + *err + *trip + *hold + *byte + *tick;
  *tick = 0;
  native_scan();
  float check_native = *heat + *q + *avg + *lvl + *rate + *err + *trip + *hold + *byte + *tick;

  double total = double(per_round) * steps;
  double expr_ns = expr_s * 1e9 / total, native_ns = native_s * 1e9 / total;
  std::printf("formula mix: %zu rows, %d steps per scan, best of %d rounds of %ld scans\n",
              std::size(kMix), steps, kRounds, per_round);
  std::printf("expression: %8.2f ns/step  (%.1f ns per scan)\n", expr_ns, expr_ns * steps);
  std::printf("native C++: %8.2f ns/step  (%.1f ns per scan)\n", native_ns, native_ns * steps);
  std::printf("ratio:      %8.2f x  (goal <= 4 x)\n", expr_ns / native_ns);
  table_row("formula step (time)", fig(expr_ns, "ns", 2), fig(native_ns, "ns native", 2), expr_ns / native_ns,
            "<= 4 x", expr_ns / native_ns <= 4.0);
  if (check_expr != check_native) {
    std::fprintf(stderr, "results differ: %g vs %g\n", check_expr, check_native);
    return 1;
  }
  program_new(true);
  return 0;
}
