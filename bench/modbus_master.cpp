// Modbus TCP master against a local libmodbus slave (build/peers/
// modbus_peer):
//  1. transactions per second of a plain blocking client (the baseline: what
//     the loopback link and the slave allow), of the master driven step by
//     step with a manual clock (the cost of the master's own code), and of
//     the running controller, whose 20 ms turnaround gap bounds each port;
//  2. the pass-start jitter of a 10 ms loop with the master idle (baseline)
//     and while it polls four ports.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/modbus_peer.h"
#include "bench/table.h"
#include "core/config.h"
#include "core/engine.h"
#include "core/hooks.h"
#include "core/module.h"
#include "core/registry.h"
#include "io/io_base.h"
#include "io/modbus_master.h"
#include "platform/fake.h"
#include "platform/platform.h"
#include "program/program_new.h"
#include "tests/support/peer_process.h"


namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Baseline: read 10 input registers with blocking send/recv.
double plain_client_tps(u16 port, int n) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 0;
  u8 req[12] = {0, 0, 0, 0, 0, 6, 1, 4, 0, 0, 0, 10};
  u8 rep[64];
  auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) {
    req[1] = u8(i);
    if (send(s, req, sizeof req, 0) != ssize_t(sizeof req)) return 0;
    size_t got = 0;
    while (got < 29) {
      ssize_t r = recv(s, rep + got, sizeof rep - got, 0);
      if (r <= 0) return 0;
      got += size_t(r);
    }
  }
  double tps = n / seconds_since(t0);
  close(s);
  return tps;
}

Ivar* block_var(const char* name) { return new Ivar(loop_start[0]->rvar(), name, 16); }

Modbus* tcp_reader(Control* after, u16 port, Ivar* v) {
  auto* m = static_cast<Modbus*>(inst_create(TYPE_MODBUS, after, "poll", 10));
  Iparam p;
  p.set_uint(ptype::Select, 0);
  m->sparam(&p, 0, 3);
  p.type = ptype::Text;
  p.text = "127.0.0.1";
  m->sparam(&p, 0, 4);
  p.set_uint(ptype::Dec, port);
  m->sparam(&p, 0, 5);
  p.set_uint(ptype::Select, 3);  // read input registers
  m->sparam(&p, 0, 8);
  p.type = ptype::Ref;
  p.ref = {v, 0};
  m->sparam(&p, 0, 2);
  return m;
}

// The master stepped by hand: the manual clock jumps over the waits, so
// the rate is the cost of the master and the link, not of the gap.
double stepped_master_tps(u16 port, int n) {
  FakePlatform fake;
  plat = &fake;
  engine_reset();
  program_new(false);
  fake.set(86400 * 100, 0);
  update_time();
  timel = timec;
  Modbus* m = tcp_reader(loop_start[0], port, block_var("a"));
  int fds[8];
  int done = 0, failed = 0;
  auto t0 = Clock::now();
  while (done + failed < n) {
    m->execute();
    engine_hooks.io_start(m);
    for (int spins = 0; m->ready() || m->port->busy; ++spins) {
      if (m->port->reply_pending) fake.advance_us(10000);  // the gap
      exec_iteration();
      int k = engine_hooks.io_fds(fds, 8);
      if (k > 0 && m->port->busy && !m->port->reply_pending) {
        pollfd p{fds[k - 1], POLLIN, 0};
        poll(&p, 1, 10);
      }
      if (m->ready() && !m->port->busy && spins % 4 == 3) engine_hooks.io_start(m);
      if (spins > 100000) return 0;
    }
    (m->status == mb_status::Ok ? done : failed)++;
  }
  double tps = n / seconds_since(t0);
  program_new(true);
  plat = nullptr;
  return failed ? -tps : tps;
}

// Records the controller clock at the start of every pass of its loop.
class PassProbe : public Control {
 public:
  using Control::Control;
  Control* execute() override {
    u32 s;
    i32 us;
    plat->now(&s, &us);
    if (starts.size() < starts.capacity()) starts.push_back(us);
    return next;
  }
  std::vector<i32> starts;
};

struct Jitter {
  double p50, p99, max;
  long passes;
  u32 transactions;
};

