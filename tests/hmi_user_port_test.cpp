// The user port in this process: countdowns driven by hand instead of the
// clock, so the 20- and 120-second rules run without waiting.
#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "net/files.h"
#include "net/sockets.h"
#include "net/user_port.h"
#include "tests/support/fixture.h"
#include "tests/support/temp_dir.h"
#include "tools/client/client.h"

namespace {

class UserPortInProcess : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    ASSERT_TRUE(user_port_open(0));
  }
  void TearDown() override {
    user_port_shutdown();
    no_socket_timeout = false;
    ProgramTest::TearDown();
  }
  quorclient::Connection connect() {
    quorclient::Connection c;
    EXPECT_TRUE(c.connect("127.0.0.1", user_port_number()));
    pump();
    return c;
  }
  void pump(int passes = 5) {
    for (int i = 0; i < passes; ++i) proc_user(1);
  }
  long used_slots() { return std::count_if(client_socket, client_socket + CLIENT_SLOTS, [](auto fd) { return fd != 0; }); }
  void seconds(int n) {
    for (int i = 0; i < n; ++i) clients_second();
    pump();
  }
  bool has_temp() {
    for (auto& e : std::filesystem::directory_iterator(dir.path()))
      if (e.path().extension() == ".tmp") return true;
    return false;
  }
  InTempDir dir;
};

TEST_F(UserPortInProcess, StalledUploadEndsAfterTwentySilentSeconds) {
  std::ofstream("plant.qrn") << "old";
  auto c = connect();
  ASSERT_TRUE(c.send_raw("POST /plant.qrn\n10\rabc"));
  pump();
  EXPECT_TRUE(has_temp());
  seconds(19);
  ASSERT_TRUE(c.send_raw("de"));  // data renews the countdown
  pump();
  seconds(19);
  EXPECT_EQ(used_slots(), 1);
  seconds(1);
  EXPECT_EQ(used_slots(), 0);
  EXPECT_FALSE(has_temp());
  std::ifstream f("plant.qrn");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), {}), "old");
}

TEST_F(UserPortInProcess, IdleCountdownAndItsHold) {
  auto c = connect();
  EXPECT_EQ(used_slots(), 1);
  // The hold, the seconds that pass, the sessions left; history file
  // creation holds every countdown.
  for (auto [hold, n, left] : {std::tuple{false, 119, 1}, {true, 500, 1}, {false, 119, 1}, {false, 1, 0}}) {
    no_socket_timeout = hold;
    seconds(n);
    EXPECT_EQ(used_slots(), left) << n;
  }
  EXPECT_TRUE(c.wait_closed(1000));
}

TEST_F(UserPortInProcess, OverlongRequestLineClosesTheConnection) {
  auto c = connect();
  ASSERT_TRUE(c.send_raw("Quiblet! /\r"));
  pump();
  quorclient::Reply r;
  ASSERT_TRUE(c.read_block(r, 1000));
  std::string junk(USER_CHUNK + 10, 'x');
  ASSERT_TRUE(c.send_raw(junk));
  for (int i = 0; i < 20 && used_slots(); ++i) pump();
  EXPECT_EQ(used_slots(), 0);
}

// The file services behind the file commands are tried in history_commands_test.
TEST_F(UserPortInProcess, OutgoingSocketAndRefusedDelete) {
  EXPECT_EQ(del_file("/tmp/x"), 0);
  sockaddr_in a{};
  int fd = Port_out(502, "127.0.0.1", &a);
  EXPECT_GT(fd, 0);
  EXPECT_EQ(a.sin_family, AF_INET);
  EXPECT_EQ(ntohs(a.sin_port), 502);
  EXPECT_EQ(a.sin_addr.s_addr, inet_addr("127.0.0.1"));
  EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  close_fd(fd);
  EXPECT_EQ(fd, 0);
}

TEST(ClientNames, StayInsideTheWorkingDirectory) {
  for (std::string_view ok : {"quor.qrn", "sub/dir/x.per", "..hidden"}) EXPECT_TRUE(client_name_ok(ok)) << ok;
  for (std::string_view bad : {"", "/etc/passwd", "..", "../x", "a/../../x", "a/..", "a\nb"})
    EXPECT_FALSE(client_name_ok(bad)) << bad;
  EXPECT_FALSE(client_name_ok(std::string_view("a\0b", 3)));
}

}  // namespace
