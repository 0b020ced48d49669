// Modbus TCP slave: requests per second with ten connections, each reading
// 100 holding registers as fast as it gets answers, served
//  1. by a libmodbus reference server (build/peers/modbus_peer: a
//     modbus_tcp_listen socket and a select loop), the baseline;
//  2. by the controller's execution thread, while its 10 ms Loop_1 runs;
//     the passes per second of that loop are printed next to it.
// Goal: at least 1.2 times the reference's rate with 100 passes per second.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/config.h"
#include "core/engine.h"
#include "core/hooks.h"
#include "core/module.h"
#include "core/registry.h"
#include "io/io_base.h"
#include "io/modbus_slave.h"
#include "io/serial.h"
#include "platform/platform.h"
#include "program/program_new.h"
#include "tests/support/free_port.h"
#include "bench/modbus_peer.h"
#include "tests/support/peer_process.h"
#include "bench/table.h"

namespace {

constexpr int kConnections = 10;
constexpr double kSeconds = 2.0;

// Ten blocking clients for kSeconds; the answered requests per second, or
// a negative rate when some reply was wrong.
double clients_rps(u16 port) {
  std::atomic<long> answered{0};
  std::atomic<bool> bad{false}, stop{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < kConnections; ++c)
    clients.emplace_back([&, c] {
      int s = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(port);
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        bad = true;
        return;
      }
      u8 req[12] = {0, u8(c), 0, 0, 0, 6, 1, 3, 0, 0, 0, 100};
      u8 rep[512];
      while (!stop) {
        if (send(s, req, sizeof req, MSG_NOSIGNAL) != ssize_t(sizeof req)) break;
        size_t got = 0;
        while (got < 209) {
          pollfd p{s, POLLIN, 0};
          if (poll(&p, 1, 1000) <= 0) break;
          ssize_t n = recv(s, rep + got, sizeof rep - got, 0);
          if (n <= 0) break;
          got += size_t(n);
        }
        if (got != 209 || rep[7] != 3 || rep[8] != 200) {
          bad = true;
          break;
        }
        ++answered;
      }
      close(s);
    });
  std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
  stop = true;
  for (auto& t : clients) t.join();
  double rps = double(answered) / kSeconds;
  return bad ? -rps : rps;
}

// Counts the passes of its loop.
class PassCounter : public Control {
 public:
  using Control::Control;
  Control* execute() override {
    passes.fetch_add(1, std::memory_order_relaxed);
    return next;
  }
  std::atomic<long> passes{0};
};

}  // namespace

int main() {
  std::signal(SIGPIPE, SIG_IGN);
  install_hooks();
  inst_build();
  create_serial_ports();
  std::string path = modbus_peer_path();
  if (access(path.c_str(), X_OK) != 0) {
    std::printf("modbus_slave: the libmodbus peer is not built (install libmodbus-dev); skipped\n");
    return 0;
  }
  PeerProcess ref;
  u16 ref_port = start_tcp_peer(ref, path);
  if (ref_port == 0) {
    std::printf("modbus_slave: the reference server did not start\n");
    return 1;
  }
  std::printf("Modbus TCP slave, %d connections reading 100 holding registers each\n", kConnections);
  double base = clients_rps(ref_port);
  std::printf("  libmodbus select-loop server (baseline)  %9.0f requests/s%s\n", base < 0 ? -base : base,
              base < 0 ? "  WRONG REPLIES" : "");

  auto host = make_host_platform();
  plat = host.get();
  engine_reset();
  program_new(false);
  gen_loop_int[0] = 10;
  auto* counter = new PassCounter(loop_start[0], "passes");
  u16 port = free_port();
  IO_slave_port_listen(port, io_kind::ModbusSlave, true);
  start_exec_thread();
  start_run();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  long p0 = counter->passes;
  double rps = clients_rps(port);
  long passes = counter->passes - p0;
  stop_exec_thread();
  double abs_rps = rps < 0 ? -rps : rps;
  std::printf("  controller, 10 ms loop running           %9.0f requests/s (%.2f x baseline)%s\n", abs_rps,
              base != 0 ? abs_rps / (base < 0 ? -base : base) : 0.0, rps < 0 ? "  WRONG REPLIES" : "");
  std::printf("  10 ms loop meanwhile                     %9.1f passes/s (goal 100)\n",
              double(passes) / kSeconds);
  double abs_base = base < 0 ? -base : base, pps = double(passes) / kSeconds;
  double ratio = abs_base > 0 ? abs_rps / abs_base : 0.0;
  table_row("Modbus TCP slave, 10 connections", fig(abs_rps, "req/s", 0), fig(abs_base, "req/s libmodbus", 0), ratio,
            ">= 1.2 x", ratio >= 1.2 && rps > 0 && base > 0);
  table_row("  10 ms loop meanwhile", fig(pps, "passes/s"), fig(100, "passes/s"), pps / 100.0, ">= 0.95 x",
            pps >= 95.0);
  IO_slave_port_listen(0, io_kind::ModbusSlave, false);
  program_new(true);
  plat = nullptr;
  return 0;
}
