// History files: the time of one record write (write_periodic on a file the
// writer holds open: the record, then next) next to a plain pwrite of the same bytes into
// a file already open, and the time of a date_periodic search in a file of
// 100000 records next to a linear scan of the record times.
//   bench_history [records]   (default 100000)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

#include "bench/table.h"
#include "core/config.h"
#include "history/hist_format.h"
#include "history/history.h"

namespace fs = std::filesystem;

namespace {

double now_us() {
  using namespace std::chrono;
  return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

bool make(int f, u32 n, u32 records) {
  auto p = std::make_unique<hist_par>();
  p->file = u32(f);
  p->n = n;
  p->records = records;
  return new_periodic(p.get());
}

// Record write against a plain pwrite of the same bytes, n values a record;
// the best of five rounds of each, interleaved, so that a busy machine
// disturbs both alike.
void bench_write(u32 n, int rounds) {
  if (!make(0, n, 1000)) {
    std::printf("cannot create the file\n");
    return;
  }
  std::vector<float> v(n, 1.25f);
  const u32 s = hist::slot_size(HistKind::Periodic, n), first = hist::first_slot(HistKind::Periodic, n);
  std::vector<u8> rec(s, 0x11);
  int fd = open("quor1.per", O_RDWR);
  double ours = 1e9, plain = 1e9, two = 1e9;
  u8 word[4] = {1, 0, 0, 0};
  for (int rep = 0; rep < 5; ++rep) {
    double t0 = now_us();
    for (int i = 0; i < rounds; ++i) write_periodic(0, v.data(), n, 1000 + u32(i));
    ours = std::min(ours, (now_us() - t0) / rounds);
    t0 = now_us();
    for (int i = 0; i < rounds; ++i)
      if (pwrite(fd, rec.data(), s, off_t(first + u32(i) % 1000) * s) != ssize_t(s)) break;
    plain = std::min(plain, (now_us() - t0) / rounds);
    t0 = now_us();
    for (int i = 0; i < rounds; ++i)
      if (pwrite(fd, rec.data(), s, off_t(first + u32(i) % 1000) * s) != ssize_t(s) || pwrite(fd, word, 4, 0) != 4)
        break;
    two = std::min(two, (now_us() - t0) / rounds);
  }
  close(fd);
  std::printf("record write, %4u values (%5u bytes): %6.2f us   plain pwrite: %5.2f us   ratio %.2f (goal <= 2)"
              "   record+next as two plain pwrites: %5.2f us\n",
              n, s, ours, plain, ours / plain, two);
  if (n == 256)
    table_row("history record write, 256 values", fig(ours, "us", 2), fig(plain, "us pwrite", 2), ours / plain, "<= 2 x",
              ours / plain <= 2.0);
}

void bench_search(u32 records) {
  const u32 n = 8, interval = 60, extra = 37;  // wrapped by `extra` records
  if (!make(1, n, records)) {
    std::printf("cannot create the file\n");
    return;
  }
  std::vector<float> v(n, 0.5f);
  const u32 t0 = 100000;
  for (u32 i = 0; i < records + extra; ++i) write_periodic(1, v.data(), n, t0 + interval * i);
  const u32 oldest_time = t0 + interval * extra, latest_time = t0 + interval * (records + extra - 1);

  std::mt19937 rng(7);
  std::uniform_int_distribution<u32> pick(oldest_time, latest_time);
  const int searches = 2000;
  std::vector<u32> targets(searches);
  for (auto& t : targets) t = pick(rng);
  u32 rec = 0, sum = 0;
  double worst = 0;
  for (u32 iv : {interval, 0u, 7u}) {
    per_interval[1] = iv;
    double a = now_us();
    for (u32 t : targets) sum += date_periodic(1, t, &rec) ? rec : 0;
    double us = (now_us() - a) / searches;
    worst = std::max(worst, us);
    std::printf("date_periodic, %u records, interval %-2u:      %7.2f us   (goal < 1000 us)\n", records, iv, us);
  }

  // Baseline: read the times from the oldest record on until one reaches
  // the target.
  hist::Ring r;
  hist::Ring::State st;
  if (!r.open(HistKind::Periodic, 1, false) || !r.state(&st)) return;
  const int scans = 50;
  double a = now_us();
  for (int k = 0; k < scans; ++k) {
    u32 target = targets[size_t(k)], t = 0;
    for (u32 i = 0; i < st.span; ++i) {
      r.record_time(r.nth(st, i), &t);
      if (t >= target) {
        sum += i;
        break;
      }
    }
  }
  double linear = (now_us() - a) / scans;
  std::printf("linear scan of the record times (baseline):  %7.2f us\n", linear);
  table_row("history date search (worst interval)", fig(worst, "us", 2), fig(linear, "us linear scan", 2),
            linear > 0 ? worst / linear : 0.0, "< 1000 us", worst < 1000.0);
  if (sum == 1) std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  u32 records = argc > 1 ? u32(std::atol(argv[1])) : 100000;
  char tmpl[] = "/tmp/quor_bench_hist_XXXXXX";
  const char* dir = mkdtemp(tmpl);
  if (!dir) return 1;
  fs::path old = fs::current_path();
  fs::current_path(dir);
  for (u32 n : {1u, 16u, 256u, 1024u}) bench_write(n, 4000);
  bench_search(records);
  hist_build_wait();
  fs::current_path(old);
  fs::remove_all(dir);
  return 0;
}
