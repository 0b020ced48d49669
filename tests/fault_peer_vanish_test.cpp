// A field device that vanishes in the middle of a Modbus transaction, on a
// serial line (a socat pty pair whose far end goes away half-way through a
// reply) and on TCP (a slave that closes half-way through a reply): the
// controller keeps running, serves its clients, shows the failure in the
// instruction's status, and polls again once the device is back.
#include <memory>

#include "tests/support/io_fixture.h"
#include "tests/support/quor_process.h"

namespace {

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
  bool status_becomes(bool (*want)(float), int ms) {
    for (int i = 0; i < ms / 20; ++i) {
      if (want(cell("mst"))) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
};
bool ok(float v) { return v == 1.0f; }
bool failed(float v) { return v >= 2.0f; }

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
  // Status, transfer, com type, [address, port,] unit 1, register 1, read
  // registers (3), unsigned int, time-out 200 ms.
  std::vector<std::string> rows = {"mst|0|0|263|0|1", "mblk|0|0|263|0|2", "|0|" + std::to_string(com) + "|5|0|3",
                                   "|0|1|3|0|6", "|0|1|3|0|7", "|0|2|5|0|8", "|0|1|5|0|9", "|0|20|3|0|10"};
  if (!com) rows.insert(rows.begin() + 3, {"127.0.0.1|0|0|264|0|4", "|0|" + std::to_string(port) + "|3|0|5"});
  for (const std::string& r : rows) s.set("sconfig|" + r);
  if (s.ask("status") != "Run") s.ask("run");
}

// Reads exactly n bytes within ms.
bool read_n(int fd, Bytes& out, size_t n, int ms) {
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
bool send_all(int fd, const Bytes& b) { return ::write(fd, b.data(), b.size()) == ssize_t(b.size()); }

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
    Bytes req;
    for (int n = 0; fd >= 0 && read_n(fd, req, 12, 5000); ++n) {
      Bytes reply = {req[0], req[1], 0, 0, 0, 5, req[6], 3, 2, 0x12, 0x34};
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
  EXPECT_TRUE(s.status_becomes(failed, 3000)) << "status " << s.cell("mst");
  EXPECT_EQ(s.ask("status"), "Run");
  EXPECT_EQ(s.cell("mblk"), float(0x1234));
  // Nobody listens now: a client that writes another value into the status
  // sees the failure shown again.
  EXPECT_EQ(s.ask("svar|mst|" + quorclient::float_to_wire(9.0f)), "OK");
  EXPECT_TRUE(s.status_becomes([](float v) { return v == 2.0f; }, 3000)) << "status " << s.cell("mst");
  // Back again: the master polls it as before.
  s.ask("svar|mblk|0");
  std::thread back([&] { serve(20, false); });
  EXPECT_TRUE(s.status_becomes(ok, 5000)) << "status " << s.cell("mst");
  back.join();
  EXPECT_EQ(s.cell("mblk"), float(0x1234));
}

TEST(FaultPeerVanish, SerialDeviceGoneMidReply) {
  if (!PtyPair::available()) GTEST_SKIP() << "socat not installed";
  auto pty = std::make_unique<PtyPair>();
  ASSERT_TRUE(pty->start());
  QuorProcess q;
  ASSERT_TRUE(q.start({"--serial", "1=" + pty->ctl()}));
  Session s{q.session()};
  ASSERT_EQ(s.c.login(""), "prog");
  program_master(s, 1, 0);

  int fd = pty->open_dev();
  ASSERT_GE(fd, 0);
  Bytes req;
  ASSERT_TRUE(read_n(fd, req, 8, 5000));
  ASSERT_TRUE(send_all(fd, with_crc({req[0], 3, 2, 0x12, 0x34})));
  ASSERT_TRUE(s.status_becomes(ok, 3000)) << "status " << s.cell("mst");
  // The next request gets three bytes of its reply, then the device and the
  // line's far end are gone.
  ASSERT_TRUE(read_n(fd, req, 8, 5000));
  send_all(fd, {req[0], 3, 2});
  pty.reset();
  close(fd);
  EXPECT_TRUE(s.status_becomes(failed, 3000)) << "status " << s.cell("mst");
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(s.ask("status"), "Run");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(s.cell("mblk"), float(0x1234));
}

}  // namespace
