// Two pseudo-terminals joined by socat, linked as DIR/ctl (the controller's
// end) and DIR/dev (the device's end) in a fresh temporary directory.
#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/peer_process.h"

class PtyPair {
 public:
  static constexpr const char* kSocat = "/usr/bin/socat";
  static bool available() { return executable(kSocat); }

  ~PtyPair() {
    socat_.end();
    if (holder_ >= 0) close(holder_);
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  // False if socat did not bring both ends up.
  bool start() {
    char tmpl[] = "/tmp/quor-pty-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    dir_ = tmpl;
    if (!socat_.start({kSocat, "PTY,link=" + ctl() + ",raw,echo=0", "PTY,link=" + dev() + ",raw,echo=0"}))
      return false;
    struct stat st;
    for (int i = 0; i < 300 && (lstat(ctl().c_str(), &st) || lstat(dev().c_str(), &st)); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Held open so that the controller re-opening its end never leaves the
    // pty without a reader (socat would end).
    holder_ = open(ctl().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    return holder_ >= 0 && lstat(dev().c_str(), &st) == 0;
  }
  std::string ctl() const { return dir_ + "/ctl"; }
  std::string dev() const { return dir_ + "/dev"; }
  // The device's end, non-blocking and raw; -1 on failure.
  int open_dev(int mode = O_RDWR) const {
    int fd = open(dev().c_str(), mode | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
  }

 private:
  std::string dir_;
  PeerProcess socat_;
  int holder_ = -1;
};
