// A peer program started for a test (a Python mail server): its output read
// line by line without blocking, ended by pid when the test is done.
#pragma once
#include "tests/support/free_port.h"
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

class PeerProcess {
 public:
  explicit PeerProcess(std::vector<std::string> argv) {
    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(in[0], 0);
      std::vector<char*> a;
      for (auto& s : argv) a.push_back(s.data());
      a.push_back(nullptr);
      execv(a[0], a.data());
      _exit(127);
    }
    close(out[1]);
    close(in[0]);
    out_ = out[0];
    in_ = in[1];
    fcntl(out_, F_SETFL, O_NONBLOCK);
  }
  ~PeerProcess() {
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Complete lines received so far are appended to lines().
  void poll() {
    char buf[4096];
    ssize_t n;
    while ((n = read(out_, buf, sizeof buf)) > 0) partial_.append(buf, size_t(n));
    size_t nl;
    while ((nl = partial_.find('\n')) != std::string::npos) {
      lines_.push_back(partial_.substr(0, nl));
      partial_.erase(0, nl + 1);
    }
  }
  // Waits up to ms for a line equal to text.
  bool wait_for(const std::string& text, int ms) {
    for (int i = 0; i < ms / 10; ++i) {
      poll();
      for (auto& l : lines_)
        if (l == text) return true;
      usleep(10000);
    }
    return false;
  }
  std::vector<std::string>& lines() { return lines_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1, in_ = -1;
  std::string partial_;
  std::vector<std::string> lines_;
};

