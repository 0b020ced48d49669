// The Modbus master against an independent slave (libmodbus), over TCP on
// 127.0.0.1 and over RTU on the far end of a socat pty pair.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <ctime>

#include "core/scan_pause.h"
#include "tests/support/io_fixture.h"

namespace {

const std::string kPeer = std::string(QUOR_BINARY_DIR) + "/peers/modbus_peer";

// Processor time this process used and wall time passed since it was made.
struct Usage {
  static double cpu() { return double(std::clock()) / CLOCKS_PER_SEC; }
  static double wall() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  }
  double cpu0 = cpu(), wall0 = wall();
  double used() const { return cpu() - cpu0; }
  double spent() const { return wall() - wall0; }
};

class IoModbusPeer : public IoTest {
 protected:
  // Starts a TCP slave; its port, or 0.
  u16 start_tcp(PeerProcess& peer) { return start_tcp_peer(peer, kPeer); }
  Ivar* v = nullptr;
  void SetUp() override {
    IoTest::SetUp();
    if (!executable(kPeer)) {
#ifdef QUOR_HAVE_LIBMODBUS
      FAIL() << "libmodbus is installed but the peer " << kPeer << " was not built";
#else
      GTEST_SKIP() << "libmodbus peer not built (libmodbus-dev missing)";
#endif
    }
    v = var("blk", 0);
  }
  // Resizes m to n values and runs it once as command / type / address.
  int go(Modbus* m, u16 n, u8 command, u8 reg_type, u32 address1) {
    m->resize(n);
    configure(m, command, reg_type, address1, v);
    return transact(m);
  }
  void fill(const std::vector<float>& values) {
    for (size_t i = 0; i < values.size(); ++i) v->set(u16(i), values[i]);
  }
  void expect_values(const std::vector<float>& want) {
    for (size_t i = 0; i < want.size(); ++i) EXPECT_FLOAT_EQ(v->get(u16(i)), want[i]) << i;
  }
  // Up to three seconds of real time, in 1 ms steps, until f().
  static bool wait_real(const std::function<bool()>& f) {
    for (int i = 0; i < 3000; ++i) {
      if (f()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
};

TEST_F(IoModbusPeer, TcpReadsAndWritesEveryType) {
  PeerProcess peer;
  u16 port = start_tcp(peer);
  ASSERT_NE(port, 0);

  // Input registers 1.. hold pi (low half first), pi (high half first),
  // 250, -5, 0x8005, 0x1234, 65535. The last row scales: 250 x 0.1 + 0.
  const struct { u8 reg_type; u32 address; float a, want; } cases[] = {
      {mb_reg::Float, 1, 1, 3.1415927f}, {mb_reg::FloatSwapped, 3, 1, 3.1415927f},
      {mb_reg::Unsigned, 5, 1, 250.0f},  {mb_reg::TwosComp, 6, 1, -5.0f},
      {mb_reg::IntSign, 7, 1, -5.0f},    {mb_reg::Bcd, 8, 1, 1234.0f},
      {mb_reg::Unsigned, 5, 0.1f, 25.0f}};
  Modbus* m = tcp_modbus(port, 3, mb_reg::Float, 1, 1, v);
  for (const auto& c : cases) {
    set_float(m, 1, 0, c.a);
    EXPECT_EQ(go(m, 1, 3, c.reg_type, c.address), mb_status::Ok) << int(c.reg_type);
    EXPECT_FLOAT_EQ(v->get(0), c.want) << int(c.reg_type);
  }
  set_float(m, 1, 0, 1.0f);

  const u8 U = mb_reg::Unsigned;
  auto bits = [&](bool (*on)(int)) {
    for (u16 i = 0; i < 10; ++i) EXPECT_EQ(v->get(i), on(i) ? 1.0f : 0.0f) << i;
  };
  // Discrete inputs: odd addresses are on; coils: multiples of 3.
  EXPECT_EQ(go(m, 10, 1, U, 1), mb_status::Ok);
  bits([](int i) { return i % 2 == 1; });
  EXPECT_EQ(go(m, 10, 0, U, 1), mb_status::Ok);
  bits([](int i) { return i % 3 == 0; });

  // Ten coils written, then coil 5 (wire 4) alone; read back.
  for (u16 i = 0; i < 10; ++i) v->set(i, i == 1 || i == 9 ? 1.0f : 0.0f);
  EXPECT_EQ(go(m, 10, 6, U, 1), mb_status::Ok);
  v->set(0, 1.0f);
  EXPECT_EQ(go(m, 1, 4, U, 5), mb_status::Ok);
  fill(std::vector<float>(10, 5.0f));
  EXPECT_EQ(go(m, 10, 0, U, 1), mb_status::Ok);
  bits([](int i) { return i == 1 || i == 4 || i == 9; });

  // Registers: single and multiple writes, read back as holding registers.
  v->set(0, -2.0f);
  EXPECT_EQ(go(m, 1, 5, mb_reg::TwosComp, 11), mb_status::Ok);
  fill({2.5f, -7.25f, 1e6f, 0.0f});  // floats: 2 registers each
  EXPECT_EQ(go(m, 4, 7, mb_reg::Float, 20), mb_status::Ok);
  fill({0, 0, 0, 0});
  EXPECT_EQ(go(m, 4, 2, mb_reg::Float, 20), mb_status::Ok);
  expect_values({2.5f, -7.25f, 1e6f});
  EXPECT_EQ(go(m, 2, 2, mb_reg::TwosComp, 10), mb_status::Ok);  // holding 9 (1009), 10
  expect_values({1009.0f, -2.0f});

  // An address beyond the peer's table gets an exception reply, and the
  // connection carries on.
  EXPECT_EQ(go(m, 2, 2, U, 60000), mb_status::WrongFunction);
  EXPECT_EQ(go(m, 2, 2, U, 1), mb_status::Ok);
  EXPECT_FLOAT_EQ(v->get(0), 1000.0f);
}

TEST_F(IoModbusPeer, TimeoutAndRetriesWithThePeerStopped) {
  PeerProcess peer;
  u16 port = start_tcp(peer);
  ASSERT_NE(port, 0);
  Ivar* st = var("st");
  Modbus* m = tcp_modbus(port, 3, mb_reg::Unsigned, 1, 5, v);
  set_ref(m, STATUS, st);
  ASSERT_EQ(transact(m), mb_status::Ok);
  ASSERT_EQ(st->get(0), 1.0f);

  // Three attempts, each ended by its time-out (10 ticks); the Status
  // variable shows the outcome only once the last one has failed.
  ASSERT_TRUE(peer.pause());
  set_num(m, TIMEOUT, 10);
  set_num(m, RETRIES, 3);
  u32 sent = m->port->word;
  u32 t0 = io_msec_of_day();
  m->execute();
  bool early = false;
  ASSERT_TRUE(pump([&] {
    if (m->ready() && st->get(0) != 1.0f) early = true;
    if (m->ready() && !m->port->busy) engine_hooks.io_start(m);
    return !m->ready() && !m->port->busy;
  }));
  u32 took = io_msec_of_day() - t0;
  EXPECT_FALSE(early);
  EXPECT_EQ(m->status, mb_status::Timeout);
  EXPECT_EQ(st->get(0), 2.0f);
  EXPECT_EQ(m->port->word - sent, 3u);  // three requests went out
  EXPECT_GE(took, 3u * 100);
  EXPECT_LT(took, 4u * 100);

  // Running again, the late answers to the three, all at once, are not
  // taken for the next request's.
  peer.signal(SIGCONT);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  set_num(m, RETRIES, 1);
  EXPECT_EQ(go(m, 1, 2, mb_reg::Unsigned, 3), mb_status::Ok);
  EXPECT_EQ(v->get(0), 1002.0f);
}

// Stands between the controller and the peer: requests pass at once, and
// replies too unless held, when they are dropped.
class Relay {
 public:
  explicit Relay(u16 upstream_port) {
    listener_ = listen_loopback(2, &port, SOCK_NONBLOCK);
    upstream_ = connect_to(upstream_port);
    if (upstream_ >= 0) fcntl(upstream_, F_SETFL, O_NONBLOCK);
  }
  ~Relay() {
    for (int fd : {listener_, upstream_, down_})
      if (fd >= 0) close(fd);
  }
  bool ok() const { return listener_ >= 0 && upstream_ >= 0; }
  // Accepts and forwards what has come either way.
  void step() {
    if (down_ < 0) down_ = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK);
    u8 buf[512];
    ssize_t n;
    while (down_ >= 0 && (n = recv(down_, buf, sizeof buf, 0)) > 0) {
      send(upstream_, buf, size_t(n), MSG_NOSIGNAL);
      forwarded += size_t(n);
    }
    while ((n = recv(upstream_, buf, sizeof buf, 0)) > 0)
      if (!hold && down_ >= 0) send(down_, buf, size_t(n), MSG_NOSIGNAL);
  }
  u16 port = 0;
  bool hold = false;
  size_t forwarded = 0;  // request bytes passed on

 private:
  int listener_ = -1, upstream_ = -1, down_ = -1;
};

// A 10 ms Loop_1 runs the program on the manual clock while real time
// passes for the replies.
TEST_F(IoModbusPeer, TwoShareAPortInTurnAThirdHasItsOwn) {
  gen_loop_int[0] = 10;
  start_run();
  PeerProcess p1, p2;
  u16 port1 = start_tcp(p1), port2 = start_tcp(p2);
  ASSERT_TRUE(port1 && port2);
  Ivar *va = var("va"), *vb = var("vb"), *vc = var("vc");
  Ivar *sa = var("sa"), *sb = var("sb"), *sc = var("sc");
  Modbus* a = tcp_modbus(port1, 3, mb_reg::Unsigned, 1, 5, va);    // 250
  Modbus* b = tcp_modbus(port1, 2, mb_reg::Unsigned, 2, 1, vb);    // 1000, 1001
  Modbus* c = tcp_modbus(port2, 3, mb_reg::TwosComp, 1, 6, vc);    // -5
  for (auto [m, s] : {std::pair{a, sa}, {b, sb}, {c, sc}}) set_ref(m, STATUS, s);
  IO_def *shared = a->port, *own = c->port;
  ASSERT_TRUE(shared && own && own != shared);
  ASSERT_EQ(b->port, shared);

  // Whom the shared port serves at each transaction it starts; and whether
  // both ports were ever at work (a transaction or its gap) at once.
  std::vector<IO_base*> turns;
  bool was_flying = false, together = false;
  auto flying = [](IO_def* p) { return p->busy && !p->reply_pending; };
  ASSERT_TRUE(pump([&] {
    if (flying(shared) && !was_flying) turns.push_back(shared->current);
    was_flying = flying(shared);
    if (shared->busy && own->busy) together = true;
    return shared->word >= 6 && own->word >= 3;
  }));
  ASSERT_GE(turns.size(), 6u);
  for (size_t i = 0; i < turns.size(); ++i) {
    EXPECT_TRUE(turns[i] == a || turns[i] == b) << i;
    EXPECT_TRUE(i == 0 || turns[i] != turns[i - 1]) << i;  // one after the other
  }
  EXPECT_TRUE(together);
  EXPECT_EQ(va->get(0), 250.0f);
  EXPECT_EQ(vb->get(0), 1000.0f);
  EXPECT_EQ(vb->get(1), 1001.0f);
  EXPECT_EQ(vc->get(0), -5.0f);
  for (Ivar* s : {sa, sb, sc}) EXPECT_EQ(s->get(0), 1.0f) << s->name;

  // The shared port keeps its connection while one of its instructions is
  // left; the last one takes the port and its connection with it. Deleting
  // is an edit that stops the scan and the I/O first, as lock(3) does.
  thread_ctr = 3;
  ASSERT_TRUE(pump([] { return thread_ctr.load() == 4; }));
  int fd = shared->descriptor;
  ASSERT_TRUE(fd_open(fd));
  auto listed = [](IO_def* p) {
    for (IO_def* q = IO_start_def; q; q = q->next)
      if (q == p) return true;
    return false;
  };
  inst_delete(TYPE_MODBUS, b);
  EXPECT_TRUE(listed(shared));
  EXPECT_EQ(shared->first, a);
  EXPECT_EQ(a->next_on_port, nullptr);
  EXPECT_TRUE(fd_open(fd));
  inst_delete(TYPE_MODBUS, a);
  EXPECT_FALSE(listed(shared));
  EXPECT_FALSE(fd_open(fd));
  release();
  // The other port goes on polling.
  u32 before = own->word;
  vc->set(0, 0.0f);
  EXPECT_TRUE(pump([&] { return own->word >= before + 2 && vc->get(0) == -5.0f; }));
}

// With the execution thread running on the real clock: lock(3) returns only
// once the transaction in flight has ended, and neither that wait nor the
// polling keeps the processor busy. The relay tells when a request is out;
// holding its reply keeps the transaction in flight.
TEST_F(IoModbusPeer, Lock3WaitsForATransactionInFlight) {
  PeerProcess peer;
  u16 port = start_tcp(peer);
  ASSERT_NE(port, 0);
  Relay relay(port);
  ASSERT_TRUE(relay.ok());
  auto host = make_host_platform();
  plat = host.get();
  gen_loop_int[0] = 10;
  Ivar* st = var("st");
  Modbus* m = tcp_modbus(relay.port, 3, mb_reg::Unsigned, 1, 5, v);
  set_ref(m, STATUS, st);
  set_num(m, TIMEOUT, 30);
  IO_def* link = m->port;
  auto wait_for = [&](const std::function<bool()>& f) { return wait_real([&] { return relay.step(), f(); }); };
  start_run();
  start_exec_thread();
  EXPECT_TRUE(wait_for([&] { return v->get(0) == 250.0f && st->get(0) == 1.0f; }));

  // Polling every 10 ms: the thread sleeps between ticks and replies.
  Usage polling;
  EXPECT_TRUE(wait_for([&] { return polling.spent() > 0.3; }));
  EXPECT_LT(polling.used(), polling.spent() / 2) << "the execution thread spins while polling";

  relay.hold = true;  // the next request gets no answer
  size_t sent = relay.forwarded;
  EXPECT_TRUE(wait_for([&] { return relay.forwarded > sent; }));
  Usage draining;
  lock(3);
  double used = draining.used(), spent = draining.spent();
  EXPECT_EQ(thread_ctr.load(), 4);
  EXPECT_EQ(st->get(0), 2.0f);  // it ran into its time-out
  EXPECT_GE(spent, 0.1);
  EXPECT_LT(used, spent / 2) << "the execution thread spins while I/O drains";
  EXPECT_FALSE(link->busy);
  EXPECT_EQ(link->current, nullptr);
  release();
  relay.step();  // late answers are dropped
  relay.hold = false;
  EXPECT_TRUE(wait_for([&] { return st->get(0) == 1.0f; }));  // polling again
  stop_exec_thread();
  plat = &fake;
}

// The execution thread polls two peers in a 10 ms loop while the main
// thread, for about two seconds, reconfigures the instruction (peer and
// register), detaches and re-attaches it, and deletes and re-inserts it,
// each time with the scan stopped. Run under ThreadSanitizer this is the
// check that the port list needs no lock. Afterwards polling resumes, and
// the ten-millisecond port counters counted on while the scan was free.
TEST_F(IoModbusPeer, ReconfiguredAndReinsertedWhileTheScanRuns) {
  PeerProcess p1, p2;
  const u16 ports[2] = {start_tcp(p1), start_tcp(p2)};
  ASSERT_TRUE(ports[0] && ports[1]);
  // Input register 5 holds 250, register 6 holds 65531 (as unsigned).
  const u32 regs[2] = {5, 6};
  const float want[2] = {250.0f, 65531.0f};
  auto host = make_host_platform();
  plat = host.get();
  gen_loop_int[0] = 10;
  Ivar* st = var("st");
  Modbus* m = nullptr;
  auto make = [&](int k) {
    tail_ = loop_start[0];
    m = tcp_modbus(ports[k % 2], 3, mb_reg::Unsigned, 1, regs[k % 2], v);
    set_ref(m, STATUS, st);
  };
  make(0);
  IO_def* line = io_port_at(1);
  start_run();
  ASSERT_EQ(start_exec_thread(), -1);  // all bits set: started
  EXPECT_TRUE(wait_real([&] { return v->get(0) == want[0] && st->get(0) == 1.0f; }));

  u32 ticks0;
  double begin, paused = 0;  // seconds
  {
    ScanPause stop(Pause::Stopped);
    ticks0 = line->gap_timer;
    begin = Usage::wall();
  }
  int k = 0;
  for (; Usage::wall() - begin < 2 && k < 400; ++k) {
    const double t = Usage::wall();
    {
      ScanPause stop(Pause::Stopped);
      switch (k % 3) {
        case 0:  // another peer and register
          set_num(m, PORT, ports[k % 2]);
          set_num(m, REGADDR, regs[k % 2]);
          break;
        case 1:  // detached by an empty address, then attached again
          set_text(m, IP, "");
          set_text(m, IP, "127.0.0.1");
          break;
        default:  // deleted and inserted anew
          inst_delete(TYPE_MODBUS, m);
          make(k);
          break;
      }
    }
    paused += Usage::wall() - t;
    // Page 1 reads need no pause: they come from the main thread's copy.
    gen_sel = 1;
    Iparam baud;
    EXPECT_TRUE(gen::gparam(&baud, 1, 1));
    EXPECT_EQ(baud.value, 9600u);
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + 10 * (k % 4)));
  }
  u32 ticks;
  int last;
  double spent;
  {
    ScanPause stop(Pause::Stopped);
    spent = Usage::wall() - begin;
    ticks = line->gap_timer - ticks0;
    last = m->port && m->port->ip_port == ports[1] ? 1 : 0;
    v->set(0, -1.0f);
    st->set(0, 0.0f);
  }
  EXPECT_TRUE(wait_real([&] { return v->get(0) == want[last] && st->get(0) == 1.0f; }))
      << "polling did not resume after " << k << " edits";
  stop_exec_thread();
  plat = &fake;

