#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "net/clock.h"
#include "platform/host.h"
#include "tests/support/fixture.h"
#include "tests/support/temp_dir.h"

TEST(TimeBase, DateTextAndBcd) {
  EXPECT_EQ(get_date(0), "01/01/00 00:00:00");
  EXPECT_EQ(get_date(86400 * 366 + 3661), "01/01/01 01:01:01");
  EXPECT_EQ(get_date(86400 * (31 + 28) + 86399), "02/29/00 23:59:59");
  EXPECT_EQ(bintobcd(59), 0x59);
  EXPECT_EQ(bcdtobin(0x59), 59);
  std::string s = "t";
  bcdtostring(s, 0x47);
  EXPECT_EQ(s, "t47");
}

TEST(TimeBase, DayNumbersRoundTrip) {
  EXPECT_EQ(ymd_to_day(2004, 2, 29), 1520u);
  EXPECT_EQ(ymd_to_day(2001, 1, 1), 366u);
  for (u32 d = 0; d < 40000; d += 7) {
    Ymd y = day_to_ymd(d);
    ASSERT_EQ(ymd_to_day(y.year, y.month, y.day), d) << d;
  }
  Ymd leap = day_to_ymd(1520);
  EXPECT_EQ(leap.year, 2004);
  EXPECT_EQ(leap.month, 2);
  EXPECT_EQ(leap.day, 29);
}

using ClockSetting = ProgramTest;

TEST_F(ClockSetting, RealTimeClockIsReadAndWritten) {
  // 29 February 2004 12:00:00 in the clock chip's BCD registers.
  fake.rtc_write(0, 0x00);
  fake.rtc_write(2, 0x00);
  fake.rtc_write(4, 0x12);
  fake.rtc_write(7, 0x29);
  fake.rtc_write(8, 0x02);
  fake.rtc_write(9, 0x04);
  slinux_date();
  u32 expect = 1520u * 86400 + 12 * 3600;
  EXPECT_EQ(timec.load(), expect);
  EXPECT_EQ(next_time_sync.load(), expect / 60 * 60 + 3593);
  ASSERT_FALSE(fake.actions().empty());
  EXPECT_EQ(fake.actions().back(), "settimeofday " + std::to_string(expect));

  gen_loop_int[0] = 1000;
  sdate(expect + 86400 + 3723, true);  // 1 March 2004 13:02:03
  EXPECT_EQ(fake.rtc_read(9), 0x04);
  EXPECT_EQ(fake.rtc_read(8), 0x03);
  EXPECT_EQ(fake.rtc_read(7), 0x01);
  EXPECT_EQ(fake.rtc_read(4), 0x13);
  EXPECT_EQ(fake.rtc_read(2), 0x02);
  EXPECT_EQ(fake.rtc_read(0), 0x03);
  EXPECT_EQ(fake.rtc_read(11), 0x02);
  EXPECT_EQ(loop_time[0].load(), expect + 86400 + 3724);  // rescheduled from the new time
}

TEST(HostActions, RecordedOneLineEachAndNothingRuns) {
  InTempDir dir;
  {
    HostPlatform host;
    host.run_child({"/sbin/udhcpc", "-H", "QUOR", "-i", "eth0"}, 0);
    host.write_hostname("QUOR");
    u32 s;
    i32 us;
    host.now(&s, &us);
    host.set_clock(s + 3600);
    u32 s2;
    host.now(&s2, &us);
    EXPECT_GE(s2, s + 3600);  // only the controller's clock moved
    EXPECT_LE(s2, s + 3602);
    host.pc104_out(1023, 0x5A);
    EXPECT_EQ(host.pc104_in(1023), 0x5A);
    host.pc104_out(1024, 1);  // outside the window: ignored
    EXPECT_EQ(host.pc104_in(1024), 0xFF);
    std::ifstream log("host-actions.log");
    std::string a, b, c, d;
    std::getline(log, a);
    std::getline(log, b);
    std::getline(log, c);
    EXPECT_EQ(a, "/sbin/udhcpc -H QUOR -i eth0");
    EXPECT_EQ(b, "hostname QUOR");
    EXPECT_EQ(c, "settimeofday " + std::to_string(s + 3600));
    EXPECT_FALSE(std::getline(log, d));
  }
}
