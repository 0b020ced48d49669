#include "tools/quorc/host_work.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "tools/quorc/quorc.h"

namespace quorc {

HostWork::HostWork() {
  home_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  char tmpl[] = "/tmp/quorc_work_XXXXXX";
  if (home_ < 0 || !mkdtemp(tmpl)) return;
  path_ = tmpl;
  if (chdir(path_.c_str()) != 0) return;
  static const bool set_up = (host_setup(), true);
  ok_ = set_up;
}

HostWork::~HostWork() {
  if (home_ >= 0) {
    if (fchdir(home_) != 0 && chdir("/") != 0) {
    }
    close(home_);
  }
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

}  // namespace quorc
