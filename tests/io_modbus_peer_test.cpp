// The Modbus master against an independent slave (libmodbus), over TCP on
// 127.0.0.1 and over RTU on the far end of a socat pty pair.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cmath>

#include "core/scan_pause.h"
#include "tests/support/io_fixture.h"
#include "tests/support/quor_process.h"

namespace {

const std::string kPeer = std::string(QUOR_BINARY_DIR) + "/peers/modbus_peer";

double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}
double wall_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// A logged-in client of a controller process.
class ClientSession {
 public:
  explicit ClientSession(QuorProcess& q) : c_(q.session()) {}
  bool open() { return c_.is_open() && c_.login("") == "prog"; }
  std::vector<std::string> ask(const std::string& line) {
    quorclient::Reply r;
    EXPECT_TRUE(c_.command(line, r)) << line;
    return r.lines;
  }
  void set(const std::string& line) {  // "sconfig" never answers
    c_.send_line(line);
    ask("term");
  }

 private:
  quorclient::Connection c_;
};

class IoModbusPeer : public IoTest {
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
    if (!executable(kPeer)) {
#ifdef QUOR_HAVE_LIBMODBUS
      FAIL() << "libmodbus is installed but the peer " << kPeer << " was not built";
#else
      GTEST_SKIP() << "libmodbus peer not built (libmodbus-dev missing)";
#endif
    }
    v = var("blk", 0);
  }
};

TEST_F(IoModbusPeer, TcpReadsEveryRegisterType) {
  PeerProcess peer;
  u16 port = start_tcp(peer);
  ASSERT_NE(port, 0);

  // Input registers 1.. hold pi (low half first), pi (high half first),
  // 250, -5, 0x8005, 0x1234, 65535.
  struct Case {
    u8 reg_type;
    u32 address;
    float want;
  };
  const Case cases[] = {{mb_reg::Float, 1, 3.1415927f}, {mb_reg::FloatSwapped, 3, 3.1415927f},
                        {mb_reg::Unsigned, 5, 250.0f},  {mb_reg::TwosComp, 6, -5.0f},
                        {mb_reg::IntSign, 7, -5.0f},    {mb_reg::Bcd, 8, 1234.0f}};
  Modbus* f = tcp_modbus(port, 3, mb_reg::Float, 1, 1, v);
  for (const Case& c : cases) {
    configure(f, 3, c.reg_type, c.address, v);
    EXPECT_EQ(transact(f), mb_status::Ok) << int(c.reg_type);
    EXPECT_FLOAT_EQ(v->get(0), c.want) << int(c.reg_type);
  }

  // Scaling: 250 x 0.1 + 0 is stored as 25.
  configure(f, 3, mb_reg::Unsigned, 5, v);
  set_float(f, 1, 0, 0.1f);
  EXPECT_EQ(transact(f), mb_status::Ok);
  EXPECT_NEAR(v->get(0), 25.0f, 1e-5);
}

TEST_F(IoModbusPeer, TcpCoilsDiscretesAndWrites) {
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

  // Running again, the late answers to the three are not taken for the
  // next request's.
  peer.signal(SIGCONT);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  set_num(m, RETRIES, 1);
  configure(m, 2, mb_reg::Unsigned, 3, v);
  EXPECT_EQ(transact(m), mb_status::Ok);
  EXPECT_EQ(v->get(0), 1002.0f);
}

