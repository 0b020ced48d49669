// The Modbus master's frames, byte by byte, against scripted peers: a pty
// whose far end the test reads and writes (RTU), and a TCP socket the test
// accepts on. Register images, CRC and the parameter rows are checked here
// too.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <cmath>

#include "tests/support/io_fixture.h"

namespace {

TEST(IoModbusCodec, CrcAndRegisterImages) {
  const u8 req[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  EXPECT_EQ(modbus_crc(req, 6), 0xCDC5);  // sent as C5 CD

  // A value as it goes out (first and second register), and what those
  // registers read back as.
  const struct { u8 type; float value; u16 a, b; float back; } cases[] = {
      {mb_reg::IntSign, -5.0f, 0x8005, 0, -5.0f},
      {mb_reg::IntSign, 40000.0f, 0x7FFF, 0, 32767.0f},
      {mb_reg::Bcd, 1234.0f, 0x1234, 0, 1234.0f},
      {mb_reg::Bcd, 12345.0f, 0x9999, 0, 9999.0f},
      {mb_reg::Bcd, -3.0f, 0x0000, 0, 0.0f},
      {mb_reg::Unsigned, 70000.0f, 65535, 0, 65535.0f},
      {mb_reg::Unsigned, 12.9f, 12, 0, 12.0f},
      {mb_reg::Unsigned, NAN, 0, 0, 0.0f},
      {mb_reg::TwosComp, -1.7f, 0xFFFF, 0, -1.0f},
      {mb_reg::TwosComp, -40000.0f, 0x8000, 0, -32768.0f},
      {mb_reg::Float, 3.1415927f, 0x0FDB, 0x4049, 3.1415927f},  // bits 15-0 first
      {mb_reg::FloatSwapped, 3.1415927f, 0x4049, 0x0FDB, 3.1415927f},
  };
  for (const auto& c : cases) {
    u16 a = 0, b = 0;
    mb_encode(c.type, c.value, &a, &b);
    EXPECT_EQ(a, c.a) << int(c.type) << " " << c.value;
    EXPECT_EQ(b, c.b) << int(c.type) << " " << c.value;
    EXPECT_FLOAT_EQ(mb_decode(c.type, c.a, c.b), c.back) << int(c.type) << " " << c.value;
  }
}

using IoModbusRows = IoTest;

TEST_F(IoModbusRows, DefaultsAndSetRules) {
  // A new instruction reads over Serial 2 (its port attached), port 502.
  Modbus* m = add_modbus(3);
  EXPECT_EQ(m->port, io_port_at(2));
  EXPECT_EQ(m->ip_port, 502);
  EXPECT_EQ(m->status, mb_status::NotConfigured);

  // Register address: shown 1-based, 0 counts as 1.
  for (u32 shown : {1u, 0u, 40001u}) {
    set_num(m, REGADDR, shown);
    EXPECT_EQ(m->reg_address, shown ? shown - 1 : 0u) << shown;
  }
  Iparam p;
  m->gparam(&p, 0, REGADDR);
  EXPECT_EQ(p.value, 40001u);

  set_num(m, COM, 9, ptype::Select);
  EXPECT_EQ(m->com_type, 1);
  EXPECT_EQ(m->port, io_port_at(1));
  EXPECT_FALSE(set_text(m, IP, "192.168.100.1000"));  // 16 characters
  EXPECT_TRUE(set_text(m, IP, "192.168.100.100"));
  set_num(m, RETRIES, 0);
  EXPECT_EQ(m->retries, 1);
  EXPECT_FALSE(set_num(m, COMMAND, 2, ptype::Dec));  // a selection row

  // Status: assigning it shows 2 at once. I/O transfer regrows the variable,
  // lowering an index that would run past 65535.
  Ivar* st = var("st");
  Ivar* blk = var("blk");
  set_ref(m, STATUS, st);
  EXPECT_EQ(st->get(0), 2.0f);
  set_ref(m, TRANSFER, blk, 4);
  EXPECT_EQ(blk->size, 6);
  set_ref(m, TRANSFER, blk, 65535);
  EXPECT_EQ(m->transfer.index, 65533);

  // Resize keeps the coefficient pairs; new ones are 1 and 0.
  set_float(m, 2, 0, 0.5f);
  set_float(m, 2, 1, 7.0f);
  m->resize(200);
  EXPECT_EQ(m->count, 128);
  m->resize(5);
  EXPECT_EQ(m->coef[1].a, 0.5f);
  EXPECT_EQ(m->coef[1].b, 7.0f);
  EXPECT_EQ(m->coef[4].a, 1.0f);
  EXPECT_EQ(m->coef[4].b, 0.0f);
  m->resize(0);
  EXPECT_EQ(m->count, 1);
}

// Line 1 on a pty whose master the test holds.
class IoModbusRtuScript : public IoTest {
 protected:
  void SetUp() override {
    IoTest::SetUp();
    master_ = open_pty_master();
    ASSERT_GE(master_, 0);
    line_ = open_line(1, ptsname(master_));
    ASSERT_GT(line_->descriptor, 0);
    v = var("blk");
    st = var("st");
  }
  void TearDown() override {
    IoTest::TearDown();
    if (master_ >= 0) close(master_);
  }
  // Runs the engine until a request appears on the line; returns it.
  Bytes next_request(int limit_ms = 200) {
    Bytes got;
    pump(
        [&] {
          Bytes b = read_all(master_);
          got.insert(got.end(), b.begin(), b.end());
          return !got.empty();
        },
        limit_ms);
    return got;
  }
  // Arms and starts m; returns its request.
  Bytes arm(Modbus* m) {
    m->execute();
    engine_hooks.io_start(m);
    return next_request();
  }
  // The same, resized to n values, with command / type / address.
  Bytes arm(Modbus* m, u16 n, u8 command, u8 reg_type, u32 address1) {
    m->resize(n);
    configure(m, command, reg_type, address1, v);
    return arm(m);
  }
  int finish(Modbus* m) {
    bool ok = pump([&] { return !m->ready() && !line_->busy; }, 3000);
    return ok ? m->status : -1;
  }
  int master_ = -1;
  IO_def* line_ = nullptr;
  Ivar* v = nullptr;
  Ivar* st = nullptr;
};

TEST_F(IoModbusRtuScript, RequestFramesAndDecoding) {
  // "Float" with count 3: 6 registers from wire address 0.
  Modbus* m = serial_modbus(1, 2, mb_reg::Float, 3, 1, v);
  set_ref(m, STATUS, st);
  EXPECT_EQ(arm(m), with_crc({0x01, 0x03, 0x00, 0x00, 0x00, 0x06}));
  // First register = low half of the first value. The reply arrives after
  // two foreign bytes (not the unit address), which are skipped.
  write_all(master_, {0x07, 0x42});
  write_all(master_, with_crc({0x01, 0x03, 12, 0x0F, 0xDB, 0x40, 0x49, 0, 0, 0x3F, 0x80, 0x00,
                               0x00, 0xC0, 0x00}));
  EXPECT_EQ(finish(m), mb_status::Ok);
  const float first[] = {3.1415927f, 1.0f, -2.0f};
  for (u16 i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(v->get(i), first[i]) << i;
  EXPECT_EQ(st->get(0), 1.0f);
  // The pass, with its 20 ms gap, took its time into line 1's "!System"
  // cell (16 + 4 x 1).
  EXPECT_GE(system_var()->get(20), 20.0f);

  // A reply with fewer registers than asked stores only those it holds.
  for (u16 i = 0; i < 3; ++i) v->set(i, -1.0f);
  arm(m, 3, 2, mb_reg::Unsigned, 1);
  write_all(master_, with_crc({0x01, 0x03, 2, 0x00, 0x2A}));
  EXPECT_EQ(finish(m), mb_status::Ok);
  const float kept[] = {42.0f, -1.0f, -1.0f};
  for (u16 i = 0; i < 3; ++i) EXPECT_EQ(v->get(i), kept[i]) << i;

  // Writes: the register images of every value, coil bits LSB first, and
  // scaling on the way out (3 x 2 + 1 = 7); each acknowledged by the echo
  // of its first six bytes.
  struct Write {
    std::vector<float> values;
    u8 command, reg_type;
    u32 address1;
    float a, b;
    Bytes request;
  } const writes[] = {
      {{-5, 7}, 7, mb_reg::IntSign, 10, 1, 0, {0x01, 0x10, 0x00, 0x09, 0x00, 0x02, 0x04, 0x80, 0x05, 0x00, 0x07}},
      {{1, 0, 0, 1, 0, 0, 0, 0, 0, 1}, 6, mb_reg::Unsigned, 1, 1, 0,
       {0x01, 0x0F, 0x00, 0x00, 0x00, 0x0A, 0x02, 0x09, 0x02}},
      {{3}, 5, mb_reg::Unsigned, 1, 2, 1, {0x01, 0x06, 0x00, 0x00, 0x00, 0x07}},
  };
  for (const Write& w : writes) {
    m->resize(u16(w.values.size()));  // grows the transfer variable
    for (size_t i = 0; i < w.values.size(); ++i) v->set(u16(i), w.values[i]);
    set_float(m, 1, 0, w.a);
    set_float(m, 1, 1, w.b);
    EXPECT_EQ(arm(m, u16(w.values.size()), w.command, w.reg_type, w.address1), with_crc(w.request))
        << int(w.command);
    write_all(master_, with_crc(Bytes(w.request.begin(), w.request.begin() + 6)));
    EXPECT_EQ(finish(m), mb_status::Ok) << int(w.command);
  }
}

TEST_F(IoModbusRtuScript, FailuresGiveTheirStatus) {
  Modbus* m = serial_modbus(1, 2, mb_reg::Unsigned, 1, 1, v);
  set_ref(m, STATUS, st);
  set_num(m, TIMEOUT, 10);

  // What comes back and the status it gives, shown in the Status cell.
  Bytes bad_crc = with_crc({0x01, 0x03, 0x02, 0x00, 0x05});
  bad_crc.back() ^= 0xFF;
  const struct { const char* what; Bytes reply; int status; } cases[] = {
      {"nothing", {}, mb_status::Timeout},
      {"never the unit address", {0x05, 0x03}, mb_status::TimeoutNoUnit},
      {"started, never completed", {0x01, 0x03, 0x02}, mb_status::TimeoutPartial},
      {"CRC", bad_crc, mb_status::CrcError},
      {"exception reply", with_crc({0x01, 0x83, 0x02}), mb_status::WrongFunction},
  };
  for (const auto& c : cases) {
    arm(m);
    if (!c.reply.empty()) write_all(master_, c.reply);
    EXPECT_EQ(finish(m), c.status) << c.what;
    EXPECT_EQ(st->get(0), float(c.status)) << c.what;
  }

  // Requests that cannot be expressed finish with 7 and send nothing: more
  // than 127 registers to write, more than 128 to read.
  EXPECT_TRUE(arm(m, 64, 7, mb_reg::Float, 1).empty());
  EXPECT_EQ(st->get(0), 7.0f);
  EXPECT_TRUE(arm(m, 65, 2, mb_reg::FloatSwapped, 1).empty());
  EXPECT_EQ(m->status, mb_status::NotConfigured);
  // 127 registers are the most a write can carry: byte count 254.
  Bytes longest = arm(m, 127, 7, mb_reg::Unsigned, 1);
  ASSERT_EQ(longest.size(), 7u + 254 + 2);
  EXPECT_EQ(longest[6], 254);
  write_all(master_, with_crc({0x01, 0x10, 0x00, 0x00, 0x00, 0x7F}));
  EXPECT_EQ(finish(m), mb_status::Ok);

  // Reading 128 registers: the reply's byte count 0 stands for 256. A flood
  // of more bytes than the frame holds is checked at 261 and goes no
  // further.
  EXPECT_EQ(arm(m, 128, 2, mb_reg::Unsigned, 1), with_crc({0x01, 0x03, 0x00, 0x00, 0x00, 0x80}));
  Bytes flood = {0x01, 0x03, 0x00};
  flood.resize(420, 0x55);
  write_all(master_, flood);
  EXPECT_EQ(finish(m), mb_status::CrcError);
  EXPECT_LE(line_->count, IO_FRAME);
  EXPECT_EQ(v->get(0), 0.0f);

  // The far end hangs up in mid-request: the line is closed rather than
  // waited on for ever, and the request still ends with its time-out.
  m->resize(1);
  ASSERT_FALSE(arm(m).empty());
  close(master_);
  master_ = -1;
  ASSERT_TRUE(pump([&] { return line_->descriptor == 0; }, 50));
  int fds[64];
  EXPECT_EQ(engine_hooks.io_fds(fds, 64), 0);
  EXPECT_EQ(finish(m), mb_status::Timeout);
}

// A frame the line does not take whole (nobody drains the far end, so its
// queue is full) is not sent: the line is closed as after a hang-up, a
// reply that turns up all the same is not taken, and the attempt ends with
// its time-out, which re-opens and flushes the line.
TEST_F(IoModbusRtuScript, AFrameTheLineDoesNotTakeIsNotSent) {
  Modbus* m = serial_modbus(1, 2, mb_reg::Unsigned, 1, 1, v);
  set_ref(m, STATUS, st);
  set_num(m, TIMEOUT, 10);
  int filler = open(ptsname(master_), O_WRONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(filler, 0);
  // Filled until it stays full: the pty moves bytes on in the background.
  const Bytes chunk(4096, 0x55);
  for (int settled = 0, rounds = 0; settled < 3 && rounds < 10000; ++rounds) {
    if (write(filler, chunk.data(), chunk.size()) > 0) {
      settled = 0;
      continue;
    }
    ASSERT_EQ(errno, EAGAIN);
    ++settled;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  close(filler);

  m->execute();
  engine_hooks.io_start(m);
  EXPECT_TRUE(line_->busy);
  EXPECT_EQ(line_->descriptor, 0);
  write_all(master_, with_crc({0x01, 0x03, 0x02, 0x00, 0x2A}));
  EXPECT_EQ(finish(m), mb_status::Timeout);
  EXPECT_EQ(st->get(0), 2.0f);
  EXPECT_NE(v->get(0), 42.0f);

  ASSERT_GT(line_->descriptor, 0);
  while (!read_all(master_).empty()) {
  }
  EXPECT_EQ(arm(m), with_crc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
  write_all(master_, with_crc({0x01, 0x03, 0x02, 0x00, 0x2A}));
  EXPECT_EQ(finish(m), mb_status::Ok);
  EXPECT_EQ(v->get(0), 42.0f);
}

TEST_F(IoModbusRtuScript, OnePortRunsOneTransactionAtATimeAndLock3Waits) {
  Ivar* w = var("w");
  Modbus* a = serial_modbus(1, 2, mb_reg::Unsigned, 1, 1, v);
  Modbus* b = serial_modbus(1, 2, mb_reg::Unsigned, 1, 2, w);
  a->execute();
  b->execute();
  engine_hooks.io_start(b);  // one ready I/O instruction starts the pass
  EXPECT_EQ(next_request(), with_crc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
  // b waits for a, and for the 20 ms gap after a's reply.
  write_all(master_, with_crc({0x01, 0x03, 0x02, 0x00, 0x0B}));
  u32 replied = io_msec_of_day();
  Bytes second = next_request();
  EXPECT_EQ(second, with_crc({0x01, 0x03, 0x00, 0x01, 0x00, 0x01}));
  EXPECT_GE(io_msec_of_day() - replied, 10u);  // two ten-millisecond ticks
  EXPECT_EQ(v->get(0), 11.0f);
  EXPECT_EQ(line_->current, b);

  // lock(3) with b in flight: the stop is acknowledged only once b's reply
  // and its gap are over; no new pass starts.
  a->execute();
  thread_ctr = 3;
  run_for_us(30000);
  EXPECT_EQ(thread_ctr.load(), 3);
  write_all(master_, with_crc({0x01, 0x03, 0x02, 0x00, 0x0C}));
  u32 t = io_msec_of_day();
  ASSERT_TRUE(pump([&] { return thread_ctr.load() == 4; }, 500));
  EXPECT_GE(io_msec_of_day() - t, 10u);
  EXPECT_EQ(w->get(0), 12.0f);
  EXPECT_EQ(line_->current, nullptr);
  EXPECT_FALSE(line_->busy);
  // Stopped: counters stand still and nothing is sent.
  u32 gap = line_->gap_timer;
  run_for_us(100000);
  EXPECT_EQ(line_->gap_timer, gap);
  EXPECT_TRUE(read_all(master_).empty());
  release();
}

// A TCP peer scripted by the test on an ephemeral 127.0.0.1 port.
class IoModbusTcpScript : public IoTest {
 protected:
  void SetUp() override {
    IoTest::SetUp();
    listener_ = listen_loopback(4, &port_, SOCK_NONBLOCK);
    ASSERT_GE(listener_, 0);
    v = var("blk");
  }
  void TearDown() override {
    if (peer_ >= 0) close(peer_);
    close(listener_);
    IoTest::TearDown();
  }
  // Runs the engine until the peer has a request; accepts when needed.
  Bytes next_request() {
    Bytes got;
    int scan = 0;
    pump([&] {
      if (peer_ < 0) peer_ = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK);
      if (peer_ >= 0) {
        Bytes b = read_all(peer_);
        got.insert(got.end(), b.begin(), b.end());
      }
      if (scan++ % 10 == 0 && m_ && m_->ready() && !m_->port->busy) engine_hooks.io_start(m_);
      return !got.empty();
    });
    return got;
  }
  // Sends reply (if any) and runs until m_ has finished: its status, or -1.
  int answer(const Bytes& reply) {
    if (!reply.empty()) write_all(peer_, reply);
    return pump([&] { return !m_->ready(); }, 100) ? m_->status : -1;
  }
  int listener_ = -1, peer_ = -1;
  u16 port_ = 0;
  Modbus* m_ = nullptr;
  Ivar* v = nullptr;
};

TEST_F(IoModbusTcpScript, HeaderLongestRequestAndReconnect) {
  m_ = tcp_modbus(port_, 3, mb_reg::Unsigned, 2, 1, v);
  m_->execute();
  // Transaction byte, 0 0 0, length 6; then the request without CRC.
  EXPECT_EQ(next_request(), (Bytes{0x01, 0, 0, 0, 0, 6, 0x01, 0x04, 0x00, 0x00, 0x00, 0x02}));
  EXPECT_EQ(m_->port->word, 1u);
  EXPECT_EQ(answer({0x01, 0, 0, 0, 0, 7, 0x01, 0x04, 0x04, 0x00, 0x11, 0x00, 0x22}), mb_status::Ok);
  EXPECT_EQ(v->get(0), 17.0f);
  EXPECT_EQ(v->get(1), 34.0f);

  // The peer closes the connection: the next request reconnects.
  pump([] { return false; }, 30);
  close(peer_);
  peer_ = -1;
  m_->execute();
  Bytes req = next_request();
  ASSERT_EQ(req.size(), 12u);
  EXPECT_EQ(req[0], 0x02);
  EXPECT_EQ(answer({0x02, 0, 0, 0, 0, 7, 0x01, 0x04, 0x04, 0x00, 0x01, 0x00, 0x02}), mb_status::Ok);
  EXPECT_EQ(v->get(1), 2.0f);

  // A late reply to a timed-out request is not taken for the next one.
  set_num(m_, TIMEOUT, 3);
  pump([] { return false; }, 30);
  m_->execute();
  next_request();
  EXPECT_EQ(answer({}), mb_status::Timeout);
  write_all(peer_, {0x03, 0, 0, 0, 0, 7, 0x01, 0x04, 0x04, 0x00, 0x63, 0x00, 0x63});
  pump([] { return false; }, 30);
  set_num(m_, TIMEOUT, 50);
  m_->execute();
  EXPECT_EQ(next_request().size(), 12u);
  answer({0x04, 0, 0, 0, 0, 7, 0x01, 0x04, 0x04, 0x00, 0x05, 0x00, 0x06});
  EXPECT_EQ(v->get(0), 5.0f);

  // The longest request, 127 registers written: 261 bytes after the header,
  // whose length field takes both of its bytes.
  pump([] { return false; }, 30);
  m_->resize(127);
  configure(m_, 7, mb_reg::Unsigned, 1, v);
  m_->execute();
  req = next_request();
  pump([&] {
    Bytes b = read_all(peer_);
    req.insert(req.end(), b.begin(), b.end());
    return req.size() >= 6 + 261;
  }, 100);
  ASSERT_EQ(req.size(), 6u + 261);
  EXPECT_EQ(Bytes(req.begin() + 4, req.begin() + 8), (Bytes{0x01, 0x05, 0x01, 0x10}));
  EXPECT_EQ(req[12], 254);
  EXPECT_EQ(answer({req[0], 0, 0, 0, 0, 6, 0x01, 0x10, 0x00, 0x00, 0x00, 0x7F}), mb_status::Ok);

  // 120 seconds without a good transaction: the connection is closed and
  // the next request goes over a new one.
  pump([] { return false; }, 30);
  run_for_us(121000000LL, 1000000);
  int old = peer_;
  peer_ = -1;
  m_->resize(1);
  configure(m_, 3, mb_reg::Unsigned, 1, v);
  m_->execute();
  req = next_request();
  ASSERT_GE(peer_, 0);
  char c;
  EXPECT_EQ(recv(old, &c, 1, MSG_DONTWAIT), 0);
  close(old);
  ASSERT_EQ(req.size(), 12u);
  EXPECT_EQ(answer({req[0], 0, 0, 0, 0, 5, 0x01, 0x04, 0x02, 0x00, 0x09}), mb_status::Ok);
  EXPECT_EQ(v->get(0), 9.0f);
}

// A reply split inside its header and inside its data is taken only once
// complete; until then nothing is stored or shown.
TEST_F(IoModbusTcpScript, AReplySplitAcrossSegmentsIsDecodedOnceComplete) {
  Ivar* st = var("st");
  m_ = tcp_modbus(port_, 3, mb_reg::Unsigned, 3, 1, v);
  set_ref(m_, STATUS, st);
  for (u16 i = 0; i < 3; ++i) v->set(i, -1.0f);
  m_->execute();
  Bytes req = next_request();
  ASSERT_EQ(req.size(), 12u);
  const Bytes reply = {req[0], 0, 0, 0, 0, 9, 0x01, 0x04, 6, 0x00, 0xFA, 0xFF, 0xFB, 0x80, 0x05};
  const long cuts[] = {0, 3, 11};  // inside the header, inside the data
  for (int k = 0; k < 2; ++k) {
    write_all(peer_, Bytes(reply.begin() + cuts[k], reply.begin() + cuts[k + 1]));
    pump([&] {
      EXPECT_TRUE(m_->port->busy);
      EXPECT_EQ(m_->status, mb_status::Armed);
      EXPECT_EQ(v->get(0), -1.0f);
      EXPECT_EQ(st->get(0), 2.0f);  // as shown when it was assigned
      return false;
    }, 30);
  }
  EXPECT_EQ(answer(Bytes(reply.begin() + 11, reply.end())), mb_status::Ok);
  EXPECT_EQ(st->get(0), 1.0f);
  const float want[] = {250.0f, 65531.0f, 32773.0f};
  for (u16 i = 0; i < 3; ++i) EXPECT_EQ(v->get(i), want[i]) << i;
}

// A connection that cannot be made is a failed attempt: refused (nobody
// listens) or never completed (the listener's queue is full, so its SYNs
// go unanswered). With Retries 2 both end with status 2 after two time-outs,
// and the next request to a live peer succeeds again.
TEST_F(IoModbusTcpScript, AConnectionThatCannotBeMadeFailsTheAttempt) {
  u16 full_port = 0;
  int full = listen_loopback(0, &full_port, SOCK_NONBLOCK);
  ASSERT_GE(full, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(full_port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<int> queued;
  for (int i = 0; i < 3; ++i) {
    queued.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    connect(queued.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));

  const struct { const char* what; u16 port; } cases[] = {{"refused", free_port()},
                                                          {"never completed", full_port}};
  Ivar* st = var("st");
  for (const auto& c : cases) {
    m_ = tcp_modbus(c.port, 3, mb_reg::Unsigned, 1, 1, v);
    set_ref(m_, STATUS, st);
    st->set(0, 1.0f);
    set_num(m_, TIMEOUT, 5);
    set_num(m_, RETRIES, 2);
    u32 t0 = io_msec_of_day();
    EXPECT_EQ(transact(m_), mb_status::Timeout) << c.what;
    EXPECT_EQ(st->get(0), 2.0f) << c.what;
    EXPECT_GE(io_msec_of_day() - t0, 2u * 50) << c.what;
    EXPECT_EQ(m_->port->descriptor, 0) << c.what;  // no half-made connection kept

    set_num(m_, PORT, port_);
    m_->execute();
    Bytes req = next_request();
    ASSERT_EQ(req.size(), 12u) << c.what;
    EXPECT_EQ(answer({req[0], 0, 0, 0, 0, 5, 0x01, 0x04, 0x02, 0x00, 0x07}), mb_status::Ok) << c.what;
    EXPECT_EQ(st->get(0), 1.0f) << c.what;
    inst_delete(TYPE_MODBUS, m_);
    tail_ = loop_start[0];
    close(peer_);
    peer_ = -1;
  }
  m_ = nullptr;
  for (int fd : queued) close(fd);
  close(full);
}

}  // namespace
