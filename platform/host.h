// Host mode: the board simulated on an ordinary Linux machine. System
// actions are recorded, one line each, in "host-actions.log" in the working
// directory; nothing is executed and the host is never changed.
#pragma once
#include <array>
#include <atomic>

#include "platform/platform.h"

class HostPlatform : public Platform {
 public:
  void now(u32* sec, i32* usec) override;
  void set_clock(u32 sec) override;
  int run_child(const std::vector<std::string>& argv, int wait_s) override;
  void write_hostname(const std::string& name) override;
  u8 port_in(u16) override { return 0xFF; }
  void port_out(u16, u8) override {}
  u8 pc104_in(u16 port) override;
  void pc104_out(u16 port, u8 value) override;
  bool watchdog_open() override { return wd_open_ = true; }
  bool watchdog_is_open() const override { return wd_open_; }
  void watchdog_request(int) override {}
  void ts_watchdog(u8, u8) override {}
  void ts_feed(u8) override {}
  // The simulated clock chip runs with the controller clock (so the hourly
  // resynchronisation never moves it) until its time registers are written.
  u8 rtc_read(u8 reg) override;
  void rtc_write(u8 reg, u8 value) override;
  unsigned long long free_disk_kib() override;
  void sync_disks() override {}

  // Appends one line to host-actions.log.
  static void record(const std::string& line);

 protected:
  // Controller seconds of the host clock, without the offset.
  static void host_now(u32* sec, i32* usec);
  std::atomic<i32> offset_{0};  // moved by set_clock
  std::array<std::atomic<u8>, 1024> pc104_{};
  std::array<std::atomic<u8>, 128> rtc_{};
  std::atomic<long long> chip_offset_{0};  // clock chip time - controller time
  bool wd_open_ = false;
};
