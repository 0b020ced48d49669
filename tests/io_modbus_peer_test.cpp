// The Modbus master against an independent slave (libmodbus), over TCP on
// 127.0.0.1 and over RTU on the far end of a socat pty pair.
#include <sys/stat.h>

#include <cmath>

#include "tests/support/io_fixture.h"

namespace {

const std::string kPeer = std::string(QUOR_BINARY_DIR) + "/peers/modbus_peer";
const char* const kSocat = "/usr/bin/socat";

class ModbusPeer : public IoTest {
 protected:
  // Starts a TCP slave; its port, or 0.
  u16 start_tcp(PeerProcess& peer) {
    if (!peer.start({kPeer, "tcp"})) return 0;
    std::string line = peer.read_line();
    return line.rfind("port ", 0) == 0 ? u16(std::stoi(line.substr(5))) : 0;
  }
  Ivar* v = nullptr;
  void SetUp() override {
    IoTest::SetUp();
    if (!executable(kPeer)) GTEST_SKIP() << "libmodbus peer not built (libmodbus-dev missing)";
    v = var("blk", 0);
  }
};

TEST_F(ModbusPeer, TcpReadsEveryRegisterType) {
  PeerProcess peer;
  u16 port = start_tcp(peer);
  ASSERT_NE(port, 0);

  // Input registers 1.. hold pi (low half first), pi (high half first),
  // 250, -5, 0x8005, 0x1234, 65535.
  Modbus* f = tcp_modbus(port, 3, mb_reg::Float, 1, 1, v);
  EXPECT_EQ(transact(f), mb_status::Ok);
  EXPECT_FLOAT_EQ(v->get(0), 3.1415927f);

  configure(f, 3, mb_reg::FloatSwapped, 3, v);
  EXPECT_EQ(transact(f), mb_status::Ok);
  EXPECT_FLOAT_EQ(v->get(0), 3.1415927f);

  configure(f, 3, mb_reg::Unsigned, 5, v);
  EXPECT_EQ(transact(f), mb_status::Ok);
  EXPECT_FLOAT_EQ(v->get(0), 250.0f);

  configure(f, 3, mb_reg::TwosComp, 6, v);
  EXPECT_EQ(transact(f), mb_status::Ok);
  EXPECT_FLOAT_EQ(v->get(0), -5.0f);

  configure(f, 3, mb_reg::IntSign, 7, v);
  EXPECT_EQ(transact(f), mb_status::Ok);
  EXPECT_FLOAT_EQ(v->get(0), -5.0f);

  configure(f, 3, mb_reg::Bcd, 8, v);
  EXPECT_EQ(transact(f), mb_status::Ok);
  EXPECT_FLOAT_EQ(v->get(0), 1234.0f);

  // Scaling: 250 x 0.1 + 0 is stored as 25.
  configure(f, 3, mb_reg::Unsigned, 5, v);
  set_float(f, 1, 0, 0.1f);
  EXPECT_EQ(transact(f), mb_status::Ok);
  EXPECT_NEAR(v->get(0), 25.0f, 1e-5);
}

TEST_F(ModbusPeer, TcpCoilsDiscretesAndWrites) {
  PeerProcess peer;
  u16 port = start_tcp(peer);
  ASSERT_NE(port, 0);

  // Discrete inputs: odd addresses are on. Read 10 from address 1 (wire 0).
  Modbus* m = tcp_modbus(port, 1, mb_reg::Unsigned, 10, 1, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  for (u16 i = 0; i < 10; ++i) EXPECT_EQ(v->get(i), i % 2 ? 1.0f : 0.0f) << i;

  // Coils: multiples of 3 are on; then write 10 coils and read them back.
  configure(m, 0, mb_reg::Unsigned, 1, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  for (u16 i = 0; i < 10; ++i) EXPECT_EQ(v->get(i), i % 3 ? 0.0f : 1.0f) << i;
  for (u16 i = 0; i < 10; ++i) v->set(i, i == 1 || i == 9 ? 1.0f : 0.0f);
  configure(m, 6, mb_reg::Unsigned, 1, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  for (u16 i = 0; i < 10; ++i) v->set(i, 5.0f);
  configure(m, 0, mb_reg::Unsigned, 1, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  for (u16 i = 0; i < 10; ++i) EXPECT_EQ(v->get(i), i == 1 || i == 9 ? 1.0f : 0.0f) << i;

  // Set single coil on coil 5 (wire 4).
  v->set(0, 1.0f);
  m->resize(1);
  configure(m, 4, mb_reg::Unsigned, 5, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  m->resize(10);
  configure(m, 0, mb_reg::Unsigned, 1, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  EXPECT_EQ(v->get(4), 1.0f);

  // Registers: single and multiple writes, read back as holding registers.
  m->resize(1);
  v->set(0, -2.0f);
  configure(m, 5, mb_reg::TwosComp, 11, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  m->resize(4);
  v->set(0, 2.5f);  // float: 2 registers
  v->set(1, -7.25f);
  v->set(2, 1e6f);
  v->set(3, 0.0f);
  configure(m, 7, mb_reg::Float, 20, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  for (u16 i = 0; i < 4; ++i) v->set(i, 0.0f);
  configure(m, 2, mb_reg::Float, 20, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  EXPECT_FLOAT_EQ(v->get(0), 2.5f);
  EXPECT_FLOAT_EQ(v->get(1), -7.25f);
  EXPECT_FLOAT_EQ(v->get(2), 1e6f);
  m->resize(2);
  configure(m, 2, mb_reg::TwosComp, 10, v);  // holding 9 (1009), 10 (written -2)
  EXPECT_EQ(transact(m), mb_status::Ok);
  EXPECT_FLOAT_EQ(v->get(0), 1009.0f);
  EXPECT_FLOAT_EQ(v->get(1), -2.0f);

  // An address beyond the peer's table gets an exception reply.
  configure(m, 2, mb_reg::Unsigned, 60000, v);
  EXPECT_EQ(transact(m), mb_status::WrongFunction);
  // And the connection carries on.
  configure(m, 2, mb_reg::Unsigned, 1, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  EXPECT_FLOAT_EQ(v->get(0), 1000.0f);
}

}  // namespace

namespace {

// A socat pty pair with the libmodbus RTU slave on one end; the controller's
// line 2 is mapped to the other.
class ModbusRtuPeer : public ModbusPeer {
 protected:
  void SetUp() override {
    ModbusPeer::SetUp();
    if (IsSkipped()) return;
    if (!executable(kSocat)) GTEST_SKIP() << "socat not installed";
    char tmpl[] = "/tmp/quor-rtu-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_TRUE(socat_.start({kSocat, "PTY,link=" + dir_ + "/ctl,raw,echo=0",
                              "PTY,link=" + dir_ + "/dev,raw,echo=0"}));
    for (int i = 0; i < 300 && !(exists("/ctl") && exists("/dev")); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(exists("/ctl") && exists("/dev"));
    // Held open so that the controller re-opening its end never leaves the
    // pty without a reader (socat would end).
    holder_ = open((dir_ + "/ctl").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_TRUE(peer_.start({kPeer, "rtu", dir_ + "/dev"}));
    ASSERT_EQ(peer_.read_line(), "ready");
    line_ = open_line(2, dir_ + "/ctl");
    ASSERT_GT(line_->descriptor, 0);
  }
  void TearDown() override {
    peer_.end();
    socat_.end();
    if (holder_ >= 0) close(holder_);
    if (!dir_.empty()) {
      unlink((dir_ + "/ctl").c_str());
      unlink((dir_ + "/dev").c_str());
      rmdir(dir_.c_str());
    }
    ModbusPeer::TearDown();
  }
  bool exists(const char* name) {
    struct stat st;
    return lstat((dir_ + name).c_str(), &st) == 0;
  }
  std::string dir_;
  PeerProcess socat_, peer_;
  int holder_ = -1;
  IO_def* line_ = nullptr;
};

TEST_F(ModbusRtuPeer, ReadsWritesAndRetriesOverRtu) {
  Modbus* m = serial_modbus(2, 3, mb_reg::Float, 1, 1, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  EXPECT_FLOAT_EQ(v->get(0), 3.1415927f);

  m->resize(3);
  configure(m, 3, mb_reg::Unsigned, 5, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  EXPECT_FLOAT_EQ(v->get(0), 250.0f);
  EXPECT_FLOAT_EQ(v->get(1), 65531.0f);
  EXPECT_FLOAT_EQ(v->get(2), 32773.0f);

  v->set(0, 12.0f);
  v->set(1, 34.0f);
  v->set(2, 9999.0f);
  configure(m, 7, mb_reg::Bcd, 50, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  configure(m, 2, mb_reg::Unsigned, 50, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  EXPECT_FLOAT_EQ(v->get(0), 0x12);
  EXPECT_FLOAT_EQ(v->get(1), 0x34);
  EXPECT_FLOAT_EQ(v->get(2), 0x9999);

  // Another unit address: the slave stays silent, nothing is received.
  set_num(m, UNIT, 7);
  set_num(m, TIMEOUT, 5);
  EXPECT_EQ(transact(m), mb_status::Timeout);

  // The peer stopped: three attempts, each after the time-out, then 2.
  set_num(m, UNIT, 1);
  set_num(m, RETRIES, 3);
  peer_.signal(SIGSTOP);
  u32 t0 = io_msec_of_day();
  EXPECT_EQ(transact(m), mb_status::Timeout);
  EXPECT_GE(io_msec_of_day() - t0, 3u * 50);
  peer_.signal(SIGCONT);
}

}  // namespace
