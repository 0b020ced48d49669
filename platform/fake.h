// A platform for tests: a manual clock, recorded actions, simulated ports.
#pragma once
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/host.h"

class FakePlatform : public HostPlatform {
 public:
  void now(u32* sec, i32* usec) override {
    *sec = sec_.load();
    *usec = usec_.load();
  }
  void set_clock(u32 sec) override {
    sec_ = sec;
    usec_ = 0;
    log("settimeofday " + std::to_string(sec));
  }
  // Real waiting stays short: the manual clock does not move by itself.
  void wait(const int* fds, int n, i32 us) override { Platform::wait(fds, n, us > 1000 ? 1000 : us); }
  int run_child(const std::vector<std::string>& argv, int wait_s) override {
    std::string s;
    for (auto& a : argv) s += (s.empty() ? "" : " ") + a;
    log(s);
    last_wait_s = wait_s;
    return 0;
  }
  // Board registers and ports, recorded in the order touched: "inb 0x443",
  // "outb 0x3f0 0x87", "wdt open", "wdt 1", "ts 0x5 0x7", "ts feed 0x5".
  // Only while record_ports is set (feeding would fill the list).
  u8 port_in(u16 port) override {
    if (record_ports) log("inb " + hex(port));
    return 0;
  }
  void port_out(u16 port, u8 value) override {
    if (record_ports) log("outb " + hex(port) + " " + hex(value));
  }
  bool watchdog_open() override {
    if (record_ports) log("wdt open");
    return HostPlatform::watchdog_open();
  }
  void watchdog_request(int code) override {
    if (record_ports) log("wdt " + std::to_string(code));
  }
  void ts_watchdog(u8 feed, u8 control) override {
    if (record_ports) log("ts " + hex(feed) + " " + hex(control));
  }
  void ts_feed(u8 feed) override {
    if (record_ports) log("ts feed " + hex(feed));
  }
  void sync_disks() override { log("sync"); }
  void clear_actions() {
    std::lock_guard g(m_);
    actions_.clear();
  }
  void write_hostname(const std::string& name) override { log("hostname " + name); }
  unsigned long long free_disk_kib() override { return free_kib; }

  // Clock control.
  void set(u32 sec, i32 usec) {
    sec_ = sec;
    usec_ = usec;
  }
  void advance_us(long long us) {
    long long t = (long long)sec_.load() * 1000000 + usec_.load() + us;
    sec_ = u32(t / 1000000);
    usec_ = i32(t % 1000000);
  }
  std::vector<std::string> actions() {
    std::lock_guard g(m_);
    return actions_;
  }
  unsigned long long free_kib = 1u << 20;
  std::atomic<bool> record_ports{false};
  int last_wait_s = 0;

 private:
  static std::string hex(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%x", v);
    return b;
  }
  void log(const std::string& s) {
    std::lock_guard g(m_);
    actions_.push_back(s);
  }
  std::atomic<u32> sec_{0};
  std::atomic<i32> usec_{0};
  std::mutex m_;
  std::vector<std::string> actions_;
};
