// A full disk under the controller: its working directory is a small tmpfs,
// mounted in a user and mount namespace of its own, that the test fills up.
// Saving, uploading and the history writers then lose nothing: a save and an
// upload are refused and leave the previous file as it was, history records
// go on into the files made before, and once there is room again saving
// works.
#include <gtest/gtest.h>
#include <sched.h>
#include <cstring>
#include <sys/mount.h>

#include "bench/soak_run.h"

namespace {

bool write_file(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  return ::close(fd) == 0 && ok;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// The controller on a tmpfs of size_kib at dir, seen only by itself; the
// test reaches its files through /proc/PID/root.
class TmpfsController {
 public:
  // Returns an empty string, or why it could not be started.
  std::string start(const std::string& dir, u16 port, int size_kib, const std::string& program) {
    dir_ = dir;
    port_ = port;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return "pipe";
    const std::string bin = std::string(QUOR_BINARY_DIR) + "/quor", port_text = std::to_string(port);
    const std::string size = "size=" + std::to_string(size_kib) + "k";
    const std::string uid_map = "0 " + std::to_string(getuid()) + " 1";
    const std::string gid_map = "0 " + std::to_string(getgid()) + " 1";
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      auto fail = [&](const char* what) {
        std::string m = std::string(what) + ": " + std::strerror(errno);
        (void)!::write(fds[1], m.data(), m.size());
        _exit(126);
      };
      if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) fail("unshare");
      if (!write_file("/proc/self/setgroups", "deny") || !write_file("/proc/self/uid_map", uid_map) ||
          !write_file("/proc/self/gid_map", gid_map))
        fail("id maps");
      if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail("private mounts");
      if (mount("tmpfs", dir.c_str(), "tmpfs", 0, size.c_str()) != 0) fail("mount tmpfs");
      if (!write_file(dir + "/quor.qrn", program)) fail("program");
      execl(bin.c_str(), bin.c_str(), "--dir", dir.c_str(), "--port", port_text.c_str(), nullptr);
      fail("exec");
    }
    close(fds[1]);
    char buf[256];
    ssize_t n = read(fds[0], buf, sizeof buf);  // nothing: exec happened
    close(fds[0]);
    if (n > 0) {
      waitpid(pid_, nullptr, 0);
      pid_ = 0;
      return std::string(buf, size_t(n));
    }
    for (int i = 0; i < 500; ++i) {
      quorclient::Connection c;
      if (c.connect("127.0.0.1", port_, 100)) return "";
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "the controller does not listen";
  }
  ~TmpfsController() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  std::string path(const std::string& name) const {
    return "/proc/" + std::to_string(pid_) + "/root" + dir_ + "/" + name;
  }
  bool exists(const std::string& name) const { return access(path(name).c_str(), F_OK) == 0; }
  std::vector<std::string> names() const {
    std::vector<std::string> v;
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator(path(""), ec)) v.push_back(e.path().filename());
    return v;
  }
  bool running() const { return kill(pid_, 0) == 0; }
  u16 port() const { return port_; }

 private:
  std::string dir_;
  u16 port_ = 0;
  pid_t pid_ = 0;
};

std::string ask(quorclient::Connection& c, const std::string& line) {
  quorclient::Reply r;
  return c.command(line, r) ? r.first() : "(no reply)";
}

u32 newest_periodic(quorclient::Connection& c) {
  // bins|records|newest|...
  std::string s = ask(c, "sper|0");
  size_t a = s.find('|'), b = s.find('|', a + 1);
  return a == std::string::npos || b == std::string::npos ? 0 : u32(std::stoul(s.substr(b + 1)));
}

TEST(FaultFullDisk, SaveUploadAndHistoryLoseNothing) {
  QuorProcess scratch;  // only its temporary directory: the program is made there
  soak::Options o;
  o.formulas = 20;
  o.pids = 2;
  std::string err;
  ASSERT_TRUE(soak::write_program(scratch.dir(), free_port(), o, &err)) << err;
  const std::string program = read_file(scratch.path("quor.qrn"));
  const std::string mount_point = scratch.dir() + "/disk";
  ASSERT_TRUE(std::filesystem::create_directory(mount_point));

  TmpfsController q;
  std::string why = q.start(mount_point, free_port(), 1024, program);
  if (why.rfind("unshare", 0) == 0 || why.rfind("id maps", 0) == 0 || why.rfind("mount", 0) == 0)
    GTEST_SKIP() << "no private tmpfs here (" << why << "): user namespaces are needed to mount one";
  ASSERT_EQ(why, "");

  quorclient::Connection s;
  ASSERT_TRUE(s.connect("127.0.0.1", q.port()) && s.open_session());
  ASSERT_EQ(s.login(""), "prog");
  // The history files are built in the background: wait for the first records.
  for (int i = 0; i < 100 && newest_periodic(s) < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_GE(newest_periodic(s), 2u);
  ASSERT_EQ(ask(s, "save|quor.qrn"), "OK");
  const std::string saved = read_file(q.path("quor.qrn")), per = read_file(q.path("quor1.per"));
  ASSERT_GT(saved.size(), 1000u);

  // Fill the disk to the last block.
  {
    std::ofstream fill(q.path("filler"), std::ios::binary);
    std::string block(4096, 'x');
    while (fill.write(block.data(), block.size())) {
    }
  }
  ASSERT_EQ(std::filesystem::space(q.path("")).available, 0u);

  EXPECT_EQ(ask(s, "save|quor.qrn"), "fail");
  EXPECT_EQ(ask(s, "save|other.qrn"), "fail");
  std::string big(64 * 1024, 'u');
  quorclient::upload("127.0.0.1", q.port(), "quor.qrn", big);
  quorclient::upload("127.0.0.1", q.port(), "new.txt", big);
  // Records go on into the slots made when the file was built.
  u32 newest = newest_periodic(s);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_NE(newest_periodic(s), newest);

  EXPECT_EQ(read_file(q.path("quor.qrn")), saved);
  EXPECT_EQ(read_file(q.path("quor1.per")).size(), per.size());
  for (const std::string& name : q.names())
    EXPECT_TRUE(name == "quor.qrn" || name == "quor.qrn.bkup" || name == "filler" || name == "host-actions.log" ||
                name.rfind("quor1.", 0) == 0)
        << "left behind: " << name;
  EXPECT_EQ(ask(s, "status"), "Run");

  // Room again: saving works.
  std::filesystem::remove(q.path("filler"));
  EXPECT_EQ(ask(s, "save|quor.qrn"), "OK");
  EXPECT_EQ(read_file(q.path("quor.qrn")), saved);
  EXPECT_TRUE(q.running());
}

}  // namespace
