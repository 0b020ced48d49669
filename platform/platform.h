// Everything that touches the machine goes through this interface. The host
// implementation (the default) simulates the board and records system
// actions in "host-actions.log"; the board implementation (--board) acts on
// the real hardware; tests use the fake with a manual clock.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "core/types.h"

class Platform {
 public:
  virtual ~Platform() = default;
  virtual bool board() const { return false; }

  // Controller clock: seconds since 1 January 2000 00:00:00 local time,
  // and microseconds within that second.
  virtual void now(u32* sec, i32* usec) = 0;
  // Sets the clock to sec (controller seconds) and 0 us.
  virtual void set_clock(u32 sec) = 0;
  // Waits up to timeout_us for one of fds to become readable or for wake().
  // Returns early on either; the wait is the only place the execution
  // thread sleeps.
  virtual void wait(const int* fds, int nfds, i32 timeout_us);
  // Wakes a wait() in progress (or the next one) at once.
  virtual void wake();

  // Child processes, the host name. run_child starts argv[0] with argv and
  // waits for it at most wait_s seconds; wait_s < 0 does not wait at all.
  // A child still running when the wait ends is reaped later by
  // reap_children, which never blocks. Returns the child's pid, 0 when none
  // was started (host mode, a failed fork).
  virtual int run_child(const std::vector<std::string>& argv, int wait_s) = 0;
  virtual void reap_children() {}
  virtual void write_hostname(const std::string& name) = 0;

  // x86 I/O ports (board watchdogs).
  virtual u8 port_in(u16 port) = 0;
  virtual void port_out(u16 port, u8 value) = 0;
  // PC/104 8-bit I/O window, ports 0..1023.
  virtual u8 pc104_in(u16 port) = 0;
  virtual void pc104_out(u16 port, u8 value) = 0;

  // The "/dev/watchdog" device: open, request (0 enable, 1 keep-alive,
  // 2 disable), and the TS7200 feed and control registers.
  virtual bool watchdog_open() = 0;
  virtual bool watchdog_is_open() const = 0;
  virtual void watchdog_request(int code) = 0;
  virtual void ts_watchdog(u8 feed, u8 control) = 0;
  virtual void ts_feed(u8 feed) = 0;

  // Battery-backed real-time clock registers (index, data).
  virtual u8 rtc_read(u8 reg) = 0;
  virtual void rtc_write(u8 reg, u8 value) = 0;

  // Free space on "/" in KiB, flushing the file systems (64 bits: disks
  // beyond 4 GiB of free space are common).
  virtual unsigned long long free_disk_kib() = 0;
  virtual void sync_disks() = 0;

 protected:
  Platform();
  int wake_fd_ = -1;  // eventfd behind wake()
};

// The platform in use; start-up installs the host or the board one.
extern Platform* plat;

std::unique_ptr<Platform> make_host_platform();
std::unique_ptr<Platform> make_board_platform();
