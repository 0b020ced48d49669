// A field device that vanishes in the middle of a Modbus transaction, on a
// serial line (a socat pty pair whose far end goes away half-way through a
// reply) and on TCP (a slave that closes half-way through a reply): the
// controller keeps running, serves its clients, shows the failure in the
// instruction's status, and polls again once the device is back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "io/modbus_master.h"
#include "bench/soak_run.h"

namespace {

const char* const kSocat = "/usr/bin/socat";

struct Session {
  quorclient::Connection c;
  std::string ask(const std::string& line) {
    quorclient::Reply r;
    return c.command(line, r) ? r.first() : "(no reply)";
  }
  void set(const std::string& line) {  // "sconfig" has no reply
    c.send_line(line);
    ask("term");
  }
  float cell(const std::string& name) {
    float v = -1;
    quorclient::wire_to_float(ask("rvar|" + name), &v);
    return v;
  }
  // Waits up to ms for the status cell to satisfy want.
  template <class P>
  bool status_becomes(P want, int ms) {
    for (int i = 0; i < ms / 20; ++i) {
      if (want(cell("mst"))) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
};

// Loop 1 every 100 ms, one Modbus master reading holding register 1 of
// unit 1, on line 1 (com 1) or over TCP to port (com 0).
void program_master(Session& s, int com, u16 port) {
  s.ask("gpos||0");
  s.set("sconfig||4|100|3|0|1");
  if (com) {
    s.ask("gpos||1");
    s.set("sconfig||4|1|5|1|0");  // line 1: Modbus master
    s.set("sconfig||4|19200|3|1|1");
  }
  s.ask("start");
  ASSERT_NE(s.ask("insert|poll|11|1"), "fail");
  s.set("sconfig|mst|0|0|263|0|1");
  s.set("sconfig|mblk|0|0|263|0|2");
  s.set("sconfig||0|" + std::to_string(com) + "|5|0|3");
  if (!com) {
    s.set("sconfig|127.0.0.1|0|0|264|0|4");
    s.set("sconfig||0|" + std::to_string(port) + "|3|0|5");
  }
  s.set("sconfig||0|1|3|0|6");    // unit 1
  s.set("sconfig||0|1|3|0|7");    // register 1
  s.set("sconfig||0|2|5|0|8");    // read registers (3)
  s.set("sconfig||0|1|5|0|9");    // unsigned int
  s.set("sconfig||0|20|3|0|10");  // time-out 200 ms
  if (s.ask("status") != "Run") s.ask("run");
}

bool send_all(int fd, const std::vector<u8>& b) { return ::write(fd, b.data(), b.size()) == ssize_t(b.size()); }

// Reads exactly n bytes within ms.
bool read_n(int fd, std::vector<u8>& out, size_t n, int ms) {
  out.clear();
  u8 buf[300];
  while (out.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    ssize_t k = ::read(fd, buf, std::min(sizeof buf, n - out.size()));
    if (k <= 0) return false;
    out.insert(out.end(), buf, buf + k);
  }
  return true;
}

double cpu_seconds(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(f)), {});
  std::istringstream rest(text.substr(text.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i)
    if (i >= 14) ticks += std::stod(field);  // utime, stime
  return ticks / double(sysconf(_SC_CLK_TCK));
}

pid_t spawn(std::vector<std::string> argv) {
  pid_t pid = fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> a;
    for (auto& s : argv) a.push_back(s.data());
    a.push_back(nullptr);
    execv(a[0], a.data());
    _exit(127);
  }
  return pid;
}

// A helper process, ended by pid when the test is done with it.
struct Child {
  pid_t pid = 0;
  ~Child() { end(); }
  void end() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = 0;
  }
};