// Runs a 10 ms Loop_1 on the real clock for secs, with one master
// instruction per slave port polling from Loop_2 (also 10 ms).
Jitter run_loop(const std::vector<u16>& ports, double secs) {
  auto host = make_host_platform();
  plat = host.get();
  engine_reset();
  program_new(false);
  gen_loop_int[0] = 10;
  gen_loop_int[1] = ports.empty() ? 0 : 10;
  auto* probe = new PassProbe(loop_start[0], "probe");
  probe->starts.reserve(size_t(secs * 200) + 16);
  Control* after = loop_start[1];
  for (size_t i = 0; i < ports.size(); ++i)
    after = tcp_reader(after, ports[i], block_var(("b" + std::to_string(i)).c_str()));
  start_exec_thread();
  start_run();
  std::this_thread::sleep_for(std::chrono::duration<double>(secs));
  stop_exec_thread();

  Jitter j{};
  std::vector<double> late;
  for (i32 us : probe->starts) late.push_back((us % 10000) / 1000.0);  // ms past the mark
  std::sort(late.begin(), late.end());
  j.passes = long(late.size());
  if (!late.empty()) {
    j.p50 = late[late.size() / 2];
    j.p99 = late[std::min(late.size() - 1, late.size() * 99 / 100)];
    j.max = late.back();
  }
  for (IO_def* p = IO_start_def; p; p = p->next)
    if (p->network_master()) j.transactions += p->word;
  program_new(true);
  plat = nullptr;
  return j;
}

}  // namespace

int main() {
  std::signal(SIGPIPE, SIG_IGN);
  // The scan at real-time priority, as on the board, if this system grants it.
  std::thread([] { exec_realtime = request_realtime(EXEC_RT_PRIORITY); }).join();
  std::printf("scan at %s\n", exec_realtime ? "real-time priority" : "normal priority (real-time refused)");
  install_hooks();
  inst_build();
  create_serial_ports();
  std::string path = modbus_peer_path();
  if (access(path.c_str(), X_OK) != 0) {
    std::printf("modbus_master: the libmodbus peer is not built (install libmodbus-dev); skipped\n");
    return 0;
  }
  constexpr int kPeers = 4;
  PeerProcess peers[kPeers];
  u16 peer_ports[kPeers];
  for (int i = 0; i < kPeers; ++i)
    if ((peer_ports[i] = start_tcp_peer(peers[i], path)) == 0) {
      std::printf("modbus_master: the peer did not start\n");
      return 1;
    }

  const int n = 5000;
  std::printf("Modbus TCP, read 10 input registers from a local libmodbus slave\n");
  double base = plain_client_tps(peer_ports[0], n);
  std::printf("  plain blocking client (baseline)        %9.0f transactions/s\n", base);
  double stepped = stepped_master_tps(peer_ports[0], n);
  std::printf("  master, stepped with a manual clock     %9.0f transactions/s (%.0f%% of baseline)%s\n",
              stepped < 0 ? -stepped : stepped, 100.0 * (stepped < 0 ? -stepped : stepped) / base,
              stepped < 0 ? "  SOME FAILED" : "");

  const double secs = 2.0;
  std::vector<u16> ports;
  for (u16 p : peer_ports) ports.push_back(p);
  Jitter idle = run_loop({}, secs);
  Jitter busy = run_loop(ports, secs);
  std::printf("  running controller, %d ports, 10 ms loop %9.0f transactions/s (each port: at most one per ~20 ms gap)\n",
              kPeers, busy.transactions / secs);
  std::printf("\nPass start of a 10 ms loop, ms after its 10 ms mark (%.0f s each)\n", secs);
  std::printf("  master idle (baseline)   passes %5ld  p50 %.3f  p99 %.3f  max %.3f\n", idle.passes,
              idle.p50, idle.p99, idle.max);
  std::printf("  master polling %d ports   passes %5ld  p50 %.3f  p99 %.3f  max %.3f\n", kPeers,
              busy.passes, busy.p50, busy.p99, busy.max);
  table_row("Modbus master, stepped", fig(stepped < 0 ? -stepped : stepped, "tr/s", 0), fig(base, "tr/s blocking", 0),
            (stepped < 0 ? -stepped : stepped) / base, "(none)", stepped > 0);
  table_row("10 ms loop lateness p99, master polling", fig(busy.p99 * 1000, "us"), fig(idle.p99 * 1000, "us master idle"),
            idle.p99 > 0 ? busy.p99 / idle.p99 : 0.0, "< 100 us", busy.p99 * 1000 < 100.0);
  return 0;
}
