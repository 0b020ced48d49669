// Listeners of the Modbus and ASCII slave servers and their connections:
// accept, the ten-connection limit, idle deletion and reception. What the
// received bytes mean is the business of each slave protocol's receive
// procedure (io_receive).
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "core/scan_pause.h"
#include "io/io_def.h"
#include "net/sockets.h"

namespace {

constexpr int kMaxConnections = 10;

int listener_index(u8 kind) {
  if (kind == io_kind::ModbusSlave) return 0;
  if (kind == io_kind::AsciiSlave) return 1;
  return -1;
}

bool is_connection(const IO_def* p, u8 kind) { return p->port_number == 0 && p->kind == kind; }

void serve_listener(int index, u8 kind) {
  int listener = IO_sockfd[index];
  if (!listener) return;

  // Expired connections go; beyond the tenth live one, the newest go.
  pollfd fds[1 + kMaxConnections];
  IO_def* owners[1 + kMaxConnections];
  int n = 0;
  fds[n] = {listener, POLLIN, 0};
  owners[n++] = nullptr;
  int live = 0;
  for (IO_def* p = IO_start_def; p;) {
    IO_def* next = p->next;
    if (is_connection(p, kind)) {
      p->word = 0;
      if (p->idle_countdown == 0 || p->descriptor <= 0 || ++live > kMaxConnections) {
        delete p;
      } else {
        fds[n] = {p->descriptor, POLLIN, 0};
        owners[n++] = p;
      }
    }
    p = next;
  }
  if (poll(fds, nfds_t(n), 0) <= 0) return;

  if (fds[0].revents & POLLIN) {
    int s = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (s < 0) return;  // tried again next step
    if (s == 0) {       // 0 means "no descriptor"
      int fd = s;
      close_fd(fd);
      return;
    }
    auto* c = new IO_def();
    c->port_number = 0;
    c->descriptor = s;
    c->kind = kind;
    c->idle_countdown = IO_IDLE_SECONDS;
  }
  for (int i = 1; i < n; ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    IO_def* c = owners[i];
    if (c->input.size() >= IO_INPUT_MAX) continue;  // read once it is consumed
    u8 buf[IO_FRAME];
    size_t room = std::min(sizeof buf, IO_INPUT_MAX - c->input.size());
    ssize_t got = recv(c->descriptor, buf, room, MSG_DONTWAIT);
    if (got > 0) {
      c->word = u32(got);
      c->input.append(reinterpret_cast<const char*>(buf), size_t(got));
    } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      delete c;  // the peer closed, or the connection broke
    }
  }
}

}  // namespace

void IO_slave_port_listen(u16 port, u8 kind, bool enable) {
  int index = listener_index(kind);
  if (index < 0) return;
  scan_requires(Pause::Stopped);
  for (IO_def* p = IO_start_def; p;) {
    IO_def* next = p->next;
    if (is_connection(p, kind)) delete p;
    p = next;
  }
  close_fd(IO_sockfd[index]);
  if (enable && port != 0) IO_sockfd[index] = Port_Listen(port, &IO_addr[index]);
}

void process_slave_IOsockets() {
  serve_listener(0, io_kind::ModbusSlave);
  serve_listener(1, io_kind::AsciiSlave);
}
