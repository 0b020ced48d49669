// Logging in, the programmer's preemption of other sessions, and a
// programming session end to end on the real controller.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/quor_process.h"

using quorclient::Connection;
using quorclient::Reply;

namespace {

class Session : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(q.start()); }
  std::vector<std::string> ask(Connection& c, const std::string& line) {
    Reply r;
    EXPECT_TRUE(c.command(line, r)) << line;
    return r.lines;
  }
  using L = std::vector<std::string>;
  QuorProcess q;
};

TEST_F(Session, FailedLoginEndsTheSessionFiveSecondsLater) {
  Connection c = q.session();
  ASSERT_TRUE(c.is_open());
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(c.login("wrong"), "fail");
  EXPECT_EQ(ask(c, "term"), L{"sync"});  // still open for now
  EXPECT_TRUE(c.wait_closed(8000));
  auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(waited, std::chrono::seconds(3));
  EXPECT_LE(waited, std::chrono::seconds(7));
}

TEST_F(Session, ProgrammerPreemptsOtherSessions) {
  Connection op = q.session();
  Connection prog = q.session();
  ASSERT_TRUE(op.is_open() && prog.is_open());
  EXPECT_EQ(prog.login(""), "prog");  // the default programmer entry
  EXPECT_TRUE(op.wait_closed(2000));
  EXPECT_EQ(ask(prog, "users")[0], "prog");

  // A newcomer may ask "users"; anything else ends its connection.
  Connection late = q.session();
  ASSERT_TRUE(late.is_open());
  EXPECT_EQ(ask(late, "users")[0], "prog");
  EXPECT_EQ(late.login(""), "fail");
  late.send_line("status");
  EXPECT_TRUE(late.wait_closed(2000));
  EXPECT_EQ(ask(prog, "status"), L{"Run"});

  // Logging off restarts nothing that runs and frees the way for others.
  EXPECT_EQ(ask(prog, "logoff"), L{"OK"});
  EXPECT_TRUE(prog.wait_closed(2000));
  Connection next = q.session();
  EXPECT_EQ(ask(next, "users")[0], "none");
}

TEST_F(Session, ProgrammingEndToEnd) {
  Connection c = q.session();
  ASSERT_EQ(c.login(""), "prog");
  EXPECT_EQ(ask(c, "start"), (L{"Module Loop_1", "Module Loop_2", "Module Loop_3", "Module Loop_4", "Module End"}));
  EXPECT_EQ(ask(c, "insert|Tanks|0|0")[0], "Module Tanks");
  L page = ask(c, "insert|Fill|12|0");  // a Timer
  EXPECT_EQ(page[0], "  Timer Fill");
  EXPECT_EQ(ask(c, "name"), L{"Fill"});
  EXPECT_EQ(ask(c, "lconfig").size(), 3u);
  // "sconfig" never answers: the next reply belongs to "term".
  c.send_line("sconfig|level|0|0|263|0|0");
  EXPECT_EQ(ask(c, "term"), L{"sync"});
  EXPECT_EQ(ask(c, "gconfig||0|0")[0], "level|263");
  EXPECT_EQ(ask(c, "svar|level|" + quorclient::float_to_wire(4.0f)), L{"OK"});
  EXPECT_EQ(ask(c, "rvar|level"), L{quorclient::float_to_wire(4.0f)});
  EXPECT_EQ(ask(c, "rsys||0|128").size(), 129u);
  EXPECT_EQ(ask(c, "rsys||0|129"), L{"fail"});
  EXPECT_EQ(ask(c, "ssys||23|0|1"), L{"fail"});

  // Run control.
  EXPECT_EQ(ask(c, "stop"), L{"Stop"});
  EXPECT_EQ(ask(c, "status"), L{"Stop"});
  ask(c, "apos||1");
  EXPECT_EQ(ask(c, "step"), L{"cur 1"});
  EXPECT_EQ(ask(c, "name"), L{"Fill"});
  EXPECT_EQ(ask(c, "sbreak"), L{"Timer Fill"});
  EXPECT_EQ(ask(c, "cont"), L{"OK"});
  EXPECT_EQ(ask(c, "status"), L{"Run"});
  EXPECT_EQ(ask(c, "cbreak"), L{"None"});
  EXPECT_EQ(ask(c, "run"), L{"OK"});

  // Editing: a block copied and deleted again.
  ask(c, "apos||2");
  EXPECT_EQ(ask(c, "blocks"), L{"OK"});
  EXPECT_EQ(ask(c, "blocke"), L{"OK"});
  EXPECT_EQ(ask(c, "blockc"), (L{"Timer Fill", "Timer Fill"}));
  EXPECT_NE(ask(c, "copy"), L{"fail"});
  ask(c, "start");
  EXPECT_EQ(ask(c, "alist").size(), 8u);
  EXPECT_EQ(ask(c, "ren|Loop_1"), L{"fail"});
  EXPECT_EQ(ask(c, "varen|level~height"), L{"fail"});  // not in Loop_1's scope
  ask(c, "apos||1");
  EXPECT_EQ(ask(c, "varen|level~height"), L{"OK"});
  EXPECT_EQ(ask(c, "mivar|height"), L{"0"});
  EXPECT_EQ(ask(c, "save"), L{"OK"});
  EXPECT_TRUE(q.exists("quor.qrn"));
  EXPECT_EQ(ask(c, "new").size(), 5u);
  EXPECT_EQ(ask(c, "save|../x.qrn"), L{"fail"});
  EXPECT_EQ(ask(c, "load|quor.qrn").size(), 8u);
}

// quorctl against the controller: output and exit status.
TEST_F(Session, CommandLineClient) {
  auto run = [&](const std::string& args, std::string* out = nullptr) {
    std::string cmd = std::string(QUOR_BINARY_DIR) + "/quorctl --port " + std::to_string(q.port()) + " " + args +
                      " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int st = pclose(p);
    if (out) *out = text;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  };
  std::string out;
  EXPECT_EQ(run("users", &out), 0);
  EXPECT_EQ(out, "none\nVersion 0.946\nNo name\n");
  EXPECT_EQ(run("set '!System[40]' 12.5"), 0);
  EXPECT_EQ(run("get '!System[40]' 2", &out), 0);
  EXPECT_EQ(out, "12.5\n0\n");
  EXPECT_EQ(run("get nothere"), 1);
  EXPECT_EQ(run("raw 'rsys||0|1'", &out), 1);  // not logged in
  EXPECT_EQ(run("list", &out), 0);
  EXPECT_EQ(out.substr(0, 14), "Module Loop_1\n");
  EXPECT_EQ(run("save plant.qrn"), 0);
  EXPECT_TRUE(q.exists("plant.qrn"));
  EXPECT_EQ(run("nosuch"), 2);
  EXPECT_EQ(run("get"), 2);
  q.write("f.txt", "file");
  EXPECT_EQ(run("download f.txt -o " + q.path("copy.txt")), 0);
  EXPECT_EQ(q.read("copy.txt"), "file");
  EXPECT_EQ(run("download nothere.txt -o " + q.path("none.txt")), 1);
  EXPECT_EQ(run("upload " + q.path("f.txt") + " --as g.txt"), 0);
  EXPECT_EQ(q.read("g.txt"), "file");
  q.stop();
  EXPECT_EQ(run("users"), 3);
}

}  // namespace
