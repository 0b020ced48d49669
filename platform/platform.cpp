#include "platform/platform.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

Platform* plat = nullptr;

Platform::Platform() { wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

void Platform::wait(const int* fds, int nfds, i32 timeout_us) {
  if (timeout_us <= 0) return;
  pollfd p[65];
  int n = 0;
  if (wake_fd_ >= 0) p[n++] = {wake_fd_, POLLIN, 0};
  for (int i = 0; i < nfds && n < 65; ++i)
    if (fds[i] > 0) p[n++] = {fds[i], POLLIN, 0};
  timespec ts{timeout_us / 1000000, long(timeout_us % 1000000) * 1000};
  if (ppoll(p, nfds_t(n), &ts, nullptr) > 0 && wake_fd_ >= 0 && (p[0].revents & POLLIN)) {
    uint64_t v;
    (void)!read(wake_fd_, &v, sizeof v);
  }
}

void Platform::wake() {
  if (wake_fd_ < 0) return;
  uint64_t one = 1;
  (void)!write(wake_fd_, &one, sizeof one);
}
