// The real board: system clock, host name, child processes, I/O ports,
// "/dev/mem" register windows and the watchdog device. Used only with --board.
#include <fcntl.h>
#include <linux/watchdog.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/statfs.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__i386__) || defined(__x86_64__)
#include <sys/io.h>
#define QUOR_HAVE_IOPORTS 1
#endif

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/host.h"

namespace {

// Physical pages of the board registers.
constexpr off_t kRtcIndex = 0x10800000, kRtcData = 0x11700000;
constexpr off_t kWdtControl = 0x23800000, kWdtFeed = 0x23C00000;
constexpr off_t kPc104_8 = 0x11E00000;

class BoardPlatform : public Platform {
 public:
  BoardPlatform() {
    mem_fd_ = open("/dev/mem", O_RDWR | O_SYNC);
    if (mem_fd_ >= 0) {
      rtc_index_ = map(kRtcIndex);
      rtc_data_ = map(kRtcData);
      wdt_control_ = map(kWdtControl);
      wdt_feed_ = map(kWdtFeed);
      pc104_8_ = map(kPc104_8);
    }
#ifdef QUOR_HAVE_IOPORTS
    ports_ = iopl(3) == 0;
#endif
  }
  bool board() const override { return true; }

  void now(u32* sec, i32* usec) override {
    // On the board the system clock itself counts controller seconds.
    timeval tv;
    gettimeofday(&tv, nullptr);
    *sec = static_cast<u32>(tv.tv_sec);
    *usec = static_cast<i32>(tv.tv_usec);
  }
  void set_clock(u32 sec) override {
    timeval tv{static_cast<time_t>(sec), 0};
    settimeofday(&tv, nullptr);
  }
  int run_child(const std::vector<std::string>& argv, int wait_s) override {
    reap_children();
    if (argv.empty()) return 0;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      execv(args[0], args.data());
      _exit(127);
    }
    if (pid < 0) return 0;
    // Waited for in 50 ms steps, at most wait_s seconds; a child still
    // running afterwards is reaped by a later reap_children.
    for (int i = 0; i < wait_s * 20; ++i) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) return pid;
      usleep(50000);
    }
    children_.push_back(pid);
    return pid;
  }
  void reap_children() override {
    for (size_t i = 0; i < children_.size();) {
      pid_t r = waitpid(children_[i], nullptr, WNOHANG);
      if (r == children_[i] || (r < 0 && errno == ECHILD)) {
        children_[i] = children_.back();
        children_.pop_back();
      } else {
        ++i;
      }
    }
  }
  void write_hostname(const std::string& name) override {
    if (FILE* f = std::fopen("/proc/sys/kernel/hostname", "w")) {
      std::fputs(name.c_str(), f);
      std::fclose(f);
    }
  }
  u8 port_in(u16 port) override {
#ifdef QUOR_HAVE_IOPORTS
    if (ports_) return inb(port);
#endif
    (void)port;
    return 0xFF;
  }
  void port_out(u16 port, u8 value) override {
#ifdef QUOR_HAVE_IOPORTS
    if (ports_) outb(value, port);
#endif
    (void)port;
    (void)value;
  }
  u8 pc104_in(u16 port) override {
    return (pc104_8_ && port < 1024) ? pc104_8_[port] : 0xFF;
  }
  void pc104_out(u16 port, u8 value) override {
    if (pc104_8_ && port < 1024) pc104_8_[port] = value;
  }
  bool watchdog_open() override {
    if (wdt_ <= 0) {
      wdt_ = open("/dev/watchdog", O_RDWR);
      if (wdt_ < 0) wdt_ = 0;
    }
    return wdt_ > 0;
  }
  bool watchdog_is_open() const override { return wdt_ > 0; }
  void watchdog_request(int code) override {
    if (wdt_ <= 0) return;
    int arg = 0;
    switch (code) {
      case 0: arg = WDIOS_ENABLECARD; ioctl(wdt_, WDIOC_SETOPTIONS, &arg); break;
      case 1: ioctl(wdt_, WDIOC_KEEPALIVE, 0); break;
      case 2: arg = WDIOS_DISABLECARD; ioctl(wdt_, WDIOC_SETOPTIONS, &arg); break;
      default: break;
    }
  }
  void ts_watchdog(u8 feed, u8 control) override {
    if (wdt_feed_) *wdt_feed_ = feed;
    if (wdt_control_) *wdt_control_ = control;
  }
  void ts_feed(u8 feed) override {
    if (wdt_feed_) *wdt_feed_ = feed;
  }
  u8 rtc_read(u8 reg) override {
    if (!rtc_index_ || !rtc_data_) return 0;
    *rtc_index_ = reg;
    return *rtc_data_;
  }
  void rtc_write(u8 reg, u8 value) override {
    if (!rtc_index_ || !rtc_data_) return;
    *rtc_index_ = reg;
    *rtc_data_ = value;
  }
  unsigned long long free_disk_kib() override {
    struct statfs s;
    if (statfs("/", &s) != 0) return 0;
    return static_cast<unsigned long long>(s.f_bavail) * static_cast<unsigned long long>(s.f_bsize) / 1024;
  }
  void sync_disks() override { sync(); }

 private:
  volatile u8* map(off_t phys) {
    void* p = mmap(nullptr, size_t(getpagesize()), PROT_READ | PROT_WRITE, MAP_SHARED, mem_fd_, phys);
    return p == MAP_FAILED ? nullptr : static_cast<volatile u8*>(p);
  }
  std::vector<pid_t> children_;  // started and not yet reaped
  int mem_fd_ = -1;
  int wdt_ = 0;
  bool ports_ = false;
  volatile u8* rtc_index_ = nullptr;
  volatile u8* rtc_data_ = nullptr;
  volatile u8* wdt_control_ = nullptr;
  volatile u8* wdt_feed_ = nullptr;
  volatile u8* pc104_8_ = nullptr;
};

}  // namespace

std::unique_ptr<Platform> make_board_platform() { return std::make_unique<BoardPlatform>(); }
