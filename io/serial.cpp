#include "io/serial.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/config.h"
#include "core/hooks.h"
#include "core/scan_pause.h"
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
  scan_requires(Pause::Stopped);
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

bool serial_write(int fd, const u8* bytes, int length) {
  if (fd <= 0 || length < 0) return false;
  int done = 0;
  while (done < length) {
    ssize_t n = write(fd, bytes + done, size_t(length - done));
    if (n > 0)
      done += int(n);
    else if (n < 0 && errno == EINTR)
      continue;
    else
      return false;  // full (EAGAIN), hung up, or broken
  }
  return true;
}

int serial_read(int fd, u8* buffer, int max) {
  if (fd <= 0 || max <= 0) return -1;
  ssize_t n = read(fd, buffer, size_t(max));
  return n < 0 ? -1 : int(n);
}

void serial_settings_sync() {
  scan_requires(Pause::Stopped);
  for (int i = 0; i < 4; ++i) {
    IO_def* p = io_port_at(i + 1);
    if (!p || !p->serial()) {
      serial_settings[i] = SerialSettings{};
      continue;
    }
    serial_settings[i] = {p->kind, p->word, p->line_flag, p->work2};
  }
}

// The serial ports of configuration page 1 ("HMI edit/Serial ports") and
// the TCP slave listeners of page 2. Reads come from the main thread's copy;
// writes change the copy and, with the scan stopped, the line's record.
namespace {

IO_def* config_line(int port) {
  IO_def* p = io_port_at(port + 1);
  return p && p->serial() ? p : nullptr;
}

bool serial_get(int port, SerialField field, u32* value) {
  if (port < 0 || port >= 4) return false;
  const SerialSettings& s = serial_settings[port];
  switch (field) {
    case SerialField::Kind: *value = s.kind; break;
    case SerialField::Baud: *value = s.baud; break;
    case SerialField::Parity: *value = s.parity; break;
    case SerialField::Address: *value = s.address; break;
  }
  return true;
}

bool serial_set(int port, SerialField field, u32 value) {
  if (port < 0 || port >= 4) return false;
  scan_requires(Pause::Stopped);
  SerialSettings& s = serial_settings[port];
  IO_def* p = config_line(port);
  switch (field) {
    case SerialField::Kind:
      s.kind = u8(std::min<u32>(value, 255));
      if (p) p->kind = s.kind;
      break;
    case SerialField::Baud:
      s.baud = value;
      if (p) p->word = s.baud;
      break;
    case SerialField::Parity:
      s.parity = u8(std::min<u32>(value, 255));
      if (p) p->line_flag = s.parity;
      break;
    case SerialField::Address:
      s.address = value;
      if (p) p->work2 = s.address;
      break;
  }
  return true;
}

void serial_clear_receive(int port) {
  scan_requires(Pause::Stopped);
  if (IO_def* p = config_line(port)) {
    p->count = 0;
    p->synced = 0;
  }
}

// A line switched off is closed rather than opened: nothing on it would
// read the device, and it stays free for other users of the host.
void serial_reopen(int port) {
  scan_requires(Pause::Stopped);
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
