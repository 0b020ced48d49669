#include "io/slave_link.h"

#include <sys/socket.h>

#include <unistd.h>

#include <cerrno>

namespace {

// Bytes sent, or -1 when the connection is broken.
ssize_t send_some(const IO_def* c, const void* bytes, size_t length) {
  if (length == 0) return 0;
  ssize_t n = c->serial() ? write(c->descriptor, bytes, length)
                          : send(c->descriptor, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n >= 0) return n;
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

}  // namespace

bool slave_flush(IO_def* c) {
  if (c->output.empty()) return true;
  ssize_t n = send_some(c, c->output.data(), c->output.size());
  if (n < 0) return false;
  c->output.erase(0, size_t(n));
  return true;
}

bool slave_send(IO_def* c, const u8* bytes, size_t length, bool queue) {
  if (c->descriptor <= 0 || !slave_flush(c)) return false;
  if (!c->output.empty()) {
    if (!queue) return false;
    c->output.append(reinterpret_cast<const char*>(bytes), length);
    return true;
  }
  ssize_t n = send_some(c, bytes, length);
  if (n < 0) return false;
  if (size_t(n) == length) return true;
  if (!queue) return false;
  c->output.append(reinterpret_cast<const char*>(bytes) + n, length - size_t(n));
  return true;
}
