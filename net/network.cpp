#include "net/network.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "core/config.h"
#include "core/engine.h"
#include "core/startup.h"
#include "net/clock.h"
#include "platform/platform.h"

namespace {

// The modem's set-up command: factory profile, DTR ignored, answer on the
// first ring, no echo, quiet, stored as profile 0.
constexpr const char* kModemSetup = "at&f1&d0s0=1e0q1&w0&y0\r";

bool set(const ConfigText& t) { return t && !t->empty(); }

}  // namespace

bool valid_quad(std::string_view s) {
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    size_t start = i;
    unsigned v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 3) v = v * 10 + unsigned(s[i++] - '0');
    if (i == start || v > 255) return false;
    ++parts;
    if (parts < 4) {
      if (i >= s.size() || s[i] != '.') return false;
      ++i;
    }
  }
  return i == s.size();
}

std::string host_name() {
  std::string h;
  if (gen_site_name)
    for (char c : *gen_site_name) {
      if (c == ' ') c = '.';
      if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.') h += c;
      if (h.size() == 63) break;
    }
  return h.empty() ? "QUOR" : h;
}

u32 hostname_tonl(const char* name) {
  if (!name || !*name) return 0;
  in_addr a;
  if (inet_pton(AF_INET, name, &a) == 1) return a.s_addr;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* res = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &res) != 0 || !res) return 0;
  u32 r = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(res);
  return r;
}

int modem_line(u8 type) {
  if (type >= 1 && type <= 2) return 1;
  if (type >= 3 && type <= 4) return 3;
  if (type >= 5 && type <= 6) return 4;
  return 0;
}

std::vector<std::string> pppd_args(u8 type) {
  const int line = modem_line(type);
  if (!line) return {};
  return {"/usr/sbin/pppd",
          options.serial[line - 1],
          "115200",
          type % 2 ? "modem" : "local",
          "noauth",
          "persist",
          "crtscts",
          "72.16.1.1:172.16.1.2"};
}

int modem_open(int line) {
  if (line < 1 || line > 4) return 0;
  int fd = open(options.serial[line - 1].c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  if (fd == 0) {  // 0 means none
    int again = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    close(fd);
    if (again < 0) return 0;
    fd = again;
  }
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(PARENB | CSTOPB);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
  }
  return fd;
}

bool modem_write(int fd, std::string_view bytes) {
  if (fd <= 0) return false;
  size_t done = 0;
  int waits = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += size_t(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    if (++waits > 10) return false;
    pollfd p{fd, POLLOUT, 0};
    poll(&p, 1, 100);
  }
  return true;
}

void network_setup() {
  ntime = 0;
  dtime.store(0);
  ltime = 0;
  pppd_PID = 0;
  slinux_date();

  const std::string host = host_name();
  plat->write_hostname(host);

  // Addresses that are not plain dotted quads count as unset: nothing from
  // the configuration reaches a command line unchecked.
  auto quad = [](const ConfigText& t) { return set(t) && valid_quad(*t); };
  if (!quad(con_ip) || !quad(con_net_mask) || !quad(con_broadcast) || !quad(con_gateway)) {
    plat->run_child({"/sbin/udhcpc", "-H", host, "-i", "eth0"}, DHCP_WAIT_S);
  } else {
    plat->run_child({"/sbin/ifconfig", "lo", "127.0.0.1", "netmask", "255.0.0.0", "broadcast", "127.0.0.0"}, 10);
    plat->run_child({"/sbin/ifconfig", "eth0", *con_ip, "netmask", *con_net_mask, "broadcast", *con_broadcast}, 10);
    plat->run_child({"/sbin/route", "add", "default", "gw", *con_gateway}, 10);
  }
  if (con_dhcp_server) plat->run_child({"/usr/sbin/udhcpd"}, -1);

  if (int line = modem_line(con_type)) {
    int fd = modem_open(line);
    modem_write(fd, kModemSetup);
    if (fd > 0) close(fd);
    pppd_PID = plat->run_child(pppd_args(con_type), -1);
  }
}
