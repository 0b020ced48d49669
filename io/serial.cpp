#include "io/serial.h"

#include <fcntl.h>
#include <unistd.h>

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

  termios t{};
  t.c_iflag = IGNBRK | IGNPAR;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag = CS8 | CREAD | CLOCAL;
  if (line->line_flag == 1) t.c_cflag |= PARENB;
  if (line->line_flag == 2) t.c_cflag |= PARENB | PARODD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  speed_t s = serial_speed(line->word);
  cfsetispeed(&t, s);
  cfsetospeed(&t, s);
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
