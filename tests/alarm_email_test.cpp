// The mail machine against aiosmtpd and against scripted servers that stay
// silent, trickle bytes or close mid-reply. Countdowns run ten times faster
// than real time: one 10 ms tick per pass, one second per 100 passes.
#include <algorithm>
#include <filesystem>
#include <iterator>

#include "alarm/alarm_hooks.h"
#include "alarm/email.h"
#include "core/config.h"
#include "tests/support/hist_fixture.h"
#include "tests/support/free_port.h"
#include "tests/support/peer_process.h"

namespace {

long open_fds() {
  std::filesystem::directory_iterator fds("/proc/self/fd");
  return std::distance(begin(fds), end(fds));
}

class Mail : public HistTest {
 protected:
  void SetUp() override {
    HistTest::SetUp();
    mail_reset();
    port_ = free_port();
    con_mail_ip = "127.0.0.1";
    con_mail_port = u16(port_);
    con_num = 4;
    con_email = {"a@x.org", "b@x.org", std::nullopt, "d@x.org"};
    con_email1 = 1;
    con_email2 = 0;
    for (ConfigText* t : {&con_name, &con_pass, &con_wan_ip}) t->reset();
    gen_site_name = "Plant A";
    timec = 1000;
    ip_timeout = 1900;
  }
  void TearDown() override {
    mail_reset();
    con_mail_ip.reset();
    HistTest::TearDown();
  }
  std::unique_ptr<PeerProcess> start(const std::string& script, const std::string& mode = "") {
    std::vector<std::string> argv{"/usr/bin/python3", std::string(QUOR_SOURCE_DIR) + "/tests/peers/" + script,
                                  std::to_string(port_)};
    if (!mode.empty()) argv.push_back(mode);
    auto p = std::make_unique<PeerProcess>(argv);
    EXPECT_TRUE(p->wait_for("ready", 10000));
    return p;
  }
  // Passes until done() holds or `passes` ran out; the simulated seconds
  // that went by.
  int pump(PeerProcess* peer, const std::function<bool()>& done, int passes = 20000) {
    int seconds = 0;
    for (int i = 1; i <= passes && !done(); ++i) {
      email();
      alarm_tick();
      if (i % 100 == 0) {
        alarm_second();
        ++seconds;
      }
      if (peer) peer->poll();
      usleep(300);
    }
    return seconds;
  }
  // Pumps until the server logged n lines and the connection ended; the lines.
  const std::vector<std::string>& delivered(PeerProcess* peer, size_t n) {
    pump(peer, [&] { return peer->lines().size() >= n && mail_connect == 0; });
    return peer->lines();
  }
  // Periodic file 1 with one record to mail from and to the address `to`.
  void one_record_to_mail(u8 to) {
    ASSERT_TRUE(make(HistKind::Periodic, 0, 1, 100));
    per_email1[0] = per_email2[0] = to;
    float v = 1;
    ASSERT_TRUE(write_periodic(0, &v, 1, 5));
  }
  int port_ = 0;
};

}  // namespace

