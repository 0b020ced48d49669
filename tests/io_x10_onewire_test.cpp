// X10 against a scripted interface on a pty, and OWconfig's packing.
#include "core/engine.h"
#include "io/onewire.h"
#include "io/x10.h"
#include "tests/support/io_fixture.h"

namespace {

class X10Test : public IoTest {
 protected:
  enum : u16 { ENABLE, COMMAND, COM, HOUSE, UNIT, REPEAT };
  void SetUp() override {
    IoTest::SetUp();
    if (!PtyPair::available()) GTEST_SKIP() << "socat not installed";
    ASSERT_TRUE(pty_.start());
    dev_ = pty_.open_dev();
    ASSERT_GE(dev_, 0);
    open_line(1, pty_.ctl(), io_kind::X10);
    cmd_ = var("cmd", 0);
    x_ = static_cast<X10*>(inst_create(TYPE_X10, tail_, "x10", 0));
    tail_ = x_;
    set_ref(x_, COMMAND, cmd_);
    set_num(x_, COM, 1, ptype::Select);
  }
  void TearDown() override {
    if (dev_ >= 0) close(dev_);
    IoTest::TearDown();
  }
  // Runs the engine for ms manual milliseconds (in 10 ms steps, real time
  // passing), longer until want bytes came, and returns what the interface
  // received.
  Bytes hear(int ms, size_t want = 0) {
    Bytes in;
    for (int t = 0; t < ms || (in.size() < want && t < 20000); t += 10) {
      run_for_us(10000, 10000);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      u8 buf[64];
      for (ssize_t n; (n = read(dev_, buf, sizeof buf)) > 0;) in.insert(in.end(), buf, buf + n);
    }
    return in;
  }
  // Runs the engine until done() or about two seconds of real time.
  bool until(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) hear(10);
    return done();
  }
  void say(const Bytes& b) { ASSERT_EQ(write(dev_, b.data(), b.size()), ssize_t(b.size())); }
  void arm() {
    x_->execute();
    engine_hooks.io_start(x_);
  }
  PtyPair pty_;
  int dev_ = -1;
  Ivar* cmd_ = nullptr;
  X10* x_ = nullptr;
};

TEST_F(X10Test, HandshakeAndPowerLineMirror) {
  cmd_->set(0, 1.0f);  // On, house A, unit 1
  arm();
  EXPECT_EQ(hear(50, 1), Bytes{0x02});
  say({0x06, '\r'});
  EXPECT_EQ(hear(50, 5), (Bytes{0x63, 0x46, 0x4C, 0x45, 0x41}));
  cmd_->set(0, 0.0f);  // changed while in flight: the armed command stays
  say({'X', 0x46, 0x4C, '\r', 'X', 0x46, 0x45, '\r'});
  EXPECT_TRUE(until([&] { return !x_->ready(); }));
  EXPECT_EQ(hear(50), Bytes{});
  EXPECT_FALSE(x_->port->busy);

  // Power-line traffic: address then On for house A.
  say({'x', 0x46, 0x4C, 0, '\r'});
  say({'x', 0x46, 0x45, 0, '\r'});
  EXPECT_TRUE(until([] { return sys_get(256) == 1.0f; }));
  say({'x', 0x46, 0x47, 0, '\r'});
  EXPECT_TRUE(until([] { return sys_get(256) == 0.0f; }));

  // Repeat time: the same command is not sent again; Enable 2 forces it.
  set_num(x_, REPEAT, 60);
  Ivar* en = var("en", 0);
  set_ref(x_, ENABLE, en);
  const struct {
    float command, enable;
    bool sent;
  } steps[] = {{1, 1, false}, {0, 1, true}, {0, 1, false}, {0, 2, true}};
  for (const auto& s : steps) {
    cmd_->set(0, s.command);
    en->set(0, s.enable);
    x_->pending = 0;
    x_->execute();
    EXPECT_EQ(x_->ready(), s.sent) << s.command << " " << s.enable;
  }
}

TEST_F(X10Test, SilenceAndEndlessMismatchEnd) {
  cmd_->set(0, 0.0f);
  arm();
  // No interface: seven attempts about a second apart, then dropped.
  Bytes got = hear(9000);
  EXPECT_EQ(got, Bytes(7, 0x02));
  EXPECT_FALSE(x_->ready());
  EXPECT_FALSE(x_->port->busy);

  // An interface that acknowledges but always echoes another address.
  arm();
  int starts = 0;
  for (int t = 0; t < 600 && x_->ready(); ++t) {
    Bytes b = hear(20);
    for (u8 c : b)
      if (c == 0x02) {
        ++starts;
        say({0x06, '\r'});
      } else if (c == 0x41) {
        say({'X', 0x4E, 0x4C, '\r'});  // house B
      }
  }
  EXPECT_EQ(starts, 7);
  EXPECT_FALSE(x_->ready());
  // A level-3 stop returns: the port is idle.
  EXPECT_FALSE(x_->port->busy);
}

TEST_F(IoTest, OWconfigPacking) {
  enum : u16 { DESC, TYPE, IDH, IDL, BUS, POWER, DELAY, RETRIES };
  Ivar* cfg = var("cfg", 0);
  auto* ow = static_cast<OWconfig*>(inst_create(TYPE_OWCONFIG, tail_, "ow", 3));
  ASSERT_TRUE(set_ref(ow, 0, cfg));
  EXPECT_GE(cfg->size, 12);
  set_num(ow, TYPE, 40, ptype::Dec, 1);
  set_num(ow, BUS, 2, ptype::Select, 1);
  set_num(ow, POWER, 1, ptype::Select, 1);
  set_num(ow, DELAY, 2, ptype::Select, 1);
  set_num(ow, RETRIES, 2, ptype::Select, 1);
  set_num(ow, IDH, 0x11223344, ptype::Hex, 1);
  set_num(ow, IDH, 0xA1B2C3D4, ptype::Hex, 1);  // replaces, not ORed
  set_num(ow, IDL, 0x00556677, ptype::Hex, 1);
  set_num(ow, IDL, 0x0F889900, ptype::Hex, 1);  // clamped to 24 bits
  set_num(ow, TYPE, 300, ptype::Dec, 2);         // clamped to 255
  ow->execute();
  EXPECT_EQ(cfg->get(0), 23080.0f);
  EXPECT_EQ(cfg->get(1), float(0xA1B2C3));
  EXPECT_EQ(cfg->get(2), float(0xD4FF));
  EXPECT_EQ(cfg->get(3), float(0xFFFF));
  EXPECT_EQ(cfg->get(4), 1024.0f + 255.0f);
  EXPECT_EQ(cfg->get(12), OW_END_MARK);
  Iparam p;
  ow->gparam(&p, 1, IDH);
  EXPECT_EQ(p.value, 0xA1B2C3D4u);
  ow->gparam(&p, 1, IDL);
  EXPECT_EQ(p.value, 0xFFFFFFu);
  // 64 devices: no end marker, the block ends with the last device.
  ow->resize(64);
  EXPECT_GE(cfg->size, 255);
  ow->execute();
  EXPECT_EQ(cfg->get(255), 0.0f);
  std::string text(31, 'd');
  p.type = ptype::Text;
  p.text = text.c_str();
  EXPECT_FALSE(ow->sparam(&p, 1, DESC));
  text.pop_back();
  p.text = text.c_str();
  EXPECT_TRUE(ow->sparam(&p, 1, DESC));
}

}  // namespace