// The controller itself, programmed by a client: a Modbus TCP instruction
// polls the peer (Status 1); once the peer is gone, Status turns to 2 after
// the retries and stays there: a client that writes another value into it
// sees 2 again, as nobody listens on the peer's port any more.
TEST_F(IoModbusPeer, TheControllerReportsAStoppedServer) {
  PeerProcess peer;
  u16 port = start_tcp(peer);
  ASSERT_NE(port, 0);
  QuorProcess q;
  ASSERT_TRUE(q.start());
  ClientSession c(q);
  ASSERT_TRUE(c.open());
  auto ask = [&](const std::string& line) { return c.ask(line); };
  auto set = [&](const std::string& line) { c.set(line); };
  ask("start");
  ask("insert|Field|0|0");
  ASSERT_FALSE(ask("insert|Poll|11|1").empty());
  set("sconfig|st|0|0|263|0|1");
  set("sconfig|blk|0|0|263|0|2");
  set("sconfig||0|0|5|0|3");  // Ethernet
  set("sconfig|127.0.0.1|0|0|264|0|4");
  set("sconfig||0|" + std::to_string(port) + "|3|0|5");
  set("sconfig||0|5|3|0|7");   // input register 5: 250
  set("sconfig||0|10|3|0|10"); // time-out 100 ms
  set("sconfig||0|2|3|0|11");  // two attempts
  auto status_is = [&](float want) {
    for (int i = 0; i < 100; ++i) {
      if (ask("rvar|st") == std::vector<std::string>{quorclient::float_to_wire(want)}) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  };
  ASSERT_TRUE(status_is(1.0f));
  EXPECT_EQ(ask("rvar|blk"), std::vector<std::string>{quorclient::float_to_wire(250.0f)});

  peer.end();
  EXPECT_TRUE(status_is(2.0f));
  EXPECT_EQ(ask("svar|st|" + quorclient::float_to_wire(9.0f)), std::vector<std::string>{"OK"});
  EXPECT_TRUE(status_is(2.0f));
}

// Stands between the controller and the peer: requests pass at once,
// replies are held until the test hands them over, in as many segments as
// it likes.
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
  // Accepts, forwards requests and collects replies.
  void step() {
    if (down_ < 0) down_ = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK);
    u8 buf[512];
    ssize_t n;
    while (down_ >= 0 && (n = recv(down_, buf, sizeof buf, 0)) > 0) {
      send(upstream_, buf, size_t(n), MSG_NOSIGNAL);
      forwarded += size_t(n);
    }
    while ((n = recv(upstream_, buf, sizeof buf, 0)) > 0) held.insert(held.end(), buf, buf + n);
  }
  // Hands the next n held bytes to the controller.
  void pass(size_t n) {
    n = std::min(n, held.size());
    ASSERT_EQ(send(down_, held.data(), n, MSG_NOSIGNAL), ssize_t(n));
    held.erase(held.begin(), held.begin() + long(n));
  }
  u16 port = 0;
  std::vector<u8> held;
  size_t forwarded = 0;  // request bytes passed on

 private:
  int listener_ = -1, upstream_ = -1, down_ = -1;
};

TEST_F(IoModbusPeer, AReplySplitAcrossSegmentsIsDecodedOnceComplete) {
  PeerProcess peer;
  u16 port = start_tcp(peer);
  ASSERT_NE(port, 0);
  Relay relay(port);
  ASSERT_TRUE(relay.ok());
  Ivar* st = var("st");
  Modbus* m = tcp_modbus(relay.port, 3, mb_reg::Unsigned, 3, 5, v);  // 250, 65531, 32773
  set_ref(m, STATUS, st);
  for (u16 i = 0; i < 3; ++i) v->set(i, -1.0f);
  m->execute();
  // Header (6), unit, function, byte count, three registers.
  const size_t whole = 6 + 3 + 6;
  ASSERT_TRUE(pump([&] {
    relay.step();
    if (m->ready() && !m->port->busy) engine_hooks.io_start(m);
    return relay.held.size() >= whole;
  }));
  ASSERT_EQ(relay.held.size(), whole);

  // Three segments: inside the header, inside the data, the rest.
  auto untouched = [&] {
    relay.step();
    EXPECT_TRUE(m->port->busy);
    EXPECT_EQ(m->status, mb_status::Armed);
    EXPECT_EQ(v->get(0), -1.0f);
    EXPECT_EQ(st->get(0), 2.0f);  // as shown when it was assigned
    return false;
  };
  relay.pass(3);
  pump(untouched, 30);
  relay.pass(8);
  pump(untouched, 30);
  relay.pass(whole);
  ASSERT_TRUE(pump([&] { return !m->ready(); }, 200));
  EXPECT_EQ(m->status, mb_status::Ok);
  EXPECT_EQ(st->get(0), 1.0f);
  EXPECT_EQ(v->get(0), 250.0f);
  EXPECT_EQ(v->get(1), 65531.0f);
  EXPECT_EQ(v->get(2), 32773.0f);
}

