// The controller library as a host tool, inside a private work directory:
// whatever the library records by name (host actions) lands there and goes
// with it. The caller's working directory is restored afterwards, so paths
// the caller holds keep their meaning once the work is done.
#pragma once
#include <string>

namespace quorc {

class HostWork {
 public:
  // Makes the directory, enters it and sets the library up (host_setup, the
  // first time in a process). ok() is false when any of that failed.
  HostWork();
  ~HostWork();
  HostWork(const HostWork&) = delete;
  HostWork& operator=(const HostWork&) = delete;
  bool ok() const { return ok_; }

 private:
  std::string path_;
  int home_ = -1;  // the caller's directory, to return to
  bool ok_ = false;
};

}  // namespace quorc
