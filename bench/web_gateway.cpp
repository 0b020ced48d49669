// The browser gateway's cost to the controller and its delay: the command
// rate another client gets from the controller with no gateway (baseline),
// with the gateway and 1 browser, and with 50 browsers on its event stream;
// then the delay from a variable change to the browser's event stream and
// (when mosquitto is installed) to an MQTT subscriber, at the default poll.
//
//   bench_web_gateway [--bin DIR] [SECONDS] [CHANGES]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/quor_process.h"
#include "tools/client/client.h"

using Clock = std::chrono::steady_clock;
using quorclient::Connection;
using quorclient::Reply;

namespace {

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

pid_t spawn(const std::vector<std::string>& args, int* out_fd = nullptr) {
  int fds[2] = {-1, -1};
  if (out_fd && pipe2(fds, O_CLOEXEC) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    if (out_fd) dup2(fds[1], 1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    if (!out_fd) dup2(null, 1);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (out_fd) {
    close(fds[1]);
    *out_fd = fds[0];
  }
  return pid;
}

void end(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int st;
  waitpid(pid, &st, 0);
}

bool wait_port(uint16_t port) {
  for (int i = 0; i < 300; ++i) {
    Connection c;
    if (c.connect("127.0.0.1", port, 100)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Commands per second that one client gets for `seconds`.
double command_rate(uint16_t port, double seconds) {
  Connection c;
  if (!c.connect("127.0.0.1", port) || !c.open_session()) return 0;
  Reply r;
  long n = 0;
  auto t0 = Clock::now();
  while (ms_since(t0) < seconds * 1000) {
    if (!c.command("rvar|!v|0", r) || r.fail()) return 0;
    ++n;
  }
  return n / (ms_since(t0) / 1000);
}

// A browser on the event stream: reads everything, remembers when each
// value (the float bits as text) first arrived.
class Viewer {
 public:
  explicit Viewer(uint16_t port) {
    fd_ = connect_to(port);
    std::string req = "GET /events/Plant HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n\r\n";
    if (fd_ >= 0 && write(fd_, req.data(), req.size()) != ssize_t(req.size())) fd_ = -1;
    thread_ = std::thread([this] { loop(); });
  }
  ~Viewer() {
    stop_ = true;
    thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  bool seen(const std::string& bits, Clock::time_point* at) {
    std::lock_guard<std::mutex> l(m_);
    for (auto& [b, t] : arrivals_)
      if (b == bits) return *at = t, true;
    return false;
  }

 private:
  void loop() {
    char buf[4096];
    std::string acc;
    while (!stop_ && fd_ >= 0) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) break;
      acc.append(buf, size_t(n));
      for (size_t at; (at = acc.find("[[")) != std::string::npos;) {
        size_t e = acc.find(']', at);
        if (e == std::string::npos) break;
        std::lock_guard<std::mutex> l(m_);
        arrivals_.emplace_back(acc.substr(at + 2, e - at - 2), Clock::now());
        acc.erase(0, e);
      }
      if (acc.size() > 65536) acc.clear();
    }
  }
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex m_;
  std::vector<std::pair<std::string, Clock::time_point>> arrivals_;
};

void percentiles(const char* what, std::vector<double> d) {
  if (d.empty()) return (void)std::printf("%-40s no samples\n", what);
  std::sort(d.begin(), d.end());
  std::printf("%-40s p50 %6.1f ms  p99 %6.1f ms  max %6.1f ms  (%zu changes)\n", what, d[d.size() / 2],
              d[std::min(d.size() - 1, d.size() * 99 / 100)], d.back(), d.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::string bin = std::filesystem::absolute(argv[0]).parent_path().parent_path().string();
  double seconds = 2;
  int changes = 60;
  for (int i = 1, pos = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--bin") && i + 1 < argc) bin = argv[++i];
    else if (pos++ == 0) seconds = std::max(0.2, std::atof(argv[i]));
    else changes = std::max(1, std::atoi(argv[i]));
  }
  signal(SIGPIPE, SIG_IGN);
  QuorProcess q(bin + "/quor");
  if (!std::filesystem::exists(bin + "/quorweb") || !q.start()) {
    std::printf("needs %s/quor and %s/quorweb\n", bin.c_str(), bin.c_str());
    return 1;
  }
  {  // An operator password and a screen with one field on !v.
    Connection c = q.session();
    if (c.login("") != "prog") return 1;
    Reply r;
    for (const char* line : {"gpos||0", "resize||4|2", "start", "insert|Plant|0|0", "shmiw||9", "hinsert|v|2"})
      c.command(line, r);
    for (const char* line : {"sconfig|oper|4|0|264|2|0", "sconfig||4|1|3|2|1", "sconfig||4|9|3|2|2",
                             "sconfig|!v|1|0|263|0|4"})
      c.send_line(line);
    c.command("users", r);
  }
  std::printf("controller command rate (rvar, one client, %.0f s each):\n", seconds);
  double base = command_rate(q.port(), seconds);
  std::printf("  %-38s %9.0f commands/s\n", "no gateway (baseline)", base);

  uint16_t web = free_port(), broker = free_port();
  std::string dir = q.dir();
  bool have_broker = std::system("command -v mosquitto_sub > /dev/null && test -x /usr/sbin/mosquitto") == 0;
  pid_t mq = -1, sub = -1;
  int sub_fd = -1;
  std::vector<std::string> gw_args = {bin + "/quorweb", "--controller", "127.0.0.1:" + std::to_string(q.port()),
                                      "--listen", "127.0.0.1:" + std::to_string(web), "--password", "oper"};
  if (have_broker) {
    std::string conf = dir + "/bench-mosquitto.conf";
    FILE* f = std::fopen(conf.c_str(), "w");
    std::fprintf(f, "listener %u 127.0.0.1\nallow_anonymous true\npersistence false\n", unsigned(broker));
    std::fclose(f);
    mq = spawn({"/usr/sbin/mosquitto", "-c", conf});
    wait_port(broker);
    gw_args.insert(gw_args.end(), {"--mqtt", "127.0.0.1:" + std::to_string(broker), "--publish", "!v"});
  }
  pid_t gw = spawn(gw_args);
  if (!wait_port(web)) {
    std::printf("the gateway did not start\n");
    end(mq);
    return 1;
  }
  if (have_broker) {
    sub = spawn({"mosquitto_sub", "-p", std::to_string(broker), "-h", "127.0.0.1", "-t", "quor/QUOR/!v"}, &sub_fd);
    fcntl(sub_fd, F_SETFL, O_NONBLOCK);
  }
  std::vector<std::unique_ptr<Viewer>> viewers;
  viewers.push_back(std::make_unique<Viewer>(web));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  double one = command_rate(q.port(), seconds);
  std::printf("  %-38s %9.0f commands/s  (%+.1f%%)\n", "gateway, 1 browser", one, 100 * (one - base) / base);
  while (viewers.size() < 50) viewers.push_back(std::make_unique<Viewer>(web));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  double fifty = command_rate(q.port(), seconds);
  std::printf("  %-38s %9.0f commands/s  (%+.1f%%, goal: within 10%% of 1 browser: %+.1f%%)\n", "gateway, 50 browsers",
              fifty, 100 * (fifty - base) / base, 100 * (fifty - one) / one);

  // Delay: change !v, wait until the first viewer and the subscriber have it.
  std::vector<double> to_page, to_broker;
  Connection w;
  w.connect("127.0.0.1", q.port());
  w.open_session();
  std::string mqtt_acc;
  for (int i = 1; i <= changes; ++i) {
    float v = float(i);
    std::string bits = quorclient::float_to_wire(v);
    char payload[64];
    std::snprintf(payload, sizeof payload, "{\"value\":%d}", i);
    Reply r;
    auto t0 = Clock::now();
    w.command("svar|!v|" + bits, r);
    bool page = false, brk = !have_broker;
    while ((!page || !brk) && ms_since(t0) < 2000) {
      Clock::time_point at;
      if (!page && viewers[0]->seen(bits, &at)) {
        page = true;
        to_page.push_back(std::chrono::duration<double, std::milli>(at - t0).count());
      }
      char buf[1024];
      ssize_t n;
      while (sub_fd >= 0 && (n = read(sub_fd, buf, sizeof buf)) > 0) mqtt_acc.append(buf, size_t(n));
      if (!brk && mqtt_acc.find(payload) != std::string::npos) {
        brk = true;
        to_broker.push_back(ms_since(t0));
        mqtt_acc.clear();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(37 * (i % 7)));  // spread over the poll phase
  }
  std::printf("delay from a change to (poll every 200 ms; goal p99 under 250 ms):\n");
  percentiles("  the page (event stream, 50 browsers)", to_page);
  if (have_broker) percentiles("  the broker (MQTT subscriber)", to_broker);
  else std::printf("  the broker: mosquitto not installed, not measured\n");
  viewers.clear();
  end(sub);
  end(gw);
  end(mq);
  return 0;
}
