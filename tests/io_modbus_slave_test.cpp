// The Modbus slave: an independent master (pymodbus) over TCP and over RTU
// on a socat pty pair, raw byte streams for framing and refusals, and
// Modslave's register types.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <atomic>
#include <cmath>

#include "core/engine.h"
#include "io/modbus_slave.h"
#include "tests/support/io_fixture.h"

namespace {

const std::string kClient = std::string(QUOR_SOURCE_DIR) + "/tests/peers/modbus_client.py";
const char* const kPython = "/usr/bin/python3";

bool has_pymodbus() {
  return executable(kPython) && system("/usr/bin/python3 -c 'import pymodbus.client' 2>/dev/null") == 0;
}

class ModbusSlave : public IoTest {
 protected:
  // Runs the scripted master while the engine runs on its own thread, and
  // checks the master's lines after "ready".
  void expect_session(std::vector<std::string> argv) {
    argv.insert(argv.begin(), {kPython, kClient});
    PeerProcess peer;
    ASSERT_TRUE(peer.start(argv));
    std::atomic<bool> stop{false};
    std::thread engine([&] {
      int fds[64];
      while (!stop.load()) {
        fake.advance_us(1000);
        exec_iteration();
        int n = engine_hooks.io_fds(fds, 64);
        pollfd p[64];
        for (int k = 0; k < n; ++k) p[k] = {fds[k], POLLIN, 0};
        poll(p, nfds_t(n), 1);
      }
    });
    std::vector<std::string> got;
    for (std::string l; !(l = peer.read_line(5000)).empty() && l != "done";)
      if (l != "ready") got.push_back(l);
    stop = true;
    engine.join();
    const std::vector<std::string> want{
        "fc16 ok", "fc3 1 2 65535", "fc6 ok", "fc4 65535", "fc5 ok", "fc15 ok",
        "fc1 1 0 1 1 0 0 0 0", "fc2 1 0 1 1 0 0 0 0",
        // pi as "Float" (low word first) and "Float(swapped)"
        "floats 4059 16457 16457 4059", "edge none", "after 1"};
    EXPECT_EQ(got, want);
  }
  static Bytes cat(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
  // Modslave rows.
  enum : u16 { M_ENABLE, M_TRANSFER, M_COM, M_ADDR, M_TYPE, M_LEN, M_DIR };
  Modslave* modslave(u8 com, u32 address1, u8 type, u32 n, u8 dir, Ivar* v) {
    auto* m = static_cast<Modslave*>(inst_create(TYPE_MODSLAVE, tail_, "ms", 0));
    tail_ = m;
    set_num(m, M_COM, com, ptype::Select);
    set_num(m, M_ADDR, address1);
    set_num(m, M_TYPE, type, ptype::Select);
    set_num(m, M_LEN, n);
    set_num(m, M_DIR, dir, ptype::Select);
    set_ref(m, M_TRANSFER, v);
    return m;
  }
  // The controller's replies to the requests sent on the non-blocking fd,
  // read until quiet_ms manual (and real) milliseconds pass without a byte.
  // Until `expect` bytes have come the wait is far longer: on a loaded
  // machine the pty relay may hold a frame for a while.
  Bytes exchange(int fd, const Bytes& out, int quiet_ms = 60, size_t expect = 0) {
    if (!out.empty()) write_all(fd, out);
    Bytes in;
    for (int idle = 0; idle < (in.size() < expect ? 4000 : quiet_ms);) {
      run_for_us(1000);
      u8 buf[600];
      ssize_t n = read(fd, buf, sizeof buf);
      if (n == 0) {
        in.push_back(0xEE);  // marks a close
        break;
      }
      idle = n > 0 ? 0 : idle + 1;
      if (n > 0) in.insert(in.end(), buf, buf + n);
      std::this_thread::sleep_for(std::chrono::microseconds(n > 0 ? 0 : 500));
    }
    return in;
  }
  // Modslave writes pi into registers 200-203 of the window in both word
  // orders.
  void put_pi(u8 com) {
    Ivar* pi = var("pi", 0);
    pi->set(0, 3.1415927f);
    modslave(com, 201, mb_reg::Float, 1, 1, pi)->execute();
    modslave(com, 203, mb_reg::FloatSwapped, 1, 1, pi)->execute();
  }
};

TEST_F(ModbusSlave, TcpAgainstAnIndependentMaster) {
  if (!has_pymodbus()) GTEST_SKIP() << "python3-pymodbus not installed";
  u16 port = free_port();
  IO_slave_port_listen(port, io_kind::ModbusSlave, true);
  put_pi(0);
  expect_session({"tcp", std::to_string(port)});
  EXPECT_EQ(sys_get(512 + 2), 65535.0f);
  EXPECT_EQ(sys_get(512 + 2047), 65535.0f);
  EXPECT_EQ(sys_get(512 + 12), 1.0f);
}

// TCP framing: one request split over segments, two in one segment, and
// requests that are refused in silence or end the connection.
TEST_F(ModbusSlave, TcpFraming) {
  u16 port = free_port();
  IO_slave_port_listen(port, io_kind::ModbusSlave, true);
  sys_set(512, 7.0f);
  sys_set(513, -2.0f);
  sys_set(514, NAN);
  int s = connect_to(port);
  ASSERT_GE(s, 0);
  fcntl(s, F_SETFL, O_NONBLOCK);
  const Bytes read3{0x12, 0x34, 0, 0, 0, 6, 1, 3, 0, 0, 0, 3};
  const Bytes reply3{0x12, 0x34, 0, 0, 0, 9, 1, 3, 6, 0, 7, 0xFF, 0xFE, 0, 0};
  EXPECT_EQ(exchange(s, Bytes(read3.begin(), read3.begin() + 5)), Bytes{});
  EXPECT_EQ(exchange(s, Bytes(read3.begin() + 5, read3.end()), 60, reply3.size()), reply3);

  const Bytes write6{0, 9, 0, 0, 0, 6, 1, 6, 0x07, 0xFF, 0xFF, 0xFF};  // register 2047
  EXPECT_EQ(exchange(s, cat(read3, write6), 60, reply3.size() + write6.size()), cat(reply3, write6));
  EXPECT_EQ(sys_get(2559), 65535.0f);

  const Bytes refused[] = {
      {0, 1, 0, 0, 0, 6, 1, 3, 0x07, 0xF8, 0, 16},           // registers 2040-2055
      {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 0},                  // quantity 0
      {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 126},                // above 125
      {0, 1, 0, 0, 0, 6, 1, 1, 0, 0, 0x07, 0xD1},            // 2001 bits
      {0, 1, 0, 0, 0, 6, 1, 6, 0x08, 0x00, 0, 1},            // register 2048
      {0, 1, 0, 0, 0, 6, 1, 3, 0xFF, 0xFF, 0, 2},            // start + quantity wraps
      {0, 1, 0, 0, 0, 11, 1, 16, 0, 0, 0, 1, 4, 0, 1, 0, 2}, // byte count mismatch
      {0, 1, 0, 0, 0, 6, 1, 15, 0, 0, 0, 8},                 // no byte count
      {0, 1, 0, 0, 0, 6, 1, 43, 0, 0, 0, 1},                 // unknown function
      {0, 1, 0, 0, 0, 7, 1, 3, 0, 0, 0, 1, 9},               // trailing byte
  };
  for (const Bytes& r : refused) EXPECT_EQ(exchange(s, r), Bytes{}) << int(r[7]);
  // Still served after all of them.
  EXPECT_EQ(exchange(s, read3, 60, reply3.size()), reply3);

  // A partial request is dropped after 510 ms; what follows is new.
  EXPECT_EQ(exchange(s, Bytes{0, 1, 0, 0, 0, 6, 1}, 600), Bytes{});
  EXPECT_EQ(exchange(s, read3, 60, reply3.size()), reply3);
  // A length no Modbus frame has closes the connection.
  EXPECT_EQ(exchange(s, Bytes{0, 1, 0, 0, 1, 0, 1, 3}), Bytes{0xEE});
  close(s);
}

// A socat pty pair: the controller's line 2 on one end.
class ModbusSlaveRtu : public ModbusSlave {
 protected:
  void SetUp() override {
    ModbusSlave::SetUp();
    if (!PtyPair::available()) GTEST_SKIP() << "socat not installed";
    ASSERT_TRUE(pty_.start());
    line_ = open_line(2, pty_.ctl(), io_kind::ModbusSlave);
    line_->work2 = 7;
    ASSERT_GT(line_->descriptor, 0);
  }
  float counter(int k) { return sys_get(u16(16 + 4 * 2 + k)); }
  PtyPair pty_;
  IO_def* line_ = nullptr;
};

TEST_F(ModbusSlaveRtu, AgainstAnIndependentMaster) {
  if (!has_pymodbus()) GTEST_SKIP() << "python3-pymodbus not installed";
  put_pi(2);
  expect_session({"rtu", pty_.dev(), "7"});
  const u16 base = 2560 + 1024;
  EXPECT_EQ(sys_get(base + 2), 65535.0f);
  EXPECT_EQ(sys_get(base + 1023), 65535.0f);
  EXPECT_EQ(counter(3), 10.0f);  // every answered request
  EXPECT_EQ(counter(2), 1.0f);   // the read past the window
}

// CRC errors, foreign units, broadcasts and interrupted frames, counted.
TEST_F(ModbusSlaveRtu, RefusalsAndCounters) {
  int dev = pty_.open_dev();
  ASSERT_GE(dev, 0);
  sys_set(3584, 42.0f);
  const Bytes read1 = with_crc({7, 3, 0, 0, 0, 1});
  const Bytes reply1 = with_crc({7, 3, 2, 0, 42});
  Bytes bad = read1;
  bad.back() ^= 1;
  // Each refused in silence; a good frame after it is answered (the serial
  // reply waits 20 ms).
  const struct { const char* what; Bytes frame; int ms; } cases[] = {
      {"CRC", bad, 150},
      {"foreign unit", with_crc({5, 3, 0, 0, 0, 1}), 150},
      {"broadcast", with_crc({0, 6, 0, 0, 0, 1}), 150},
      {"unknown function", with_crc({7, 43, 0, 0, 0, 1}), 150},
      {"interrupted", Bytes(read1.begin(), read1.begin() + 4), 700},
  };
  EXPECT_EQ(exchange(dev, read1, 60, reply1.size()), reply1);
  for (const auto& c : cases) {
    EXPECT_EQ(exchange(dev, c.frame, c.ms), Bytes{}) << c.what;
    EXPECT_EQ(exchange(dev, read1, 60, reply1.size()), reply1) << c.what;
  }
  EXPECT_EQ(sys_get(3584), 42.0f);  // the broadcast wrote nothing
  // Two frames back to back: both answered, in order.
  const Bytes write6 = with_crc({7, 6, 0x03, 0xFF, 0x12, 0x34});
  EXPECT_EQ(exchange(dev, cat(read1, write6), 60, reply1.size() + write6.size()), cat(reply1, write6));
  EXPECT_EQ(sys_get(3584 + 1023), float(0x1234));
  // Time-outs, CRC errors, rejected, replies.
  const float counts[] = {1, 1, 1, 8};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(counter(k), counts[k]) << k;
  close(dev);
}

// Modslave: every register type both ways, the window rule of its rows.
TEST_F(ModbusSlave, ModslaveRegisterTypes) {
  Ivar* v = var("v", 0);
  const struct { u8 type; float value; std::vector<float> cells; float back; } cases[] = {
      {mb_reg::Unsigned, 70000.0f, {65535.0f}, 65535.0f},
      {mb_reg::Unsigned, 12.5f, {12.5f}, 12.5f},
      {mb_reg::TwosComp, -1.0f, {65535.0f}, -1.0f},
      {mb_reg::TwosComp, -40000.0f, {32768.0f}, -32768.0f},
      {mb_reg::IntSign, -5.0f, {float(0x8005)}, -5.0f},
      {mb_reg::Bcd, 1234.0f, {float(0x1234)}, 1234.0f},
      {mb_reg::Bcd, 12345.0f, {float(0x9999)}, 9999.0f},
      {mb_reg::Float, 3.1415927f, {4059.0f, 16457.0f}, 3.1415927f},
      {mb_reg::FloatSwapped, 3.1415927f, {16457.0f, 4059.0f}, 3.1415927f},
  };
  for (const auto& c : cases) {
    v->set(0, c.value);
    modslave(1, 1024 - u32(c.cells.size()) + 1, c.type, 1, 1, v)->execute();
    const u16 first = u16(2560 + 1024 - c.cells.size());
    for (size_t k = 0; k < c.cells.size(); ++k) EXPECT_EQ(sys_get(u16(first + k)), c.cells[k]) << int(c.type);
    v->set(0, 0.0f);
    modslave(1, 1024 - u32(c.cells.size()) + 1, c.type, 1, 0, v)->execute();
    EXPECT_FLOAT_EQ(v->get(0), c.back) << int(c.type);
  }
  // A float block whose second register would leave the window moves nothing.
  sys_set(2560 + 1023, 5.0f);
  v->set(0, 1.0f);
  modslave(1, 1024, mb_reg::Float, 1, 1, v)->execute();
  EXPECT_EQ(sys_get(2560 + 1023), 5.0f);
  // Disabled: nothing.
  Modslave* m = modslave(0, 1, mb_reg::Unsigned, 1, 1, v);
  Ivar* en = var("en", 0);
  set_ref(m, M_ENABLE, en);
  sys_set(512, 9.0f);
  m->execute();
  EXPECT_EQ(sys_get(512), 9.0f);

  // A field that takes the block out of its window is reset to 1; the
  // transfer variable grows for the block.
  Iparam p;
  set_num(m, M_ADDR, 2040);
  for (u32 len : {10u, 9u}) {  // 10 would end past 2048
    set_num(m, M_LEN, len);
    m->gparam(&p, 0, M_LEN);
    EXPECT_EQ(p.value, len == 10 ? 1u : 9u);
  }
  EXPECT_GE(v->size, 8);
  set_num(m, M_COM, 9, ptype::Select);
  m->gparam(&p, 0, M_COM);
  EXPECT_EQ(p.value, 0u);
}

}  // namespace
