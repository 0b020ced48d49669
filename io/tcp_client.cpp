#include "io/tcp_client.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "net/sockets.h"

bool tcp_transient(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINTR; }

void tcp_client_drop(IO_def* p) {
  close_fd(p->descriptor);
  p->line_flag = 0;
}

bool tcp_client_connect(IO_def* p) {
  for (int round = 0; round < 2; ++round) {
    if (p->idle_countdown == 0) tcp_client_drop(p);
    if (!p->descriptor) {
      p->idle_countdown = IO_IDLE_SECONDS;
      p->descriptor = Port_out(p->ip_port, p->address.c_str(), &p->peer);
      p->line_flag = 0;
      if (!p->descriptor) return false;
    }
    if (!p->line_flag) {
      if (connect(p->descriptor, reinterpret_cast<sockaddr*>(&p->peer), sizeof p->peer) != 0 &&
          errno != EISCONN) {
        // Refused or unreachable: no connection for this attempt.
        if (errno != EINPROGRESS && errno != EALREADY && errno != EINTR) tcp_client_drop(p);
        return false;
      }
      p->line_flag = 1;
      return true;
    }
    // A late reply to an earlier request must not pass for this one.
    u8 junk[IO_FRAME];
    bool gone = false;
    for (int i = 0; i < 64; ++i) {
      ssize_t n = recv(p->descriptor, junk, sizeof junk, MSG_DONTWAIT);
      if (n > 0) continue;
      gone = n == 0 || !tcp_transient(errno);
      break;
    }
    if (!gone) return true;
    tcp_client_drop(p);
  }
  return false;
}

int tcp_client_connect_done(IO_def* p) {
  pollfd w{p->descriptor, POLLOUT, 0};
  if (poll(&w, 1, 0) <= 0) return 0;
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(p->descriptor, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return -1;
  return err == 0 && (w.revents & POLLOUT) ? 1 : -1;
}