  // Ticks (10 ms) are counted whenever the scan was not stopped; allow for
  // a loaded machine catching up late.
  EXPECT_GE(ticks, u32((spent - paused) * 100 / 2)) << spent - paused << " s free";
  EXPECT_LE(ticks, u32(spent * 100 + 2));
}

// A reply of another slave on the line (unit 7, holding register 5) reaches
// the controller ahead of its own slave's: it is skipped up to the first
// byte equal to the controller's unit address.
TEST_F(IoModbusPeer, AForeignUnitsReplyIsSkippedOnALine) {
  if (!PtyPair::available()) GTEST_SKIP() << "socat not installed";
  PtyPair pty;
  PeerProcess peer;  // the slave of unit 1 on the line
  ASSERT_TRUE(pty.start());
  ASSERT_TRUE(peer.start({kPeer, "rtu", pty.dev()}));
  ASSERT_EQ(peer.read_line(), "ready");
  IO_def* line = open_line(2, pty.ctl());
  ASSERT_GT(line->descriptor, 0);
  const Bytes foreign = with_crc({0x07, 0x03, 0x02, 0x03, 0xEC});
  ASSERT_EQ(std::count(foreign.begin(), foreign.end(), 0x01), 0);  // nothing to sync on

  Ivar* st = var("st");
  Modbus* m = serial_modbus(2, 2, mb_reg::Unsigned, 1, 3, v);  // unit 1, holding 3: 1002
  set_ref(m, STATUS, st);
  // Our slave holds its answer back until the foreign reply is on the line.
  ASSERT_TRUE(peer.pause());
  m->execute();
  engine_hooks.io_start(m);
  ASSERT_TRUE(line->busy);
  int bus = pty.open_dev(O_WRONLY);
  ASSERT_GE(bus, 0);
  write_all(bus, foreign);
  ASSERT_TRUE(pump([&] { return line->progress == 1; }, 300));
  EXPECT_FALSE(line->synced);  // bytes, but no frame start yet
  peer.signal(SIGCONT);
  ASSERT_TRUE(pump([&] { return !m->ready() && !line->busy; }));
  EXPECT_EQ(m->status, mb_status::Ok);
  EXPECT_EQ(st->get(0), 1.0f);
  EXPECT_EQ(v->get(0), 1002.0f);
  close(bus);
}

}  // namespace
