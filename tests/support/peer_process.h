// A peer program started for a test (a protocol peer, a mail server, socat):
// its standard output read line by line without blocking, its standard
// input a pipe it may wait on, ended by pid when the test is done.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

inline bool executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

class PeerProcess {
 public:
  PeerProcess() = default;
  // Started at once, its standard input a pipe it may wait on (a mail
  // server that ends when the pipe closes).
  explicit PeerProcess(const std::vector<std::string>& argv) { start(argv, true); }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;
  ~PeerProcess() { end(); }

  // stdin_pipe: standard input from a pipe held open until end(), instead
  // of the test's own (with a pipe there, the end of a Modbus peer was
  // noticed late by the controller).
  bool start(const std::vector<std::string>& argv, bool stdin_pipe = false) {
    end();
    eof_ = false;
    partial_.clear();
    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    if (pipe2(in, O_CLOEXEC) != 0) {
      close(out[0]);
      close(out[1]);
      return false;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    if (stdin_pipe) posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int rc = posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(in[0]);
    out_ = out[0];
    in_ = in[1];
    fcntl(out_, F_SETFL, O_NONBLOCK);
    if (rc != 0) pid_ = -1;
    return rc == 0;
  }
  // The next line of output, or "" after timeout_ms.
  std::string read_line(int timeout_ms = 3000) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      size_t nl = partial_.find('\n');
      if (nl != std::string::npos) {
        std::string line = partial_.substr(0, nl);
        partial_.erase(0, nl + 1);
        return line;
      }
      if (eof_ || std::chrono::steady_clock::now() >= until) return "";
      fill(50);
    }
  }
  // Complete lines received so far are appended to lines().
  void poll() {
    fill(0);
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

  void signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }
  // Stops the peer and waits until it has stopped; false if it never did.
  bool pause() {
    signal(SIGSTOP);
    std::string stat = "/proc/" + std::to_string(pid_) + "/stat";
    for (int i = 0; i < 1000; ++i) {
      char buf[512] = {};
      int fd = open(stat.c_str(), O_RDONLY);
      if (fd < 0) return false;
      ssize_t n = read(fd, buf, sizeof buf - 1);
      close(fd);
      // "pid (name) S ...": the state follows the closing parenthesis.
      const char* paren = n > 0 ? strrchr(buf, ')') : nullptr;
      if (paren && (paren[2] == 'T' || paren[2] == 't')) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  void end() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    for (int* fd : {&in_, &out_})
      if (*fd >= 0) {
        close(*fd);
        *fd = -1;
      }
  }
  pid_t pid() const { return pid_; }

 private:
  // Appends what is there, waiting up to ms for something.
  void fill(int ms) {
    if (out_ < 0) return;
    pollfd p{out_, POLLIN, 0};
    if (ms > 0 && ::poll(&p, 1, ms) <= 0) return;
    char buf[4096];
    ssize_t n;
    while ((n = read(out_, buf, sizeof buf)) > 0) partial_.append(buf, size_t(n));
    if (n == 0) eof_ = true;
  }
  pid_t pid_ = -1;
  int out_ = -1, in_ = -1;
  bool eof_ = false;
  std::string partial_;
  std::vector<std::string> lines_;
};

// Starts the Modbus TCP peer at path ("PATH tcp"): the port from the "port N"
// line it prints first, or 0 when it does not start or say so.
inline uint16_t start_tcp_peer(PeerProcess& peer, const std::string& path) {
  if (!peer.start({path, "tcp"})) return 0;
  std::string line = peer.read_line();
  return line.rfind("port ", 0) == 0 ? uint16_t(std::atoi(line.c_str() + 5)) : 0;
}
