// File commands on the working directory: "fdel", "fren", "fcopy", "fdir",
// "gdisk", "flen". Every name must stay inside the working directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "hmi/commands.h"
#include "history/history.h"
#include "net/files.h"
#include "net/user_port.h"
#include "platform/platform.h"

namespace {

constexpr size_t kCopyStep = 1 << 20;  // bytes copied per pass

// A copy in steps into a temporary file, renamed over the target when
// complete: a failure never leaves a partial or emptied target.
struct Copy {
  int from = -1, to = -1;
  std::string tmp, target;
  ~Copy() {
    if (from >= 0) close(from);
    if (to >= 0) close(to);
    if (!tmp.empty()) unlink(tmp.c_str());
  }
  // 1: more to do, 0: done, -1: failed.
  int step() {
    static char buf[64 * 1024];
    for (size_t moved = 0; moved < kCopyStep;) {
      ssize_t n = read(from, buf, sizeof buf);
      if (n < 0) return -1;
      if (n == 0) {
        bool ok = fsync(to) == 0;
        ok = close(to) == 0 && ok;
        to = -1;
        if (!ok || std::rename(tmp.c_str(), target.c_str()) != 0) return -1;
        tmp.clear();
        hist_files_changed();
        return 0;
      }
      for (ssize_t done = 0; done < n;) {
        ssize_t w = write(to, buf + done, size_t(n - done));
        if (w <= 0) return -1;
        done += w;
      }
      moved += size_t(n);
    }
    return 1;
  }
};

}  // namespace

void cmd_fdel(HmiCommand& c) {
  del_file(c.text.c_str());
  hist_files_changed();
  reply_one(c.slot, "OK");
}

void cmd_fren(HmiCommand& c) {
  ren_file(c.text.c_str(), c.text2.c_str());
  hist_files_changed();
  reply_one(c.slot, "OK");
}

void cmd_fcopy(HmiCommand& c) {
  const std::string& src = c.text;
  const std::string& dst = c.text2;
  if (!client_name_ok(src) || !client_name_ok(dst) || src == dst) return reply_fail(c.slot);
  auto copy = std::make_shared<Copy>();
  struct stat a {}, b {};
  copy->from = open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (copy->from < 0 || fstat(copy->from, &a) != 0 || !S_ISREG(a.st_mode)) return reply_fail(c.slot);
  if (stat(dst.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino) return reply_fail(c.slot);
  copy->target = dst;
  copy->tmp = dst + ".copy.tmp";
  copy->to = open(copy->tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (copy->to < 0) {
    copy->tmp.clear();
    return reply_fail(c.slot);
  }
  auto more = [copy](int slot) {
    int r = copy->step();
    if (r > 0) return true;
    reply_one(slot, r == 0 ? "OK" : "fail");
    return false;
  };
  if (more(c.slot)) slot_continue(c.slot, more);
}

void cmd_fdir(HmiCommand& c) {
  if (!get_dir(c.slot)) reply_fail(c.slot);
}

void cmd_gdisk(HmiCommand& c) {
  reply_one(c.slot, std::to_string(plat ? plat->free_disk_kib() : 0ULL));
}

void cmd_flen(HmiCommand& c) {
  if (!client_name_ok(c.text)) return reply_fail(c.slot);
  unsigned long long size = 0;
  u32 mtime = 0;
  flen(c.text.c_str(), &size, &mtime);
  reply_one(c.slot, std::to_string(size) + "|" + std::to_string(mtime));
}
