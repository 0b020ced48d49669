#include "io/serial.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "core/config.h"
#include "core/hooks.h"
#include "core/startup.h"
#include "net/sockets.h"

speed_t serial_speed(u32 baud) {
  switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    default: return B9600;
  }
}

termios serial_termios(const IO_def& line) {
  termios t{};
  t.c_iflag = IGNBRK | IGNPAR;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag = CS8 | CREAD | CLOCAL;
  if (line.line_flag == 1) t.c_cflag |= PARENB;
  if (line.line_flag == 2) t.c_cflag |= PARENB | PARODD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  speed_t s = serial_speed(line.word);
  cfsetispeed(&t, s);
  cfsetospeed(&t, s);
  return t;
}

void set_serial(IO_def* line, bool close_only) {
  if (!line) return;
  close_fd(line->descriptor);
  if (close_only || !line->serial()) return;
  const std::string& path = options.serial[line->port_number - 1];
  int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  if (fd == 0) {  // 0 means "no descriptor": move it
    int again = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    close(fd);
    if (again < 0) return;
    fd = again;
  }
  line->descriptor = fd;

  termios t = serial_termios(*line);
  (void)tcsetattr(fd, TCSANOW, &t);
  // Another process may hold the device open, so closing did not empty its
  // queues: discard what a previous exchange left.
  (void)tcflush(fd, TCIOFLUSH);
}

void serial_write(int fd, const u8* bytes, int length) {
  if (fd > 0 && length > 0) (void)!write(fd, bytes, size_t(length));
}

int serial_read(int fd, u8* buffer, int max) {
  if (fd <= 0 || max <= 0) return -1;
  ssize_t n = read(fd, buffer, size_t(max));
  return n < 0 ? -1 : int(n);
}

// The serial ports of configuration page 1 ("HMI edit/Serial ports") and
// the TCP slave listeners of page 2.
namespace {

IO_def* config_line(int port) {
  IO_def* p = io_port_at(port + 1);
  return p && p->serial() ? p : nullptr;
}

bool serial_get(int port, SerialField field, u32* value) {
  std::lock_guard g(io_list_mutex);
  IO_def* p = config_line(port);
  if (!p) return false;
  switch (field) {
    case SerialField::Kind: *value = p->kind; break;
    case SerialField::Baud: *value = p->word; break;
    case SerialField::Parity: *value = p->line_flag; break;
    case SerialField::Address: *value = p->work2; break;
  }
  return true;
}

bool serial_set(int port, SerialField field, u32 value) {
  std::lock_guard g(io_list_mutex);
  IO_def* p = config_line(port);
  if (!p) return false;
  switch (field) {
    case SerialField::Kind: p->kind = u8(std::min<u32>(value, 255)); break;
    case SerialField::Baud: p->word = value; break;
    case SerialField::Parity: p->line_flag = u8(std::min<u32>(value, 255)); break;
    case SerialField::Address: p->work2 = value; break;
  }
  return true;
}

void serial_clear_receive(int port) {
  std::lock_guard g(io_list_mutex);
  if (IO_def* p = config_line(port)) {
    p->count = 0;
    p->synced = 0;
  }
}

// A line switched off is closed rather than opened: nothing on it would
// read the device, and it stays free for other users of the host.
void serial_reopen(int port) {
  std::lock_guard g(io_list_mutex);
  if (IO_def* p = config_line(port)) set_serial(p, p->kind == io_kind::Off);
}

}  // namespace

void io_install_config_hooks() {
  config_hooks.serial_get = &serial_get;
  config_hooks.serial_set = &serial_set;
  config_hooks.serial_clear_receive = &serial_clear_receive;
  config_hooks.serial_reopen = &serial_reopen;
  config_hooks.slave_port_listen = &IO_slave_port_listen;
}
