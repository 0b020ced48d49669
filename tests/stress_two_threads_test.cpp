// Clients against a running scan, in one process so that ThreadSanitizer
// sees both threads: a 10 ms loop with a capturing Constant, a Modbus TCP
// master and formulas runs while a programmer session goes through every
// command group (editing, new names, save and load, the clock, single
// steps, break points, logging off with a break point set, screens whose
// objects show and write cells) for a bounded time. Every later subsystem that adds a cross-thread path extends it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "alarm/alarm_hooks.h"
#include "alarm/email.h"
#include "core/config.h"
#include "core/engine.h"
#include "core/module.h"
#include "core/registry.h"
#include "net/user_port.h"
#include "platform/platform.h"
#include "program/program_new.h"
#include "tests/support/io_fixture.h"
#include "tests/support/quor_process.h"
#include "tools/client/client.h"

namespace {

using quorclient::Connection;
using quorclient::Reply;
using Clock = std::chrono::steady_clock;

const std::string kPeer = std::string(QUOR_BINARY_DIR) + "/peers/modbus_peer";

class TwoThreadStress : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quor_stress_XXXXXX";
    dir_ = mkdtemp(tmpl);
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    host_ = make_host_platform();
    plat = host_.get();
    inst_build();
    engine_reset();
    program_new(false);
    ASSERT_TRUE(user_port_open(0));
    ASSERT_EQ(start_exec_thread(), -1);  // all bits set: started
    start_run();
    // The mail machine steps too: an address check against a closed port,
    // its countdowns run by the execution thread.
    con_mail_ip = "127.0.0.1";
    con_mail_port = 1;
    con_num = 1;
    con_email = {"a@x.org"};
    con_email1 = con_email2 = 1;
    ip_timeout = 0;
  }
  void TearDown() override {
    mail_reset();
    con_mail_ip.reset();
    con_email1 = con_email2 = 0;
    con_email.clear();
    con_num = 0;
    stop_exec_thread();
    user_port_shutdown();
    program_new(true);
    engine_reset();
    plat = nullptr;
    std::filesystem::current_path(old_cwd_);
    std::filesystem::remove_all(dir_);
  }
  // Serves clients on this thread, as the controller's main thread does,
  // until the client thread is done.
  void serve_until(const std::atomic<bool>& done) {
    while (!done.load()) {
      wd_timer = 600;
      engine_apply_break();
      proc_user(5);
      alarm_pass();
    }
  }

  std::string dir_;
  std::filesystem::path old_cwd_;
  std::unique_ptr<Platform> host_;
};

// One programmer session of the client thread; records what went wrong.
struct Client {
  Connection c;
  std::vector<std::string> problems;

  bool open(u16 port) {
    c = Connection();
    return c.connect("127.0.0.1", port) && c.open_session() && c.login("") == "prog";
  }
  std::vector<std::string> ask(const std::string& line) {
    Reply r;
    if (!c.command(line, r, 20000)) problems.push_back("no reply to " + line);
    return r.lines;
  }
  std::string first(const std::string& line) {
    auto l = ask(line);
    return l.empty() ? "" : l[0];
  }
  void expect(const std::string& line, const std::string& want) {
    std::string got = first(line);
    if (got != want) problems.push_back(line + " -> " + got + " (wanted " + want + ")");
  }
  void expect_no_fail(const std::string& line) {
    if (first(line) == "fail") problems.push_back(line + " failed");
  }
  void set(const std::string& line) {  // "sconfig" never answers
    c.send_line(line);
    ask("term");
  }
  float cell(const std::string& name) {
    float v = 0;
    quorclient::wire_to_float(first("rvar|" + name), &v);
    return v;
  }
};

