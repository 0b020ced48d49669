// The ASCII slave through plain sockets, and Asciislave.
#include <sys/socket.h>

#include "core/engine.h"
#include "io/ascii_slave.h"
#include "tests/support/io_fixture.h"
#include "tests/support/quor_process.h"

namespace {

class AsciiSlave : public IoTest {
 protected:
  void SetUp() override {
    IoTest::SetUp();
    port_ = free_port();
    IO_slave_port_listen(port_, io_kind::AsciiSlave, true);
    s_ = connect_to(port_);
    ASSERT_GE(s_, 0);
  }
  void TearDown() override {
    close(s_);
    IoTest::TearDown();
  }
  // Sends text and returns what comes back until 60 ms of quiet.
  std::string say(const std::string& text, int quiet_ms = 60) {
    if (!text.empty()) {
      EXPECT_EQ(send(s_, text.data(), text.size(), 0), ssize_t(text.size()));
    }
    std::string in;
    for (int idle = 0; idle < quiet_ms;) {
      run_for_us(1000);
      char buf[65536];
      ssize_t n = recv(s_, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        in.append(buf, size_t(n));
        idle = 0;
      } else {
        ++idle;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
      }
    }
    return in;
  }
  u16 port_ = 0;
  int s_ = -1;
};

TEST_F(AsciiSlave, ReadsWritesAndRefusals) {
  sys_set(6656 + 2, 1.5f);
  sys_set(6656 + 3, -20.0f);
  EXPECT_EQ(say("R 3,2\r\n"), "1.5,-20\r\n");
  EXPECT_EQ(say("W 10,2,1.5,2.5\r\n"), "Done\r\n");
  EXPECT_EQ(sys_get(6656 + 9), 1.5f);
  EXPECT_EQ(sys_get(6656 + 10), 2.5f);
  // Storing stops at a field that is not a number or past register 1024;
  // an infinity is stored as the overflow value.
  EXPECT_EQ(say("w 1023,x,inf,7,9\n"), "Done\r\n");
  EXPECT_EQ(sys_get(6656 + 1022), OVERFLOW_VALUE);
  EXPECT_EQ(sys_get(6656 + 1023), 7.0f);
  EXPECT_EQ(say("W 20,x,4,y,5\r\n"), "Done\r\n");
  EXPECT_EQ(sys_get(6656 + 19), 4.0f);
  EXPECT_EQ(sys_get(6656 + 20), 0.0f);

  for (const char* refused : {"R 1024,2\r\n", "R 0,1\r\n", "R 1,0\r\n", "R 99999999999999999999,1\r\n",
                              "W 1025,0,1\r\n", "W x\r\n", "Q 1,1\r\n", "R\r\n"})
    EXPECT_EQ(say(refused), "") << refused;

  // Split over segments, several in one, an over-long line dropped whole.
  EXPECT_EQ(say("R 3"), "");
  EXPECT_EQ(say(",1\r"), "1.5\r\n");
  EXPECT_EQ(say("R 3,1\r\nR 4,1\nR 10,2\r\n"), "1.5\r\n-20\r\n1.5,2.5\r\n");
  EXPECT_EQ(say("W 5,0," + std::string(400, '1') + "\r\nR 3,1\r\n"), "1.5\r\n");
  EXPECT_EQ(sys_get(6656 + 4), 0.0f);
  // A partial line older than 510 ms is forgotten.
  EXPECT_EQ(say("R 4", 600), "");
  EXPECT_EQ(say("R 3,1\r\n"), "1.5\r\n");

  // The whole window in one reply.
  std::string all = say("R 1,1024\r\n", 200);
  EXPECT_EQ(std::count(all.begin(), all.end(), ','), 1023);
  EXPECT_EQ(all.substr(all.size() - 2), "\r\n");
}

TEST_F(AsciiSlave, AsciislaveCopiesBlocks) {
  enum : u16 { ENABLE, TRANSFER, COM, ADDR, LEN, DIR };
  Ivar* v = var("v", 0);
  auto* m = static_cast<Asciislave*>(inst_create(TYPE_ASCIISLAVE, tail_, "as", 0));
  set_ref(m, TRANSFER, v);
  set_num(m, COM, 2, ptype::Select);
  set_num(m, ADDR, 1023);
  set_num(m, LEN, 2);
  EXPECT_GE(v->size, 1);
  v->set(0, 3.5f);
  v->set(1, -1.0f);
  set_num(m, DIR, 1, ptype::Select);
  m->execute();
  EXPECT_EQ(sys_get(7680 + 1024 + 1022), 3.5f);
  EXPECT_EQ(sys_get(7680 + 1024 + 1023), -1.0f);
  sys_set(7680 + 1024 + 1022, 8.0f);
  set_num(m, DIR, 0, ptype::Select);
  m->execute();
  EXPECT_EQ(v->get(0), 8.0f);
  // Out of the window: the field just set goes back to 1.
  set_num(m, LEN, 3);
  Iparam p;
  m->gparam(&p, 0, LEN);
  EXPECT_EQ(p.value, 1u);
  set_num(m, COM, 7, ptype::Select);
  m->gparam(&p, 0, COM);
  EXPECT_EQ(p.value, 0u);
}

}  // namespace