// A 10 ms Loop_1 runs the program on the manual clock while real time
// passes for the replies.
class IoModbusPeerLoop : public IoModbusPeer {
 protected:
  void SetUp() override {
    IoModbusPeer::SetUp();
    if (IsSkipped() || HasFailure()) return;
    gen_loop_int[0] = 10;
    start_run();
  }
};

TEST_F(IoModbusPeerLoop, TwoShareAPortInTurnAThirdHasItsOwn) {
  PeerProcess p1, p2;
  u16 port1 = start_tcp(p1), port2 = start_tcp(p2);
  ASSERT_TRUE(port1 && port2);
  Ivar *va = var("va"), *vb = var("vb"), *vc = var("vc");
  Ivar *sa = var("sa"), *sb = var("sb"), *sc = var("sc");
  Modbus* a = tcp_modbus(port1, 3, mb_reg::Unsigned, 1, 5, va);    // 250
  Modbus* b = tcp_modbus(port1, 2, mb_reg::Unsigned, 2, 1, vb);    // 1000, 1001
  Modbus* c = tcp_modbus(port2, 3, mb_reg::TwosComp, 1, 6, vc);    // -5
  set_ref(a, STATUS, sa);
  set_ref(b, STATUS, sb);
  set_ref(c, STATUS, sc);
  IO_def* shared = a->port;
  IO_def* own = c->port;
  ASSERT_NE(shared, nullptr);
  ASSERT_EQ(b->port, shared);
  ASSERT_NE(own, shared);
  ASSERT_NE(own, nullptr);

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
    if (i) {
      EXPECT_NE(turns[i], turns[i - 1]) << i;  // one after the other
    }
  }
  EXPECT_TRUE(together);
  EXPECT_EQ(va->get(0), 250.0f);
  EXPECT_EQ(vb->get(0), 1000.0f);
  EXPECT_EQ(vb->get(1), 1001.0f);
  EXPECT_EQ(vc->get(0), -5.0f);
  EXPECT_EQ(sa->get(0), 1.0f);
  EXPECT_EQ(sb->get(0), 1.0f);
  EXPECT_EQ(sc->get(0), 1.0f);

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
  bool answer = true;
  auto wait_for = [&](const std::function<bool()>& f) {
    for (int i = 0; i < 3000; ++i) {
      relay.step();
      if (answer && !relay.held.empty()) relay.pass(relay.held.size());
      if (f()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  };
  start_run();
  start_exec_thread();
  EXPECT_TRUE(wait_for([&] { return v->get(0) == 250.0f && st->get(0) == 1.0f; }));

  // Polling every 10 ms: the thread sleeps between ticks and replies.
  double cpu = cpu_seconds(), wall = wall_seconds();
  EXPECT_TRUE(wait_for([&] { return wall_seconds() - wall > 0.3; }));
  double used = cpu_seconds() - cpu, spent = wall_seconds() - wall;
  EXPECT_LT(used, spent / 2) << "the execution thread spins while polling";

  answer = false;  // the next request gets no answer
  size_t sent = relay.forwarded;
  EXPECT_TRUE(wait_for([&] { return relay.forwarded > sent; }));
  cpu = cpu_seconds();
  wall = wall_seconds();
  lock(3);
  used = cpu_seconds() - cpu;
  spent = wall_seconds() - wall;
  EXPECT_EQ(thread_ctr.load(), 4);
  EXPECT_EQ(st->get(0), 2.0f);  // it ran into its time-out
  EXPECT_GE(spent, 0.1);
  EXPECT_LT(used, spent / 2) << "the execution thread spins while I/O drains";
  EXPECT_FALSE(link->busy);
  EXPECT_EQ(link->current, nullptr);
  release();
  relay.held.clear();  // late answers
  answer = true;
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
  auto wait_for = [](const std::function<bool()>& f) {
    for (int i = 0; i < 3000; ++i) {
      if (f()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  };
  EXPECT_TRUE(wait_for([&] { return v->get(0) == want[0] && st->get(0) == 1.0f; }));

  using Clock = std::chrono::steady_clock;
  u32 ticks0;
  Clock::time_point begin;
  {
    ScanPause stop(Pause::Stopped);
    ticks0 = line->gap_timer;
    begin = Clock::now();
  }
  Clock::duration paused{};
  int k = 0;
  for (; Clock::now() - begin < std::chrono::seconds(2) && k < 400; ++k) {
    const auto t = Clock::now();
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
    paused += Clock::now() - t;
    // Page 1 reads need no pause: they come from the main thread's copy.
    gen_sel = 1;
    Iparam baud;
    EXPECT_TRUE(gen::gparam(&baud, 1, 1));
    EXPECT_EQ(baud.value, 9600u);
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + 10 * (k % 4)));
  }
  u32 ticks;
  int last;
  Clock::duration spent;
  {
    ScanPause stop(Pause::Stopped);
    spent = Clock::now() - begin;
    ticks = line->gap_timer - ticks0;
    last = m->port && m->port->ip_port == ports[1] ? 1 : 0;
    v->set(0, -1.0f);
    st->set(0, 0.0f);
  }
  EXPECT_TRUE(wait_for([&] { return v->get(0) == want[last] && st->get(0) == 1.0f; }))
      << "polling did not resume after " << k << " edits";
  stop_exec_thread();
  plat = &fake;

  // Ticks are counted whenever the scan was not stopped; allow for a
  // loaded machine catching up late.
  auto ms = [](Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  };
  long long free_ms = ms(spent) - ms(paused);
  EXPECT_GE(ticks, u32(free_ms / 10 / 2)) << free_ms << " ms free";
  EXPECT_LE(ticks, u32(ms(spent) / 10 + 2));
}

}  // namespace