TEST_F(TwoThreadStress, EveryCommandGroupAgainstARunningScan) {
  PeerProcess peer;
  const u16 peer_port = executable(kPeer) ? start_tcp_peer(peer, kPeer) : 0;

  std::atomic<bool> done{false};
  Client cl;
  float passes_seen = 0, polled = 0;
  int rounds = 0;
  std::thread client([&] {
    if (!cl.open(user_port_number())) {
      cl.problems.push_back("no programmer session");
      done = true;
      return;
    }
    // Loop 1 every 10 ms holding: a counter formula, a capturing Constant
    // fed by a formula, and a Modbus TCP master (to the peer, or to a port
    // nobody listens on, whose failed connections are I/O all the same).
    cl.ask("gpos||0");
    cl.set("sconfig||4|10|3|0|1");
    cl.ask("start");
    cl.expect_no_fail("insert|count|20|1");
    cl.set("sconfig|passes|0|0|263|1|0");
    cl.set("sconfig|passes + 1|0|0|264|1|2");
    cl.expect_no_fail("insert|keep|3|2");
    cl.set("sconfig|kept|0|0|263|0|0");
    cl.set("sconfig||0|2|5|0|2");  // Capture
    cl.expect_no_fail("insert|feed|20|1");
    cl.set("sconfig|kept[1]|0|0|263|1|0");
    cl.set("sconfig|passes / 7|0|0|264|1|2");
    cl.expect_no_fail("insert|poll|11|1");
    cl.set("sconfig|mst|0|0|263|0|1");
    cl.set("sconfig|mblk|0|0|263|0|2");
    cl.set("sconfig||0|0|5|0|3");  // Ethernet
    cl.set("sconfig|127.0.0.1|0|0|264|0|4");
    cl.set("sconfig||0|" + std::to_string(peer_port ? peer_port : free_port()) + "|3|0|5");
    cl.expect("save|quor.qrn", "OK");  // the start-up file: captures now write through

    const auto until = Clock::now() + std::chrono::seconds(3);
    for (; Clock::now() < until && rounds < 400 && cl.problems.empty(); ++rounds) {
      const std::string n = std::to_string(rounds);
      // Structural edits with new names, and their undoing.
      cl.ask("start");
      cl.expect_no_fail("insert|tmp" + n + "|20|2");
      cl.set("sconfig|fresh" + n + "[3]|0|0|263|1|0");
      cl.set("sconfig|passes * 2|0|0|264|1|2");
      cl.set("sconfig|grown[" + std::to_string(rounds % 50 + 1) + "]|0|0|263|2|0");
      cl.ask("gconfig||0|1");
      cl.ask("livar");
      cl.expect("blocks||0", "OK");
      cl.expect("blocke", "OK");
      if (rounds % 2) cl.expect_no_fail("copy||0");  // the copy stays, the original goes
      cl.ask("del");
      cl.ask("varp|count");
      // Screens: objects showing a cell the scan writes, polled, written
      // through the operator's path, copied with their names resolved anew
      // (new variables), then cleared.
      cl.ask("start");
      cl.expect_no_fail("hinsert|v" + n + "|2");
      cl.set("sconfig|passes|1|0|263|0|4");
      cl.expect_no_fail("hinsert|w" + n + "|2");
      cl.set("sconfig|shown" + n + "|1|0|263|0|4");
      cl.set("sconfig||1|6|5|0|6");
      cl.set("sconfig||3|" + quorclient::float_to_wire(float(rounds)) + "|0");
      cl.expect_no_fail("hinsert|g" + n + "|5");
      cl.set("sconfig|passes|1|0|263|0|8");
      cl.set("sconfig||1|1|5|0|18");
      cl.set("sconfig|passes|1|0|264|0|6");
      cl.ask("rhmi");
      cl.ask("rhmi||1");
      cl.ask("hlist");
      cl.expect("blocks||1", "OK");
      cl.expect("copy||1", "OK");
      cl.expect("blocks||0", "OK");
      cl.expect("chmi||1", "OK");
      cl.expect("hpos||1", "1");
      cl.expect_no_fail("hdel");
      cl.expect("dhmi", "OK");
      cl.expect("svar|kept|" + quorclient::float_to_wire(float(rounds)), "OK");
      cl.ask("rsys||0|23");
      // Files and the clock.
      cl.expect("save|quor.qrn", "OK");
      if (rounds % 4 == 0) cl.expect_no_fail("load|quor.qrn");
      cl.expect("sdate||" + cl.first("rdate"), "OK");
      // Run control: stop, single steps, a break point, continue, restart.
      cl.expect("stop", "Stop");
      cl.ask("start");
      cl.ask("down");
      cl.ask("step");
      cl.ask("step");
      cl.ask("sbreak");
      cl.expect("cont", "OK");
      cl.expect("cbreak", "None");
      cl.expect("run", "OK");
      if (rounds % 5 == 0) {
        // Leaving with a break point set restarts the program.
        cl.ask("start");
        cl.ask("down");
        cl.ask("sbreak");
        cl.expect("logoff", "OK");
        if (!cl.open(user_port_number())) cl.problems.push_back("no session after logoff");
      }
      float p = cl.cell("passes");
      if (p > passes_seen) passes_seen = p;
      if (cl.cell("mst") == 1.0f) ++polled;
    }
    cl.ask("start");
    cl.ask("down");
    cl.ask("sbreak");
    cl.expect("stop", "Stop");
    cl.expect("logoff", "OK");
    Connection after;
    if (!after.connect("127.0.0.1", user_port_number()) || !after.open_session()) {
      cl.problems.push_back("no session at the end");
    } else {
      Reply r;
      if (!after.command("status", r) || r.first() != "Run") cl.problems.push_back("not running after the programmer left");
    }
    done = true;
  });
  serve_until(done);
  client.join();

  EXPECT_TRUE(cl.problems.empty()) << cl.problems.front();
  std::printf("%d rounds, %g passes, Modbus status 1 seen %g times\n", rounds, passes_seen, polled);
  EXPECT_GT(rounds, 3);
  EXPECT_GT(passes_seen, 0.0f);  // the scan kept running between the pauses
  if (peer_port) {
    EXPECT_GT(polled, 0.0f);
  }
  EXPECT_EQ(thread_ctr.load(), 0);
}

}  // namespace
