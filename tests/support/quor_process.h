// Starts the real controller binary on a free loopback port in a fresh
// temporary directory, and ends it (by pid) when the object goes.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/free_port.h"
#include "tools/client/client.h"


// How a controller run that was expected to end by itself ended.
struct QuorExit {
  int status = -1;  // exit status; -1 if it was still running (then ended)
  std::string err;  // what it wrote on stderr
};

// Runs bin with exactly args (no --dir or --port of its own) in directory
// cwd and waits up to wait_ms for it to end. before_exec runs in the child
// (resource limits).
inline QuorExit run_to_exit(const std::string& bin, std::vector<std::string> args,
                            const std::string& cwd, void (*before_exec)() = nullptr,
                            int wait_ms = 10000) {
  QuorExit r;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return r;
  args.insert(args.begin(), bin);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 2);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    if (before_exec) before_exec();
    execv(bin.c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  char buf[512];
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    pollfd p{fds[0], POLLIN, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0) break;
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;  // stderr closed: the process has ended
    r.err.append(buf, size_t(n));
  }
  close(fds[0]);
  int st = 0;
  pid_t done = 0;
  while ((done = waitpid(pid, &st, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (done != pid) {  // still running
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
    return r;
  }
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

#ifdef QUOR_BINARY_DIR
// Runs the command-line client against a controller on port; returns its
// exit status (-1 when it did not exit), its standard output in *out.
inline int run_quorctl(uint16_t port, const std::string& args, std::string* out = nullptr) {
  std::string cmd = std::string(QUOR_BINARY_DIR) + "/quorctl --port " + std::to_string(port) + " " + args +
                    " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int st = pclose(p);
  if (out) *out = text;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}
#endif

class QuorProcess {
 public:
#ifdef QUOR_BINARY_DIR
  QuorProcess() : QuorProcess(std::string(QUOR_BINARY_DIR) + "/quor") {}
#endif
  explicit QuorProcess(std::string bin) : bin_(std::move(bin)) {
    char tmpl[] = "/tmp/quor_it_XXXXXX";
    dir_ = mkdtemp(tmpl);
    port_ = free_port();
  }
  ~QuorProcess() {
    stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  // extra: further command-line options (such as "--serial", "2=PATH").
  bool start(const std::vector<std::string>& extra = {}) {
    const std::string& bin = bin_;
    std::string port = std::to_string(port_);
    std::vector<std::string> args = {bin, "--dir", dir_, "--port", port};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      execv(bin.c_str(), argv.data());
      _exit(127);
    }
    for (int i = 0; i < 500; ++i) {
      quorclient::Connection c;
      if (c.connect("127.0.0.1", port_, 100)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int st;
    waitpid(pid_, &st, 0);
    pid_ = 0;
  }
  // A session, opened ("ok" received) or not open on failure.
  quorclient::Connection session() {
    quorclient::Connection c;
    if (!c.connect("127.0.0.1", port_) || !c.open_session()) c.close();
    return c;
  }
  quorclient::Connection connect() {
    quorclient::Connection c;
    c.connect("127.0.0.1", port_);
    return c;
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& data) const {
    std::ofstream(path(name), std::ios::binary) << data;
  }
  std::string read(const std::string& name) const {
    std::ifstream f(path(name), std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(path(name)); }
  const std::string& dir() const { return dir_; }
  uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }

 private:
  std::string bin_;
  std::string dir_;
  uint16_t port_ = 0;
  pid_t pid_ = 0;
};
