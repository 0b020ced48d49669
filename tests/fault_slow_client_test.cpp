// Clients that connect and send nothing, or send a byte a second (a request
// line, an upload body, a Modbus TCP frame), never delay the others: while
// they hang, another HMI session and another Modbus master get every answer
// within a generous bound.
#include <gtest/gtest.h>

#include "bench/soak_run.h"

namespace {

struct Hang {
  const char* what;
  bool modbus;          // on the Modbus TCP slave, else the user port
  std::string at_once;  // sent on connecting
  std::string trickle;  // then one byte a second
};

TEST(FaultSlowClient, HangingClientsDelayNobody) {
  QuorProcess q;
  const u16 modbus_port = free_port();
  soak::Options o;
  o.formulas = 20;
  o.pids = 2;
  std::string err;
  ASSERT_TRUE(soak::write_program(q.dir(), modbus_port, o, &err)) << err;
  ASSERT_TRUE(q.start());

  const std::string request("\0\1\0\0\0\6\1\3\0\0\0\1", 12);
  const std::vector<Hang> hangs = {
      {"silent on the user port", false, "", ""},
      {"a request line, a byte a second", false, "", "Quiblet! /\rrvar|!passes\r"},
      {"an upload body, a byte a second", false, "POST /slow.txt\n1000\r", std::string(1000, 'b')},
      {"silent on the Modbus slave", true, "", ""},
      {"a Modbus frame, a byte a second", true, "", request + request},
  };
  std::atomic<bool> stop{false};
  std::vector<std::thread> hangers;
  for (const Hang& h : hangs)
    for (int copy = 0; copy < 2; ++copy)
      hangers.emplace_back([&, h] {
        int fd = connect_to(h.modbus ? modbus_port : q.port());
        if (fd < 0) return;
        (void)send(fd, h.at_once.data(), h.at_once.size(), MSG_NOSIGNAL);
        for (size_t i = 0; !stop.load(); ++i) {
          if (i % 20 == 0 && i / 20 < h.trickle.size()) (void)send(fd, &h.trickle[i / 20], 1, MSG_NOSIGNAL);
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        close(fd);
      });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  // Meanwhile: one session and one master, an exchange every 50 ms for 5 s.
  auto s = q.session();
  int mb = connect_to(modbus_port);
  ASSERT_TRUE(s.is_open());
  ASSERT_GE(mb, 0);
  double worst_hmi = 0, worst_mb = 0;
  int answered = 0, exchanges = 0;
  std::vector<u8> reply;
  for (auto until = soak::Clock::now() + std::chrono::seconds(5); soak::Clock::now() < until; ++exchanges) {
    quorclient::Reply r;
    auto t0 = soak::Clock::now();
    bool ok = s.command("rvar|!passes", r, 3000) && !r.fail();
    worst_hmi = std::max(worst_hmi, soak::since_us(t0) / 1e6);
    t0 = soak::Clock::now();
    ok = soak::modbus_exchange(mb, u16(exchanges), {3, 0, 0, 0, 1}, reply) && ok;
    worst_mb = std::max(worst_mb, soak::since_us(t0) / 1e6);
    answered += ok;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  stop = true;
  for (auto& t : hangers) t.join();
  close(mb);

  EXPECT_EQ(answered, exchanges);
  EXPECT_LT(worst_hmi, 2.0);
  EXPECT_LT(worst_mb, 2.0);
  EXPECT_FALSE(q.exists("slow.txt"));  // the unfinished upload left nothing
  std::printf("%d exchanges, slowest answer %.1f ms (HMI), %.1f ms (Modbus)\n", exchanges, worst_hmi * 1e3,
              worst_mb * 1e3);
}

}  // namespace
