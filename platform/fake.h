// A platform for tests: a manual clock, recorded actions, simulated ports.
#pragma once
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
  void run_child(const std::vector<std::string>& argv) override {
    std::string s;
    for (auto& a : argv) s += (s.empty() ? "" : " ") + a;
    log(s);
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

 private:
  void log(const std::string& s) {
    std::lock_guard g(m_);
    actions_.push_back(s);
  }
  std::atomic<u32> sec_{0};
  std::atomic<i32> usec_{0};
  std::mutex m_;
  std::vector<std::string> actions_;
};
