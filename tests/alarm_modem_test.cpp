// The dialler on a pty pair made by socat: what the modem receives, the PPP
// daemon's stop and restart, suppression by a logged-in client, the repeat.
#include <fcntl.h>


#include "alarm/alarm_hooks.h"
#include "alarm/modem.h"
#include "core/startup.h"
#include "hmi/session.h"
#include "net/user_port.h"
#include "tests/support/fixture.h"
#include "tests/support/pty_pair.h"

namespace {

class Modem : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    ASSERT_TRUE(pty_.start());
    peer_ = pty_.open_dev(O_RDONLY);
    ASSERT_GT(peer_, 0);
    saved_ = options.serial[0];
    options.serial[0] = pty_.ctl();
    con_type = 1;
    con_modem_alarm = 1;
    con_num = 4;
    con_email = {"555 0100", "", "x1", "555-0103"};
    con_alarm1 = 1;
    con_alarm2 = 4;
    alarm_last_value = 0;
    alarm_state_index = 0;
    alarm_timer_call = 0;
    alarm_timer = 0;
  }
  void TearDown() override {
    modem_end_series();
    options.serial[0] = saved_;
    con_modem_alarm = 0;
    con_type = 0;
    con_email.clear();
    con_num = 0;
    client_socket[0] = 0;
    priority[0] = 255;
    if (peer_ > 0) close(peer_);
    ProgramTest::TearDown();
  }
  // One simulated second per pass.
  void seconds(int n) {
    for (int i = 0; i < n; ++i) {
      dial_alarm();
      alarm_second();
      usleep(200);
    }
  }
  // What the modem received: once want is among it (for at most two
  // seconds, as socat may be slow on a busy machine), or after 50 ms.
  std::string heard(const std::string& want = "") {
    char buf[512];
    ssize_t n;
    for (int i = 0; i < 200; ++i) {
      usleep(10000);
      while ((n = read(peer_, buf, sizeof buf)) > 0) heard_.append(buf, size_t(n));
      if (want.empty() ? i >= 4 : heard_.find(want) != std::string::npos) break;
    }
    std::string r;
    r.swap(heard_);
    return r;
  }
  int count(const std::string& action) {
    int n = 0;
    for (auto& a : fake.actions()) n += a == action;
    return n;
  }
  PtyPair pty_;
  std::string saved_, heard_;
  int peer_ = -1;
};

const std::string kKill = "/usr/bin/killall -9 pppd";

}  // namespace

TEST_F(Modem, SeriesOverTwoNumbersThenRepeat) {
  sys_set(ALARM_WORD_CELL, 5);
  seconds(200);
  const std::string call = ",,,,1,777,,,,,1,777\r";
  const std::string series = "\rat\ratdt5550100" + call + "\rat\r\rat\ratdt5550103" + call + "\rat\r";
  EXPECT_EQ(heard(series), series);
  const std::string pppd = "/usr/sbin/pppd " + pty_.ctl() + " 115200 modem noauth persist crtscts 72.16.1.1:172.16.1.2";
  EXPECT_EQ(fake.actions(), (std::vector<std::string>{kKill, pppd}));
  EXPECT_EQ(alarm_state_index, 0);
  // The word stays set: about 30 minutes later the series starts again,
  // stopping the daemon first.
  seconds(1800);
  EXPECT_EQ(count(kKill), 2);
  // Clearing the word ends the series after a hang-up; the daemon returns.
  sys_set(ALARM_WORD_CELL, 0);
  seconds(80);
  EXPECT_EQ(count(pppd), 2);
  EXPECT_EQ(alarm_state_index, 0);
  EXPECT_EQ(alarm_fd, 0);
}

TEST_F(Modem, LoggedInClientSuppressesCallsUntilItLeaves) {
  client_socket[0] = 1000;  // a session slot in use, logged in
  priority[0] = 0;
  sys_set(ALARM_WORD_CELL, 2);
  seconds(100);
  EXPECT_EQ(heard(), "");
  EXPECT_EQ(count(kKill), 0);
  priority[0] = 255;  // connected, not logged in: no longer suppresses
  seconds(30);
  EXPECT_EQ(count(kKill), 1);
  const std::string call = "atdt5550100,,,,55,,,,,55\r";
  EXPECT_NE(heard(call).find(call), std::string::npos);
  // Disabled in the middle of a series: hang up, line closed, daemon back.
  con_modem_alarm = 0;
  seconds(1);
  EXPECT_EQ(alarm_fd, 0);
  EXPECT_EQ(count("/usr/sbin/pppd " + pty_.ctl() + " 115200 modem noauth persist crtscts 72.16.1.1:172.16.1.2"), 1);
}

TEST(ModemText, DialTextsAndNumbers) {
  EXPECT_EQ(dial_text("123", 5), "atdt123,,,,1,777,,,,,1,777\r");
  EXPECT_EQ(dial_text("9", 15), "atdt9,,,,1,55,777,9999,,,,,1,55,777,9999\r");
  EXPECT_EQ(dial_text("9", 0), "atdt9,,,,,,,\r");
  EXPECT_EQ(dial_number(" (555) 01-02 "), "5550102");
  EXPECT_EQ(dial_number("555;ath"), "");
  EXPECT_EQ(dial_number(""), "");
}