TEST(FaultPeerVanish, TcpSlaveClosesMidReply) {
  QuorProcess q;
  ASSERT_TRUE(q.start());
  Session s{q.session()};
  ASSERT_EQ(s.c.login(""), "prog");
  const u16 port = free_port();

  // The slave answers twice, then sends half a reply and is gone; later it
  // comes back.
  auto serve = [port](int good, bool vanish) {
    int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 4) != 0) return close(l), false;
    pollfd p{l, POLLIN, 0};
    int fd = poll(&p, 1, 5000) == 1 ? accept(l, nullptr, nullptr) : -1;
    close(l);
    std::vector<u8> req;
    for (int n = 0; fd >= 0 && read_n(fd, req, 12, 5000); ++n) {
      std::vector<u8> reply = {req[0], req[1], 0, 0, 0, 5, req[6], 3, 2, 0x12, 0x34};
      if (n == good && vanish) {
        send_all(fd, {reply.begin(), reply.begin() + 8});
        break;
      }
      send_all(fd, reply);
      if (!vanish && n >= good) break;
    }
    if (fd >= 0) close(fd);
    return fd >= 0;
  };
  std::thread slave([&] { serve(2, true); });
  program_master(s, 0, port);
  slave.join();
  EXPECT_TRUE(s.status_becomes([](float v) { return v >= 2.0f; }, 3000)) << "status " << s.cell("mst");
  EXPECT_EQ(s.ask("status"), "Run");
  EXPECT_EQ(s.cell("mblk"), float(0x1234));
  // Back again: the master polls it as before.
  s.ask("svar|mblk|0");
  std::thread back([&] { serve(20, false); });
  EXPECT_TRUE(s.status_becomes([](float v) { return v == 1.0f; }, 5000)) << "status " << s.cell("mst");
  back.join();
  EXPECT_EQ(s.cell("mblk"), float(0x1234));
}

TEST(FaultPeerVanish, SerialDeviceGoneMidReply) {
  if (access(kSocat, X_OK) != 0) GTEST_SKIP() << "socat not installed";
  QuorProcess q;
  const std::string ctl = q.path("ctl"), dev = q.path("dev");
  auto pair = [&] {
    pid_t pid = spawn({kSocat, "PTY,link=" + ctl + ",raw,echo=0", "PTY,link=" + dev + ",raw,echo=0"});
    struct stat st;
    for (int i = 0; i < 300 && (lstat(ctl.c_str(), &st) || lstat(dev.c_str(), &st)); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pid;
  };
  Child socat{pair()};
  ASSERT_TRUE(q.start({"--serial", "1=" + ctl}));
  Session s{q.session()};
  ASSERT_EQ(s.c.login(""), "prog");
  program_master(s, 1, 0);

  auto reply_to = [](const std::vector<u8>& req) {
    std::vector<u8> r = {req[0], 3, 2, 0x12, 0x34};
    u16 crc = modbus_crc(r.data(), u32(r.size()));
    r.push_back(u8(crc));
    r.push_back(u8(crc >> 8));
    return r;
  };
  int fd = ::open(dev.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  std::vector<u8> req;
  ASSERT_TRUE(read_n(fd, req, 8, 5000));
  ASSERT_TRUE(send_all(fd, reply_to(req)));
  ASSERT_TRUE(s.status_becomes([](float v) { return v == 1.0f; }, 3000)) << "status " << s.cell("mst");
  // The next request gets three bytes of its reply, then the device and the
  // line's far end are gone.
  ASSERT_TRUE(read_n(fd, req, 8, 5000));
  std::vector<u8> reply = reply_to(req);
  send_all(fd, {reply.begin(), reply.begin() + 3});
  socat.end();
  close(fd);
  EXPECT_TRUE(s.status_becomes([](float v) { return v >= 2.0f; }, 3000)) << "status " << s.cell("mst");
  const double cpu0 = cpu_seconds(q.pid());
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(s.ask("status"), "Run");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::printf("controller CPU with the line's far end gone: %.0f%% of a core\n", (cpu_seconds(q.pid()) - cpu0) * 100);
  EXPECT_EQ(s.cell("mblk"), float(0x1234));
}

}  // namespace
