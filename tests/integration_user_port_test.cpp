// The real controller on a loopback port: connection kinds, downloads,
// uploads, slot limits, and clients that must not hold up each other.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "tests/support/quor_process.h"

using quorclient::Connection;
using quorclient::Reply;

namespace {

// A controller of its own for every test: a slot that one test's clients
// leave behind is freed only on a later pass, and files stay behind too.
class UserPort : public ::testing::Test {
 protected:
  void SetUp() override {
    q = std::make_unique<QuorProcess>();
    ASSERT_TRUE(q->start());
  }
  std::unique_ptr<QuorProcess> q;
};

bool no_temp_files(const std::string& dir) {
  for (auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".tmp") return false;
  return true;
}

TEST_F(UserPort, SessionsAndOneShotLines) {
  Connection s = q->connect();
  ASSERT_TRUE(s.send_line("Quiblet! /"));
  std::string greeting;
  ASSERT_TRUE(s.read_some(greeting, 2000));
  EXPECT_EQ(greeting, "ok\n\r");
  Reply r;
  ASSERT_TRUE(s.command("users", r));
  EXPECT_EQ(r.lines, (std::vector<std::string>{"none", "Version 0.946", "No name"}));
  // "init": five blocks, the last one the session settings.
  ASSERT_TRUE(s.send_line("init"));
  std::vector<size_t> sizes;
  for (int b = 0; b < 5; ++b) {
    ASSERT_TRUE(s.read_block(r, 2000)) << b;
    sizes.push_back(r.lines.size());
  }
  EXPECT_EQ(sizes, (std::vector<size_t>{33, 7, 11, 11, 7}));
  EXPECT_EQ(r.lines, (std::vector<std::string>{"50", "none", "1000", "10", "None", "no name", "0"}));
  ASSERT_TRUE(s.command("term", r));
  EXPECT_EQ(r.lines, std::vector<std::string>{"sync"});

  // Two commands on one line without a session: both act, no reply, closed.
  Connection once = q->connect();
  ASSERT_TRUE(once.send_raw("svar|!System[30]|" + quorclient::float_to_wire(1.5f) + "\nsvar|!System[31]|" +
                            quorclient::float_to_wire(2.5f) + "\r"));
  EXPECT_TRUE(once.wait_closed(2000));
  std::string rest;
  once.read_some(rest, 0);
  EXPECT_EQ(rest, "");
  ASSERT_TRUE(s.command("rvar|!System[30]|1", r));
  ASSERT_GE(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[0], quorclient::float_to_wire(1.5f));
  EXPECT_EQ(r.lines[1], quorclient::float_to_wire(2.5f));

  Connection bye = q->connect();
  bye.send_line("Disconnect /");
  EXPECT_TRUE(bye.wait_closed(2000));
}

TEST_F(UserPort, PipelinedCommandsAndAStalledClient) {
  Connection slow = q->session();
  ASSERT_TRUE(slow.is_open());
  ASSERT_TRUE(slow.send_raw("rvar|!Sys"));  // half a line, then silence

  Connection s = q->session();
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(s.send_raw("term\rflush\rstatus\r"));
  Reply a, b, c;
  ASSERT_TRUE(s.read_block(a, 2000));
  ASSERT_TRUE(s.read_block(b, 2000));
  ASSERT_TRUE(s.read_block(c, 2000));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
  EXPECT_EQ(a.first(), "sync");
  EXPECT_EQ(b.first(), "eob");
  EXPECT_EQ(c.first(), "Run");
  // Line feeds cut a line into commands; a final line feed adds an empty
  // command, answered "fail".
  ASSERT_TRUE(s.send_raw("term\nflush\n\r"));
  ASSERT_TRUE(s.read_block(a, 2000));
  ASSERT_TRUE(s.read_block(b, 2000));
  ASSERT_TRUE(s.read_block(c, 2000));
  EXPECT_EQ(a.first() + "," + b.first() + "," + c.first(), "sync,eob,fail");

  // The stalled line completes later and is answered then.
  ASSERT_TRUE(slow.send_raw("tem|0\r"));
  ASSERT_TRUE(slow.read_block(a, 2000));
  EXPECT_EQ(a.lines.size(), 1u);
  EXPECT_NE(a.first(), "fail");
}

TEST_F(UserPort, Downloads) {
  q->write("a.txt", "alpha\n");
  q->write("index.html", "<p>home</p>");
  std::string body;
  EXPECT_EQ(quorclient::download("127.0.0.1", q->port(), "a.txt?x=1", &body), 200);
  EXPECT_EQ(body, "alpha\n");  // nothing but the status line before it
  EXPECT_EQ(quorclient::download("127.0.0.1", q->port(), "", &body), 200);
  EXPECT_EQ(body, "<p>home</p>");
  EXPECT_EQ(quorclient::download("127.0.0.1", q->port(), std::string(260, 'x'), &body), 200);
  EXPECT_EQ(body, "<p>home</p>");
  q->write(std::string(250, 'n'), "long name");
  EXPECT_EQ(quorclient::download("127.0.0.1", q->port(), std::string(250, 'n'), &body), 200);
  EXPECT_EQ(body, "long name");
  EXPECT_EQ(quorclient::download("127.0.0.1", q->port(), std::string(251, 'n'), &body), 200);
  EXPECT_EQ(body, "<p>home</p>");
  EXPECT_EQ(quorclient::download("127.0.0.1", q->port(), "missing.txt", &body), 404);
  EXPECT_EQ(quorclient::download("127.0.0.1", q->port(), "/etc/hostname", &body), 404);
  EXPECT_EQ(quorclient::download("127.0.0.1", q->port(), "../" + std::filesystem::path(q->dir()).filename().string() + "/a.txt", &body), 404);

  // A larger file goes out in chunks and arrives whole.
  std::string big;
  for (int i = 0; i < 20000; ++i) big += std::to_string(i) + ",";
  q->write("big.bin", big);
  EXPECT_EQ(quorclient::download("127.0.0.1", q->port(), "big.bin", &body), 200);
  EXPECT_EQ(body, big);
}

TEST_F(UserPort, Uploads) {
  EXPECT_TRUE(quorclient::upload("127.0.0.1", q->port(), "u.txt", "uploaded"));
  EXPECT_EQ(q->read("u.txt"), "uploaded");

  // Byte count in hexadecimal.
  Connection c = q->connect();
  ASSERT_TRUE(c.send_raw("POST /hex.txt\n0x10\r0123456789abcdefEXTRA"));
  EXPECT_TRUE(c.wait_closed(2000));
  EXPECT_EQ(q->read("hex.txt"), "0123456789abcdef");

  // The executable: the old one is kept as quorexe.old; the new one runs.
  q->write("quorexe", "old program");
  EXPECT_TRUE(quorclient::upload("127.0.0.1", q->port(), "quorexe", "new program"));
  EXPECT_EQ(q->read("quorexe"), "new program");
  EXPECT_EQ(q->read("quorexe.old"), "old program");
  struct stat st{};
  ASSERT_EQ(stat(q->path("quorexe").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0777u);

  // Names outside the working directory are refused.
  std::string outside = std::filesystem::path(q->dir()).filename().string() + "_escape.txt";
  EXPECT_TRUE(quorclient::upload("127.0.0.1", q->port(), "../" + outside, "x"));
  EXPECT_FALSE(std::filesystem::exists("/tmp/" + outside));

  // An upload cut short keeps the file it would replace, and leaves no
  // temporary file.
  q->write("keep.txt", "precious");
  Connection cut = q->connect();
  ASSERT_TRUE(cut.send_raw("POST /keep.txt\n100\rpartial"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(q->read("keep.txt"), "precious");
  cut.close();
  bool clean = false;
  for (int i = 0; i < 100 && !(clean = no_temp_files(q->dir())); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(clean);
  EXPECT_EQ(q->read("keep.txt"), "precious");
}

TEST_F(UserPort, TenSlotsAndProtectedFiles) {
  q->write("quor1.per", "history");
  q->write("a.txt", "alpha\n");
  std::vector<Connection> held;
  for (int i = 0; i < 8; ++i) {
    held.push_back(q->session());
    ASSERT_TRUE(held.back().is_open()) << i;
  }
  std::string body;
  // Eight sessions and the download: a slot is still free.
  EXPECT_EQ(quorclient::download("127.0.0.1", q->port(), "quor1.per", &body), 200);
  held.push_back(q->session());
  ASSERT_TRUE(held.back().is_open());
  // Nine sessions and the download fill all ten slots.
  EXPECT_EQ(quorclient::download("127.0.0.1", q->port(), "quor1.per", &body), 404);
  EXPECT_EQ(quorclient::download("127.0.0.1", q->port(), "a.txt", &body), 200);
  held.push_back(q->session());
  ASSERT_TRUE(held.back().is_open());
  // The eleventh connection is accepted and closed at once.
  Connection extra = q->connect();
  ASSERT_TRUE(extra.is_open());
  EXPECT_TRUE(extra.wait_closed(2000));
  Reply r;
  EXPECT_TRUE(held.front().command("term", r));
  EXPECT_EQ(r.first(), "sync");
}

}  // namespace
