#include "net/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "core/startup.h"

namespace {
// Keeps descriptor 0 out of use: it means "none" everywhere.
int not_zero(int fd) {
  if (fd != 0) return fd;
  int again = fcntl(fd, F_DUPFD_CLOEXEC, 1);
  close(fd);
  return again;
}
}  // namespace

int Port_Listen(u16 port, sockaddr_in* addr) {
  int fd = not_zero(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (fd < 0) return 0;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (nagle == 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::memset(addr, 0, sizeof *addr);
  addr->sin_family = AF_INET;
  addr->sin_port = htons(port);
  addr->sin_addr.s_addr = htonl(options.board ? INADDR_ANY : INADDR_LOOPBACK);
  // A failed step closes the socket again, so that no descriptor leaks.
  if (bind(fd, reinterpret_cast<sockaddr*>(addr), sizeof *addr) != 0 || listen(fd, 10) != 0) {
    close(fd);
    return 0;
  }
  return fd;
}

int Port_out(u16 port, const char* ip, sockaddr_in* addr) {
  int fd = not_zero(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (fd < 0) return 0;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::memset(addr, 0, sizeof *addr);
  addr->sin_family = AF_INET;
  addr->sin_port = htons(port);
  addr->sin_addr.s_addr = inet_addr(ip ? ip : "");
  return fd;
}

void close_fd(int& fd) {
  if (fd > 0) close(fd);
  fd = 0;
}
