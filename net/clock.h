// The controller's time base: seconds since 1 January 2000 00:00:00 local
// time, the real-time clock, and date text.
#pragma once
#include <string>

#include "core/types.h"

// Sets the clock to t seconds, reschedules every loop and, with write_rtc,
// writes the battery-backed real-time clock.
void sdate(u32 t, bool write_rtc);
// Reads the real-time clock and sets the clock from it.
void slinux_date();
// "MM/DD/YY hh:mm:ss" of controller seconds t.
std::string get_date(u32 t);

u8 bintobcd(u8 b);
u8 bcdtobin(u8 b);
void bcdtostring(std::string& text, u8 b);

// Calendar split of a day number (day 0 = 1 January 2000).
struct Ymd {
  int year;   // full year, e.g. 2004
  int month;  // 1..12
  int day;    // 1..31
};
Ymd day_to_ymd(u32 days);
// Days since 1 January 2000 of a date (year 2000..2135).
u32 ymd_to_day(int year, int month, int day);