namespace {

// A socat pty pair with the libmodbus RTU slave on one end; the command
// line maps the controller's line 2 to the other ("--serial 2=PATH").
class IoModbusRtuPeer : public IoModbusPeer {
 protected:
  void SetUp() override {
    IoModbusPeer::SetUp();
    if (IsSkipped() || HasFailure()) return;
    if (!PtyPair::available()) GTEST_SKIP() << "socat not installed";
    ASSERT_TRUE(pty_.start());
    ASSERT_TRUE(peer_.start({kPeer, "rtu", pty_.dev()}));
    ASSERT_EQ(peer_.read_line(), "ready");

    std::string map = "2=" + pty_.ctl();
    char prog[] = "quor", opt[] = "--serial";
    char* argv[] = {prog, opt, map.data(), nullptr};
    ASSERT_EQ(parse_options(3, argv, options), -1);
    line_ = io_port_at(2);
    line_->kind = io_kind::ModbusMaster;
    set_serial(line_, false);
    ASSERT_GT(line_->descriptor, 0);
  }
  void TearDown() override {
    peer_.end();
    IoModbusPeer::TearDown();
  }
  PtyPair pty_;
  PeerProcess peer_;
  IO_def* line_ = nullptr;
};

TEST_F(IoModbusRtuPeer, ReadsAndWritesOverRtu) {
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

}

// A reply of another slave on the line (unit 7, also libmodbus) reaches the
// controller ahead of its own slave's: it is skipped up to the first byte
// equal to the controller's unit address.
TEST_F(IoModbusRtuPeer, AForeignUnitsReplyIsSkipped) {
  int other = open_pty_master();
  ASSERT_GE(other, 0);
  PeerProcess unit7;
  ASSERT_TRUE(unit7.start({kPeer, "rtu", ptsname(other), "7"}));
  ASSERT_EQ(unit7.read_line(), "ready");
  // Holding register 5 of unit 7, asked by another master on the line.
  write_all(other, with_crc({0x07, 0x03, 0x00, 0x04, 0x00, 0x01}));
  std::vector<u8> foreign;
  for (int i = 0; i < 200 && foreign.size() < 7; ++i) {
    pollfd p{other, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    u8 buf[64];
    ssize_t n = read(other, buf, sizeof buf);
    if (n > 0) foreign.insert(foreign.end(), buf, buf + n);
  }
  ASSERT_EQ(foreign.size(), 7u);
  ASSERT_EQ(foreign[0], 0x07);
  ASSERT_EQ(std::count(foreign.begin(), foreign.end(), 0x01), 0);  // nothing to sync on

  Ivar* st = var("st");
  Modbus* m = serial_modbus(2, 2, mb_reg::Unsigned, 1, 3, v);  // unit 1, holding 3: 1002
  set_ref(m, STATUS, st);
  // Our slave holds its answer back until the foreign reply is on the line.
  ASSERT_TRUE(peer_.pause());
  m->execute();
  engine_hooks.io_start(m);
  ASSERT_TRUE(line_->busy);
  int bus = pty_.open_dev(O_WRONLY);
  ASSERT_GE(bus, 0);
  ASSERT_EQ(write(bus, foreign.data(), foreign.size()), ssize_t(foreign.size()));
  ASSERT_TRUE(pump([&] { return line_->progress == 1; }, 300));
  EXPECT_FALSE(line_->synced);  // bytes, but no frame start yet
  peer_.signal(SIGCONT);
  ASSERT_TRUE(pump([&] { return !m->ready() && !line_->busy; }));
  EXPECT_EQ(m->status, mb_status::Ok);
  EXPECT_EQ(st->get(0), 1.0f);
  EXPECT_EQ(v->get(0), 1002.0f);
  close(bus);
  unit7.end();
  close(other);
}

}  // namespace

namespace {

// The controller itself, its line 2 mapped to the pty on its command line,
// configured and programmed by a client session the way a user does it.
TEST_F(IoModbusRtuPeer, TheControllerPollsThePeerOnItsMappedLine) {
  set_serial(line_, true);  // the controller process has the line to itself
  QuorProcess q;
  ASSERT_TRUE(q.start({"--serial", "2=" + pty_.ctl()}));
  ClientSession c(q);
  ASSERT_TRUE(c.open());
  auto ask = [&](const std::string& line) { return c.ask(line); };
  auto set = [&](const std::string& line) { c.set(line); };
  // Configuration page 1, line 2 (group 2): Modbus master.
  ask("gpos||1");
  set("sconfig||4|1|5|2|0");
  std::vector<std::string> lines = ask("gconfig||4|1");
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[4], "1|5");

  // A Modbus instruction in Loop_1 reads input registers 5 to 7 over
  // Serial 2 (its default) as unsigned integers.
  ask("start");
  ask("insert|Field|0|0");
  lines = ask("insert|Poll|11|3");
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("Poll"), std::string::npos) << lines[0];
  set("sconfig|st|0|0|263|0|1");
  set("sconfig|blk|0|0|263|0|2");
  set("sconfig||0|5|3|0|7");
  std::vector<std::string> want = {quorclient::float_to_wire(250.0f)};
  bool polled = false;
  for (int i = 0; i < 200 && !polled; ++i) {
    polled = ask("rvar|blk") == want && ask("rvar|st") == std::vector<std::string>{quorclient::float_to_wire(1.0f)};
    if (!polled) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(polled);
  EXPECT_EQ(ask("rvar|blk[2]"), std::vector<std::string>{quorclient::float_to_wire(32773.0f)});
}

}  // namespace