TEST_F(Mail, PeriodicEventAndNewAddressMails) {
  auto peer = start("smtp_peer.py");
  ASSERT_TRUE(make(HistKind::Periodic, 1, 2, 100));
  per_email1[1] = 2;
  per_email2[1] = 4;
  float v[2] = {1.5f, 2};
  ASSERT_TRUE(write_periodic(1, v, 2, 86400 * 366 + 3661));
  v[0] = 3;
  ASSERT_TRUE(write_periodic(1, v, 2, 86400 * 366 + 3662));
  EXPECT_EQ(per_mail_rec[1].load(), 0);
  // A record written after the body went out waits for the next mail.
  pump(peer.get(), [&] { return mail_seq >= 8; });
  v[0] = 4;
  ASSERT_TRUE(write_periodic(1, v, 2, 86400 * 366 + 3663));
  ASSERT_EQ(delivered(peer.get(), 2).size(), 2u);
  EXPECT_EQ(peer->lines()[1],
            R"({"helo": "quor", "from": "b@x.org", "to": ["b@x.org", "d@x.org"], "data": )"
            R"("Date:01/01/00 00:16:40\r\nSubject:Plant A Periodic file 2\r\nFrom:b@x.org\r\n\r\n)"
            R"(01/01/01 01:01:01,1.5,2\r\n01/01/01 01:01:02,3,2\r\n"})");
  EXPECT_EQ(per_mail_rec[1].load(), 2);  // delivered up to record 1
  ASSERT_EQ(delivered(peer.get(), 3).size(), 3u);
  EXPECT_NE(peer->lines()[2].find(R"(\r\n\r\n01/01/01 01:01:03,4,2\r\n")"), std::string::npos);
  EXPECT_EQ(per_mail_rec[1].load(), -1);

  // Event file 1 with AUTH PLAIN; the event's name cannot add a command.
  con_name = "user";
  con_pass = std::string(200, 'p') + ":\1";
  ASSERT_TRUE(make(HistKind::Event, 0, 2, 100));
  evt_ptr[0].resize(2);
  evt_ptr[0][1].name = "Pump\r\nRCPT TO:evil";
  evt_email1[0] = 1;
  evt_email2[0] = 1;
  ASSERT_TRUE(write_event(0, 86400, 7.25f, 6.0f, 2));
  ASSERT_TRUE(write_event(0, 86401, 1, 4.0f, 9));
  peer->lines().clear();
  ASSERT_EQ(delivered(peer.get(), 2).size(), 2u);
  EXPECT_EQ(peer->lines()[0], R"({"auth": "PLAIN", "login": "user", "password": ")" + std::string(200, 'p') +
                                  R"(:\u0001"})");
  EXPECT_EQ(peer->lines()[1],
            R"({"helo": "quor", "from": "a@x.org", "to": ["a@x.org"], "data": )"
            R"("Date:01/01/00 00:16:40\r\nSubject:Plant A Event file 1\r\nFrom:a@x.org\r\n\r\n)"
            R"(01/02/00 00:00:00,2,7.25,6 Both PumpRCPT TO:evil\r\n01/02/00 00:00:01,9,1,4 High alarm \r\n"})");
  EXPECT_EQ(evt_mail_rec[0].load(), -1);

  // The address check: a new address is mailed to IP Email 1..2 and then
  // kept; the same address 900 s later sends nothing.
  con_name.reset();
  con_email2 = 2;
  timec = 1901;
  peer->lines().clear();
  ASSERT_EQ(delivered(peer.get(), 1).size(), 1u);
  EXPECT_NE(peer->lines()[0].find(R"("to": ["a@x.org", "b@x.org"])"), std::string::npos);
  EXPECT_NE(peer->lines()[0].find(R"(Subject:Plant A New IP address\r\nFrom:a@x.org\r\n\r\n)"
                                  R"(The new IP address is: 127.0.0.1\r\n)"),
            std::string::npos);
  EXPECT_EQ(con_wan_ip.value_or(""), "127.0.0.1");
  EXPECT_EQ(ip_timeout.load(), 1901u + 900);
  timec = 1901 + 901;
  pump(peer.get(), [&] { return mail_connect != 0; });
  pump(peer.get(), [&] { return mail_connect == 0; });
  EXPECT_EQ(peer->lines().size(), 1u);
  // A clock set back leaves the next check at most 900 s away.
  timec = 100;
  check_mail();
  EXPECT_EQ(ip_timeout.load(), 1000u);
}

TEST_F(Mail, NoReturnAddressOrRecipientsMailsNothing) {
  one_record_to_mail(3);  // an empty address: the job is dropped
  EXPECT_EQ(per_mail_rec[0].load(), 0);
  con_email1 = 0;  // mail off: nothing happens, the records wait
  pump(nullptr, [] { return false; }, 50);
  EXPECT_EQ(per_mail_rec[0].load(), 0);
  auto peer = start("smtp_peer.py");
  con_email1 = 1;
  pump(peer.get(), [] { return per_mail_rec[0].load() == -1; });
  EXPECT_EQ(per_mail_rec[0].load(), -1);
  EXPECT_EQ(mail_connect, 0);
  EXPECT_EQ(peer->lines().size(), 1u);  // "ready" only
}

TEST_F(Mail, MisbehavingServersEndInTimeAndBackOff) {
  one_record_to_mail(1);
  for (const char* mode : {"silent", "trickle", "close", "refused"}) {
    SCOPED_TRACE(mode);
    mail_reset();
    std::unique_ptr<PeerProcess> peer;
    if (std::string(mode) != "refused") peer = start("smtp_bad.py", mode);
    const int fds = open_fds();
    int s = pump(peer.get(), [] { return mail_connect != 0; }, 100);
    EXPECT_NE(mail_connect, 0);
    s = pump(peer.get(), [] { return mail_connect == 0; }, 5000);
    EXPECT_EQ(mail_connect, 0);
    EXPECT_LE(s, MAIL_REPLY_S + 1);
    EXPECT_GE(mail_backoff.load(), MAIL_RETRY_S - 1);
    EXPECT_EQ(per_mail_rec[0].load(), 0);  // kept for the retry
    EXPECT_EQ(open_fds(), fds);
    // No new connection during the back-off, one after it.
    s = pump(peer.get(), [] { return mail_connect != 0; }, 8000);
    EXPECT_GE(s, MAIL_RETRY_S - 2);
    if (peer) {
      auto conns = [&] { return peer->poll(), std::count(peer->lines().begin(), peer->lines().end(), "conn"); };
      for (int i = 0; i < 200 && conns() < 2; ++i) usleep(10000);
      EXPECT_EQ(conns(), 2);
    }
  }
}

TEST(MailText, Base64AndCleaning) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}};
  for (auto [in, out] : cases) EXPECT_EQ(encode64(in), out) << in;
  EXPECT_EQ(encode64(std::string("\0u\0p", 4)), "AHUAcA==");
  con_name.reset();
  EXPECT_EQ(get_auth_string(), "AAAA\r\n");
  EXPECT_EQ(mail_clean("a\r\nb\x7f\tc"), "abc");
}
