// Round-trip latency of "rvar" over loopback and the aggregate command rate
// of ten sessions, next to a minimal select-loop echo server measured the
// same way in the same run. The controller is measured twice: the real
// binary (with its execution thread scanning the program), when it is found
// next to the benchmark's directory or given with --quor, and the user port
// pass alone in this process.
//
//   bench_rvar_latency [--quor PATH] [SAMPLES [COMMANDS_PER_SESSION]]
#include <arpa/inet.h>
#include <signal.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/table.h"
#include "core/engine.h"
#include "core/hooks.h"
#include "core/registry.h"
#include "net/user_port.h"
#include "platform/platform.h"
#include "program/program_new.h"
#include "tools/client/client.h"
#include "tests/support/quor_process.h"

using Clock = std::chrono::steady_clock;

namespace {

const std::string kLine = "rvar|!System[30]";

// The baseline: accept, read, send every byte back; one select over all.
class EchoServer {
 public:
  EchoServer() {
    lfd_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(lfd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(lfd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(lfd_, 16);
    socklen_t len = sizeof a;
    getsockname(lfd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { loop(); });
  }
  ~EchoServer() {
    stop_ = true;
    thread_.join();
    for (int fd : clients_) close(fd);
    close(lfd_);
  }
  uint16_t port() const { return port_; }

 private:
  void loop() {
    char buf[14000];
    while (!stop_) {
      fd_set rd;
      FD_ZERO(&rd);
      FD_SET(lfd_, &rd);
      int top = lfd_;
      for (int fd : clients_) {
        FD_SET(fd, &rd);
        top = std::max(top, fd);
      }
      timeval tv{0, 5000};
      if (select(top + 1, &rd, nullptr, nullptr, &tv) <= 0) continue;
      if (FD_ISSET(lfd_, &rd)) {
        int fd = accept(lfd_, nullptr, nullptr);
        if (fd >= 0) clients_.push_back(fd);
      }
      for (size_t i = 0; i < clients_.size(); ++i) {
        int fd = clients_[i];
        if (!FD_ISSET(fd, &rd)) continue;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
          close(fd);
          clients_.erase(clients_.begin() + long(i--));
          continue;
        }
        (void)send(fd, buf, size_t(n), MSG_NOSIGNAL);
      }
    }
  }
  int lfd_ = -1;
  uint16_t port_ = 0;
  std::vector<int> clients_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// One request and its answer: a reply block from the controller, or the
// echoed line (which ends in the same carriage return) from the baseline.
bool round_trip(quorclient::Connection& c) {
  quorclient::Reply r;
  return c.command(kLine, r, 5000);
}

struct Figures {
  double p50_us = 0, p99_us = 0, rate = 0;
  bool ok = false;
};

Figures measure(uint16_t port, bool session, int samples, int per_client) {
  auto open = [&](quorclient::Connection& c) {
    if (!c.connect("127.0.0.1", port)) return false;
    return !session || c.open_session();
  };
  quorclient::Connection one;
  if (!open(one)) return {};
  for (int i = 0; i < 200; ++i) round_trip(one);  // warm up
  std::vector<double> lat;
  lat.reserve(size_t(samples));
  for (int i = 0; i < samples; ++i) {
    auto t0 = Clock::now();
    if (!round_trip(one)) return {};
    lat.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  std::sort(lat.begin(), lat.end());
  one.close();

  std::vector<std::thread> ts;
  std::atomic<long> done{0};
  auto t0 = Clock::now();
  for (int k = 0; k < 10; ++k)
    ts.emplace_back([&] {
      quorclient::Connection c;
      if (!open(c)) return;
      for (int i = 0; i < per_client; ++i)
        if (round_trip(c)) ++done;
    });
  for (auto& t : ts) t.join();
  double secs = std::chrono::duration<double>(Clock::now() - t0).count();
  return {lat[lat.size() / 2], lat[lat.size() * 99 / 100], double(done.load()) / secs, true};
}

void print_row(const char* name, const Figures& f) {
  if (!f.ok) {
    std::printf("%-30s (the exchange failed)\n", name);
    return;
  }
  std::printf("%-30s %10.1f %10.1f %14.0f\n", name, f.p50_us, f.p99_us, f.rate);
}

}  // namespace

int main(int argc, char** argv) {
  std::string bin;
  std::vector<int> numbers;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--quor" && i + 1 < argc)
      bin = argv[++i];
    else
      numbers.push_back(std::atoi(argv[i]));
  }
  int samples = numbers.size() > 0 && numbers[0] > 0 ? numbers[0] : 5000;
  int per_client = numbers.size() > 1 && numbers[1] > 0 ? numbers[1] : 2000;
  if (bin.empty()) {
    std::error_code ec;
    auto self = std::filesystem::canonical("/proc/self/exe", ec);
    if (!ec) bin = (self.parent_path().parent_path() / "quor").string();
  }

  auto platform = make_host_platform();
  plat = platform.get();
  install_hooks();
  inst_build();
  program_new(false);
  if (!user_port_open(0)) {
    std::fprintf(stderr, "cannot listen\n");
    return 1;
  }
  std::atomic<bool> stop{false};
  std::thread server([&] {
    while (!stop) proc_user(5);
  });

  EchoServer echo;
  Figures base = measure(echo.port(), false, samples, per_client);
  Figures inproc = measure(user_port_number(), true, samples, per_client);
  stop = true;
  server.join();
  user_port_shutdown();

  bool have_bin = !bin.empty() && access(bin.c_str(), X_OK) == 0;
  Figures real{};
  QuorProcess ctl(bin);
  if (have_bin) {
    have_bin = ctl.start();
    if (have_bin) real = measure(ctl.port(), true, samples, per_client);
  }

  std::printf("rvar over loopback (%d round trips; 10 sessions x %d commands)\n", samples, per_client);
  std::printf("%-30s %10s %10s %14s\n", "", "p50 us", "p99 us", "commands/s");
  print_row("baseline select echo", base);
  if (have_bin)
    print_row("controller process rvar", real);
  else
    std::printf("%-30s (no controller binary; give --quor PATH)\n", "controller process rvar");
  print_row("user port in this process", inproc);
  const Figures& ctl_fig = have_bin ? real : inproc;
  double ratio = base.ok && base.rate > 0 && ctl_fig.ok ? ctl_fig.rate / base.rate : 0.0;
  table_row(have_bin ? "HMI rvar, 10 sessions" : "HMI rvar, 10 sessions (in process)",
            fig(ctl_fig.rate, "cmd/s", 0), fig(base.rate, "cmd/s echo", 0), ratio, ">= 0.9 x", ratio >= 0.9);
  return 0;
}
