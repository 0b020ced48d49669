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
  offset_.store(static_cast<i32>(sec - h), std::memory_order_relaxed);
  record("settimeofday " + std::to_string(sec));
}

void HostPlatform::run_child(const std::vector<std::string>& argv) {
  std::string line;
  for (const auto& a : argv) {
    if (!line.empty()) line += ' ';
    line += a;
  }
  record(line);
}

void HostPlatform::write_hostname(const std::string& name) { record("hostname " + name); }

u8 HostPlatform::pc104_in(u16 port) { return port < 1024 ? pc104_[port].load() : 0xFF; }

void HostPlatform::pc104_out(u16 port, u8 value) {
  if (port < 1024) pc104_[port].store(value);
}

u8 HostPlatform::rtc_read(u8 reg) { return rtc_[reg & 127].load(); }
void HostPlatform::rtc_write(u8 reg, u8 value) { rtc_[reg & 127].store(value); }

unsigned long long HostPlatform::free_disk_kib() {
  struct statfs s;
  if (statfs(".", &s) != 0) return 0;
  return static_cast<unsigned long long>(s.f_bavail) * static_cast<unsigned long long>(s.f_bsize) / 1024;
}

std::unique_ptr<Platform> make_host_platform() { return std::make_unique<HostPlatform>(); }
