#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include "core/startup.h"
#include "tests/support/quor_process.h"
#include "tests/support/temp_dir.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUOR_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUOR_SANITIZED 1
#endif
#endif

namespace {
int parse(std::vector<std::string> args, Options& o) {
  std::vector<char*> argv{const_cast<char*>("quor")};
  for (auto& a : args) argv.push_back(a.data());
  return parse_options(int(argv.size()), argv.data(), o);
}
}  // namespace

TEST(CommandLine, OptionsAndErrors) {
  Options o, d;
  EXPECT_EQ(parse({"--dir", "/tmp/x", "--port", "8080", "--serial", "2=/dev/pts/7", "--board", "--realtime"}, o), -1);
  EXPECT_EQ(std::tie(o.dir, o.port, o.serial[0], o.serial[1], o.board, o.realtime),
            std::make_tuple("/tmp/x", 8080, "/dev/ttyS0", "/dev/pts/7", true, true));
  EXPECT_EQ(parse({}, d), -1);
  EXPECT_EQ(std::tie(d.dir, d.port, d.board, d.realtime), std::make_tuple("/home/quor/", -1, false, false));

  testing::internal::CaptureStderr();
  for (auto bad : std::vector<std::vector<std::string>>{
           {"--what"}, {"--port"}, {"--port", "0"}, {"--port", "70000"}, {"--port", "12x"},
           {"--port", "-5"}, {"--serial", "5=/dev/x"}, {"--serial", "1="}, {"--serial", "1/dev"}, {"--dir"}}) {
    Options b;
    EXPECT_EQ(parse(bad, b), 2) << bad[0];
  }
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("quor:"), std::string::npos);

  testing::internal::CaptureStdout();
  Options h;
  EXPECT_EQ(parse({"--help"}, h), 0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("usage: quor"), std::string::npos);
}

TEST(CommandLine, WorkingDirectoryIsCreated) {
  Options saved = options;
  {
    InTempDir tmp;
    options.dir = tmp.path() + "/a/b";
    EXPECT_NE(set_path(), 0);
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(tmp.path() + "/a/b"));
  }
  options = saved;
}

namespace {
// In the child: a thread's stack (the stack limit) no longer fits in the
// address space the process may have, so the execution thread cannot start.
void no_room_for_threads() {
  rlimit stack{256u << 20, 256u << 20}, space{128u << 20, 128u << 20};
  setrlimit(RLIMIT_STACK, &stack);
  setrlimit(RLIMIT_AS, &space);
}
}  // namespace

// Each ends the process at once with status 1 and one line on stderr, and
// nothing is written in the directory it was started from.
TEST(CommandLine, StartupFailuresEndWithStatus1) {
  namespace fs = std::filesystem;
  InTempDir tmp;
  const fs::path base = tmp.path();
  fs::create_directories(base / "cwd");
  fs::create_directories(base / "locked");
  std::ofstream(base / "file") << "x";
  fs::permissions(base / "locked", fs::perms::none);
  const bool root = geteuid() == 0;  // permissions do not bind root

  // A listener on the port the controller is told to use.
  uint16_t taken = 0;
  int busy = listen_loopback(1, &taken);
  ASSERT_GE(busy, 0);
  const std::string busy_port = std::to_string(taken);
  const std::string port = std::to_string(free_port());

  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* message;
    bool skip;
    void (*before_exec)() = nullptr;
  };
  const Case cases[] = {
      {"--dir under a regular file", {"--dir", (base / "file" / "sub").string(), "--port", port},
       "quor: cannot use working directory", false},
      {"--dir naming a regular file", {"--dir", (base / "file").string(), "--port", port},
       "quor: cannot use working directory", false},
      {"--dir without permission", {"--dir", (base / "locked" / "sub").string(), "--port", port},
       "quor: cannot use working directory", root},
      {"user port in use", {"--dir", (base / "run1").string(), "--port", busy_port},
       "quor: cannot listen on port", false},
#ifndef QUOR_SANITIZED  // the sanitizers need far more address space
      {"no execution thread", {"--dir", (base / "run2").string(), "--port", port},
       "quor: cannot start the execution thread", false, &no_room_for_threads},
#endif
  };
  for (const Case& c : cases) {
    if (c.skip) continue;
    QuorExit r = run_to_exit(QUOR_BINARY_DIR "/quor", c.args, (base / "cwd").string(), c.before_exec);
    EXPECT_EQ(r.status, 1) << c.what << ": " << r.err;
    EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << c.what << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
    EXPECT_TRUE(fs::is_empty(base / "cwd")) << c.what;
  }
  close(busy);
  fs::permissions(base / "locked", fs::perms::owner_all);
}

// Once running the controller says so in one line on stderr: version,
// working directory, listening address, the program it loaded; asked to
// stop, it says so and ends with status 0.
TEST(CommandLine, StartupAndStopLines) {
  namespace fs = std::filesystem;
  InTempDir tmp;
  const fs::path dir = tmp.path();
  const std::string port = std::to_string(free_port());
  auto put = [&](const char* name, const std::string& data) { std::ofstream(dir / name, std::ios::binary) << data; };
  struct Case {
    std::function<void()> before;
    const char* program;
    bool save;  // save the program while it runs
  };
  const Case cases[] = {
      {[] {}, "no stored program: the empty default program", true},
      {[] {}, "program quor.qrn", false},
      {[&] {
         fs::copy_file(dir / "quor.qrn", dir / "quor.qrn.bkup", fs::copy_options::overwrite_existing);
         put("quor.qrn", "not a program");
       },
       "program quor.qrn.bkup (quor.qrn could not be loaded)", false},
      {[&] { fs::remove(dir / "quor.qrn.bkup"); }, "quor.qrn could not be loaded: the empty default program", false},
  };
  for (const Case& c : cases) {
    c.before();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
      dup2(fds[1], 2);
      execl(QUOR_BINARY_DIR "/quor", "quor", "--dir", dir.c_str(), "--port", port.c_str(), nullptr);
      _exit(127);
    }
    close(fds[1]);
    std::string err;
    char ch;
    while (err.find('\n') == std::string::npos && read(fds[0], &ch, 1) == 1) err += ch;
    EXPECT_EQ(err, "quor 0.946: working directory " + fs::canonical(dir).string() + ", listening on 127.0.0.1:" +
                       port + ", " + c.program + ", host mode\n");
    if (c.save) {
      quorclient::Connection s;
      ASSERT_TRUE(s.connect("127.0.0.1", uint16_t(std::stoi(port))) && s.open_session());
      ASSERT_EQ(s.login(""), "prog");
      quorclient::Reply r;
      ASSERT_TRUE(s.command("save|quor.qrn", r));
    }
    kill(pid, SIGTERM);
    std::string rest;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) rest.append(buf, size_t(n));
    close(fds[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << st;
    EXPECT_EQ(rest, "quor: stopped by signal 15 (Terminated)\n");
  }
}
