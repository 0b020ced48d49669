#include "platform/host.h"

#include <sys/statfs.h>
#include <sys/time.h>

#include <cstdio>
#include <ctime>
#include <mutex>

namespace {
// Seconds from 1970-01-01 UTC to 2000-01-01 UTC.
constexpr long long kEpoch2000 = 946684800LL;
std::mutex log_mutex;
}  // namespace

void HostPlatform::record(const std::string& line) {
  std::lock_guard g(log_mutex);
  if (FILE* f = std::fopen("host-actions.log", "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

void HostPlatform::host_now(u32* sec, i32* usec) {
  // The local-time offset is read again once a minute, not on every call:
  // the execution thread reads the clock between every two instructions.
  static std::atomic<long long> next_check{0};
  static std::atomic<long> gmtoff{0};
  timeval tv;
  gettimeofday(&tv, nullptr);
  if (tv.tv_sec >= next_check.load(std::memory_order_relaxed)) {
    tm lt;
    time_t t = tv.tv_sec;
    localtime_r(&t, &lt);
    gmtoff.store(lt.tm_gmtoff, std::memory_order_relaxed);
    next_check.store(tv.tv_sec + 60 - tv.tv_sec % 60, std::memory_order_relaxed);
  }
  *sec = static_cast<u32>(tv.tv_sec + gmtoff.load(std::memory_order_relaxed) - kEpoch2000);
  *usec = static_cast<i32>(tv.tv_usec);
}

void HostPlatform::now(u32* sec, i32* usec) {
  host_now(sec, usec);
  *sec += static_cast<u32>(offset_.load(std::memory_order_relaxed));
}

void HostPlatform::set_clock(u32 sec) {
  u32 h;
  i32 us;
  host_now(&h, &us);
  // The in-process clock jumps to sec; the host clock is left alone. The
  // microseconds of the host clock carry on, which stays within the second.
  // A set to the present second (the clock chip, which follows this clock,
  // read a moment ago) leaves the clock alone: it would only step it back.
  const i32 off = offset_.load(std::memory_order_relaxed);
  const i32 diff = static_cast<i32>(sec - (h + static_cast<u32>(off)));
  if (diff < -1 || diff > 0) offset_.store(static_cast<i32>(sec - h), std::memory_order_relaxed);
  record("settimeofday " + std::to_string(sec));
}

int HostPlatform::run_child(const std::vector<std::string>& argv, int) {
  std::string line;
  for (const auto& a : argv) {
    if (!line.empty()) line += ' ';
    line += a;
  }
  record(line);
  return 0;
}

void HostPlatform::write_hostname(const std::string& name) { record("hostname " + name); }

u8 HostPlatform::pc104_in(u16 port) { return port < 1024 ? pc104_[port].load() : 0xFF; }

void HostPlatform::pc104_out(u16 port, u8 value) {
  if (port < 1024) pc104_[port].store(value);
}

namespace {

constexpr u16 kCum[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
constexpr u16 kYearStart[5] = {0, 366, 731, 1096, 1461};
u8 to_bcd(u32 v) { return u8(((v / 10 % 10) << 4) | (v % 10)); }
u32 from_bcd(u8 b) { return u32(b >> 4) * 10 + (b & 0x0F); }

// Clock chip registers 0 seconds, 2 minutes, 4 hours, 7 day, 8 month,
// 9 year (BCD) of controller seconds t, every fourth year a leap year.
void split(u32 t, u8 r[10]) {
  const u32 s = t % 86400, days = t / 86400, quad = days / 1461;
  u32 rest = days % 1461, y = 0;
  while (y < 3 && rest >= kYearStart[y + 1]) ++y;
  rest -= kYearStart[y];
  const bool leap = y == 0;
  auto start = [&](u32 m) { return kCum[m] + (leap && m >= 2 ? 1u : 0u); };
  u32 m = 11;
  while (m > 0 && rest < start(m)) --m;
  r[0] = to_bcd(s % 60);
  r[2] = to_bcd(s / 60 % 60);
  r[4] = to_bcd(s / 3600);
  r[7] = to_bcd(rest - start(m) + 1);
  r[8] = to_bcd(m + 1);
  r[9] = to_bcd((quad * 4 + y) % 100);
}

long long join(const u8 r[10]) {
  const u32 y = from_bcd(r[9]), m = from_bcd(r[8]) < 1 ? 1 : from_bcd(r[8]) > 12 ? 12 : from_bcd(r[8]);
  long long days = y / 4 * 1461LL + kYearStart[y % 4] + from_bcd(r[7]) - 1 + kCum[m - 1] + (m > 2 && y % 4 == 0);
  return days * 86400 + from_bcd(r[4]) * 3600LL + from_bcd(r[2]) * 60LL + from_bcd(r[0]);
}

}  // namespace

// The simulated chip keeps time as an offset from the controller clock: 0
// until its time registers are written, so it follows the clock.
u8 HostPlatform::rtc_read(u8 reg) {
  reg &= 127;
  if (reg > 9) return rtc_[reg].load();
  u32 t;
  i32 us;
  now(&t, &us);
  u8 r[10]{};
  split(static_cast<u32>(t + chip_offset_.load()), r);
  return r[reg];
}

void HostPlatform::rtc_write(u8 reg, u8 value) {
  reg &= 127;
  if (reg > 9 || (reg != 0 && reg != 2 && reg != 4 && reg != 7 && reg != 8 && reg != 9)) {
    rtc_[reg].store(value);
    return;
  }
  u32 t;
  i32 us;
  now(&t, &us);
  u8 r[10]{};
  split(static_cast<u32>(t + chip_offset_.load()), r);
  r[reg] = value;
  chip_offset_.store(join(r) - t);
}

unsigned long long HostPlatform::free_disk_kib() {
  struct statfs s;
  if (statfs(".", &s) != 0) return 0;
  return static_cast<unsigned long long>(s.f_bavail) * static_cast<unsigned long long>(s.f_bsize) / 1024;
}

std::unique_ptr<Platform> make_host_platform() { return std::make_unique<HostPlatform>(); }
