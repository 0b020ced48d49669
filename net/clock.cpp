#include "net/clock.h"

#include <cstdio>

#include "core/engine.h"
#include "platform/platform.h"

namespace {
constexpr u16 kCumDays[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr u16 kYearStart[4] = {0, 366, 731, 1096};
}  // namespace

u8 bintobcd(u8 b) { return u8(((b / 10) << 4) | (b % 10)); }
u8 bcdtobin(u8 b) { return u8((b >> 4) * 10 + (b & 0x0F)); }
void bcdtostring(std::string& text, u8 b) {
  text += char('0' + ((b >> 4) & 0x0F));
  text += char('0' + (b & 0x0F));
}

u32 ymd_to_day(int year, int month, int day) {
  int y = year - 2000;
  u32 d = u32(y / 4) * 1461 + kYearStart[y % 4] + u32(day - 1) + kCumDays[(month - 1) % 12];
  if (month > 2 && y % 4 == 0) d += 1;
  return d;
}

Ymd day_to_ymd(u32 days) {
  // Every fourth year from 2000 is a leap year up to 2099, and the range of
  // the 32-bit clock (to 2136) only adds 2100, which the rule above also
  // treats as a leap year; the split stays consistent with ymd_to_day.
  u32 quad = days / 1461, rest = days % 1461;
  int y = 0;
  while (y < 3 && rest >= kYearStart[y + 1]) ++y;
  rest -= kYearStart[y];
  bool leap = (y == 0);
  int m = 11;
  while (m > 0) {
    u32 start = kCumDays[m] + ((leap && m >= 2) ? 1 : 0);
    if (rest >= start) break;
    --m;
  }
  u32 start = kCumDays[m] + ((leap && m >= 2) ? 1 : 0);
  return Ymd{int(2000 + quad * 4 + u32(y)), m + 1, int(rest - start) + 1};
}

std::string get_date(u32 t) {
  Ymd d = day_to_ymd(t / 86400);
  u32 s = t % 86400;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%02d %02u:%02u:%02u", d.month, d.day, (d.year - 2000) % 100,
                s / 3600, s / 60 % 60, s % 60);
  return buf;
}

void sdate(u32 t, bool write_rtc) {
  timec.store(t);
  plat->set_clock(t);
  for (int L = 0; L < 4; ++L) {
    set_next_loop_time(L);
    set_run_date(L);
  }
  next_time_sync.store(t / 60 * 60 + 3593);
  if (write_rtc) {
    Ymd d = day_to_ymd(t / 86400);
    u32 s = t % 86400;
    plat->rtc_write(11, 0x82);
    plat->rtc_write(0, bintobcd(u8(s % 60)));
    plat->rtc_write(2, bintobcd(u8(s / 60 % 60)));
    plat->rtc_write(4, bintobcd(u8(s / 3600)));
    plat->rtc_write(7, bintobcd(u8(d.day)));
    plat->rtc_write(8, bintobcd(u8(d.month)));
    plat->rtc_write(9, bintobcd(u8((d.year - 2000) % 100)));
    plat->rtc_write(11, 0x02);
  }
}

void slinux_date() {
  u8 regs[12];
  for (int tries = 0;; ++tries) {
    for (u8 r = 0; r < 12; ++r) regs[r] = plat->rtc_read(r);
    bool same = true;
    for (u8 r = 0; r < 10; ++r)
      if (plat->rtc_read(r) != regs[r]) same = false;
    if (same || tries > 100) break;  // an update happened in between: again
  }
  int year = bcdtobin(regs[9]), month = bcdtobin(regs[8]), day = bcdtobin(regs[7]);
  if (month < 1 || month > 12 || day < 1 || day > 31) {
    // An unset or failing clock chip: keep the present time, try in an hour.
    next_time_sync.store(timec.load() / 60 * 60 + 3593);
    return;
  }
  u32 days = ymd_to_day(2000 + year, month, day);
  u32 secs = days * 86400 + u32(bcdtobin(regs[4])) * 3600 + u32(bcdtobin(regs[2])) * 60 + bcdtobin(regs[0]);
  sdate(secs, false);
}
