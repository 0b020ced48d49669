// Processor time of the whole controller process (every thread) while no
// client is connected: the real binary started on a loopback port, its
// processor time read from /proc/PID/task/*/schedstat over a stretch of
// seconds, with
//  1. the default program (no program file), and
//  2. a program of four loops (10, 10, 100 and 1000 ms) of Expressions,
// next to a child process that only wakes every 10 ms (the baseline).
//   bench_idle_cpu [--quor PATH] [seconds]   (default 10 per measurement)
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/table.h"
#include "core/config.h"
#include "core/hooks.h"
#include "core/module.h"
#include "core/registry.h"
#include "expr/names.h"
#include "platform/platform.h"
#include "program/cursor.h"
#include "program/editing.h"
#include "program/file.h"
#include "program/program_new.h"
#include "tests/support/free_port.h"

namespace fs = std::filesystem;

namespace {

// Processor time of every thread of a process, in seconds: the first field
// of /proc/PID/task/TID/schedstat (nanoseconds on a processor; exact, where
// the utime and stime of /proc/PID/stat are sampled at the clock tick and
// miss short wake-ups). Empty when the process has gone.
std::vector<double> thread_cpu(pid_t pid) {
  std::vector<double> out;
  std::error_code ec;
  for (const auto& t : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream f(t.path() / "schedstat");
    unsigned long long ns = 0;
    if (f >> ns) out.push_back(double(ns) * 1e-9);
  }
  return out;
}

double now_s() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Percent of one processor a process used over secs (after a settling
// second), in all and per thread (in the order the threads were made);
// negative when it ended meanwhile.
double percent_of_core(pid_t pid, double secs, std::vector<double>* per_thread = nullptr) {
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::vector<double> c0 = thread_cpu(pid);
  double t0 = now_s();
  std::this_thread::sleep_for(std::chrono::duration<double>(secs));
  std::vector<double> c1 = thread_cpu(pid);
  double t1 = now_s();
  if (c0.empty() || c1.size() != c0.size()) return -1;
  double all = 0;
  for (size_t i = 0; i < c0.size(); ++i) {
    double p = (c1[i] - c0[i]) / (t1 - t0) * 100.0;
    all += p;
    if (per_thread) per_thread->push_back(p);
  }
  return all;
}

struct Child {
  pid_t pid = -1;
  ~Child() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

// The controller in dir on a free port; false when it does not answer.
bool start_quor(Child& c, const std::string& bin, const std::string& dir) {
  u16 port = free_port();
  std::string p = std::to_string(port);
  c.pid = fork();
  if (c.pid == 0) {
    execl(bin.c_str(), bin.c_str(), "--dir", dir.c_str(), "--port", p.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 500; ++i) {
    int s = connect_to(port);
    if (s >= 0) {
      close(s);  // a connection that leaves at once
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// A child that wakes at every 10 ms mark and does nothing else.
void start_ticker(Child& c) {
  c.pid = fork();
  if (c.pid != 0) return;
  alarm(600);  // never outlives a benchmark that died
  timespec next;
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (;;) {
    next.tv_nsec += 10'000'000;
    if (next.tv_nsec >= 1'000'000'000) {
      next.tv_nsec -= 1'000'000'000;
      ++next.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
  }
}

bool set_text(Control* c, u16 g, u16 row, const std::string& t) {
  Iparam p{};
  p.type = ptype::Text;
  p.text = t.c_str();
  return c->sparam(&p, g, row);
}

// Writes "quor.qrn" into the current directory: four loops, each a module
// of 20 Expressions of two rows.
bool save_loop_program() {
  program_new(false);
  const u32 periods[4] = {10, 10, 100, 1000};
  for (u16 L = 0; L < 4; ++L) {
    gen_loop_int[L] = periods[L];
    position_loop(L);
    while (current_instruction->next && current_instruction->next != loop_start[L + 1])
      current_instruction = current_instruction->next;
    current_module = module_of(current_instruction);
    if (!program_instruction(0, ("M" + std::to_string(L)).c_str(), 0)) return false;
    for (int i = 0; i < 20; ++i) {
      if (!program_instruction(20, ("calc " + std::to_string(i)).c_str(), 2)) return false;
      Control* e = current_instruction;
      std::string k = std::to_string(i);
      Iparam r{};
      r.type = ptype::Ref;
      var_name(("y" + k).c_str(), &r.ref, true);
      e->sparam(&r, 1, 0);
      set_text(e, 1, 2, "(a" + k + " + b" + k + ") * 2.5 - y" + k + " / 4");
      var_name(("z" + k).c_str(), &r.ref, true);
      e->sparam(&r, 2, 0);
      set_text(e, 2, 2, "y" + k + " 'max' 10 'min' 100");
    }
  }
  bool ok = program_save("quor.qrn");
  program_new(false);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::string bin;
  double secs = 10.0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--quor" && i + 1 < argc)
      bin = argv[++i];
    else if (std::atof(argv[i]) > 0)
      secs = std::atof(argv[i]);
  }
  if (bin.empty()) {
    std::error_code ec;
    auto self = fs::canonical("/proc/self/exe", ec);
    if (!ec) bin = (self.parent_path().parent_path() / "quor").string();
  }
  if (access(bin.c_str(), X_OK) != 0) {
    std::printf("idle_cpu: no controller binary at %s (give --quor PATH); skipped\n", bin.c_str());
    return 0;
  }

  fs::path root = fs::temp_directory_path() / ("quor_bench_idle_" + std::to_string(getpid()));
  fs::path plain = root / "default", loops = root / "loops";
  fs::create_directories(plain);
  fs::create_directories(loops);

  // The program of loops, saved by this process with its own copy of the
  // controller code.
  auto platform = make_host_platform();
  plat = platform.get();
  install_hooks();
  inst_build();
  fs::path old = fs::current_path();
  fs::current_path(loops);
  bool saved = save_loop_program();
  fs::current_path(old);
  if (!saved) {
    std::fprintf(stderr, "idle_cpu: the program of loops could not be saved\n");
    return 1;
  }

  double base = -1, idle = -1, looping = -1;
  std::vector<double> idle_threads, loop_threads;
  {
    Child ticker;
    start_ticker(ticker);
    base = percent_of_core(ticker.pid, secs);
  }
  {
    Child q;
    if (start_quor(q, bin, plain.string())) idle = percent_of_core(q.pid, secs, &idle_threads);
  }
  {
    Child q;
    if (start_quor(q, bin, loops.string())) looping = percent_of_core(q.pid, secs, &loop_threads);
  }
  fs::remove_all(root);

  std::printf("processor use of the whole process over %.0f s, %% of one core\n", secs);
  std::printf("  10 ms ticker (baseline)          %6.2f\n", base);
  auto threads = [](const std::vector<double>& t) {
    std::string s;
    for (double p : t) s += (s.empty() ? "" : " + ") + fig(p, "", 2);
    return s.empty() ? s : "   threads: " + s;
  };
  std::printf("  controller, default program      %6.2f   (goal < 1)%s\n", idle, threads(idle_threads).c_str());
  std::printf("  controller, four loops running   %6.2f   (goal < 1)%s\n", looping, threads(loop_threads).c_str());
  auto ratio = [&](double v) { return base > 0 ? v / base : 0.0; };
  table_row("idle CPU, default program", fig(idle, "%", 2), fig(base, "% ticker", 2), ratio(idle), "< 1 % of a core",
            idle >= 0 && idle < 1.0);
  table_row("idle CPU, four loops", fig(looping, "%", 2), fig(base, "% ticker", 2), ratio(looping),
            "< 1 % of a core", looping >= 0 && looping < 1.0);
  return idle < 0 || looping < 0 ? 1 : 0;
}
