// Round trip of polling a screen's live values ("rhmi||1") for a screen of
// 50 Variable objects, next to the round trip of one "rvar" on the same
// session of the same controller process in the same run (goal: the poll
// within twice the "rvar" time).
//
//   bench_screen_poll [--quor PATH] [SAMPLES]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/quor_process.h"
#include "tools/client/client.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kObjects = 50;

struct Figures {
  double p50_us = 0, p99_us = 0;
  bool ok = false;
};

Figures measure(quorclient::Connection& c, const std::string& line, size_t lines, int samples) {
  quorclient::Reply r;
  for (int i = 0; i < 200; ++i)  // warm up
    if (!c.command(line, r, 5000) || r.lines.size() != lines) return {};
  std::vector<double> lat;
  lat.reserve(size_t(samples));
  for (int i = 0; i < samples; ++i) {
    auto t0 = Clock::now();
    if (!c.command(line, r, 5000)) return {};
    lat.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  std::sort(lat.begin(), lat.end());
  return {lat[lat.size() / 2], lat[lat.size() * 99 / 100], true};
}

void print_row(const char* name, const Figures& f) {
  if (!f.ok)
    std::printf("%-34s (the exchange failed)\n", name);
  else
    std::printf("%-34s %10.1f %10.1f\n", name, f.p50_us, f.p99_us);
}

}  // namespace

int main(int argc, char** argv) {
  std::string bin;
  int samples = 5000;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--quor" && i + 1 < argc)
      bin = argv[++i];
    else if (std::atoi(argv[i]) > 0)
      samples = std::atoi(argv[i]);
  }
  if (bin.empty()) {
    std::error_code ec;
    auto self = std::filesystem::canonical("/proc/self/exe", ec);
    if (!ec) bin = (self.parent_path().parent_path() / "quor").string();
  }
  if (access(bin.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "no controller binary; give --quor PATH\n");
    return 1;
  }
  QuorProcess ctl(bin);
  if (!ctl.start()) {
    std::fprintf(stderr, "the controller did not start\n");
    return 1;
  }
  quorclient::Connection c = ctl.session();
  if (c.login("") != "prog") {
    std::fprintf(stderr, "no programmer session\n");
    return 1;
  }
  // Loop_1's screen: 50 Variable objects, each showing its own cell.
  quorclient::Reply r;
  c.command("start", r);
  for (int k = 0; k < kObjects; ++k) {
    if (!c.command("hinsert|v" + std::to_string(k) + "|2", r) || r.fail()) {
      std::fprintf(stderr, "hinsert refused\n");
      return 1;
    }
    c.send_line("sconfig|cell" + std::to_string(k) + "|1|0|263|0|4");
  }
  c.command("term", r);

  Figures rvar = measure(c, "rvar|!System[30]", 1, samples);
  Figures poll = measure(c, "rhmi||1", kObjects + 2, samples);
  std::printf("screen poll over loopback, one session (%d round trips each)\n", samples);
  std::printf("%-34s %10s %10s\n", "", "p50 us", "p99 us");
  print_row("baseline rvar (one cell)", rvar);
  print_row("rhmi||1 (50 Variable objects)", poll);
  if (rvar.ok && poll.ok) std::printf("ratio p50 %.2f (goal: within 2)\n", poll.p50_us / rvar.p50_us);
  return 0;
}
