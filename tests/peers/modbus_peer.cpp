// An independent Modbus slave for the field I/O tests and the benchmark,
// built on libmodbus. Started by the test, killed by pid; it ends by itself
// after a few minutes should the test die first.
//
//   modbus_peer tcp              listens on 127.0.0.1, an ephemeral port;
//                                prints "port N"
//   modbus_peer rtu PATH [UNIT]  serves RTU on the serial device PATH
//                                (unit 1 by default); prints "ready"
//
// Preset data (addresses are wire addresses):
//   coils 0..199:             on when the address is a multiple of 3
//   discrete inputs 0..199:   on when the address is odd
//   input registers:  0,1  3.1415927 as a float, low half first
//                     2,3  the same, high half first
//                     4    250      5  0xFFFB (-5)    6  0x8005
//                     7    0x1234   8  65535
//   holding registers 0..199: 1000 + address
#include <modbus.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

constexpr int kSize = 200;

modbus_mapping_t* make_mapping() {
  modbus_mapping_t* m = modbus_mapping_new(kSize, kSize, kSize, kSize);
  if (!m) return nullptr;
  for (int i = 0; i < kSize; ++i) {
    m->tab_bits[i] = i % 3 == 0;
    m->tab_input_bits[i] = i % 2 == 1;
    m->tab_registers[i] = uint16_t(1000 + i);
  }
  const uint16_t ir[] = {0x0FDB, 0x4049, 0x4049, 0x0FDB, 250, 0xFFFB, 0x8005, 0x1234, 65535};
  for (unsigned i = 0; i < sizeof ir / sizeof ir[0]; ++i) m->tab_input_registers[i] = ir[i];
  return m;
}

int serve_tcp(modbus_mapping_t* map) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
  if (!ctx) return 1;
  int listener = modbus_tcp_listen(ctx, 16);
  if (listener < 0) return 1;
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  std::printf("port %u\n", ntohs(a.sin_port));
  std::fflush(stdout);

  fd_set all;
  FD_ZERO(&all);
  FD_SET(listener, &all);
  int top = listener;
  uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  for (;;) {
    fd_set ready = all;
    if (select(top + 1, &ready, nullptr, nullptr, nullptr) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    for (int fd = 0; fd <= top; ++fd) {
      if (!FD_ISSET(fd, &ready)) continue;
      if (fd == listener) {
        int s = accept(listener, nullptr, nullptr);
        if (s >= 0 && s < FD_SETSIZE) {
          FD_SET(s, &all);
          if (s > top) top = s;
        } else if (s >= 0) {
          close(s);
        }
        continue;
      }
      modbus_set_socket(ctx, fd);
      int rc = modbus_receive(ctx, query);
      if (rc > 0) {
        modbus_reply(ctx, query, rc, map);
      } else if (rc == -1) {
        close(fd);
        FD_CLR(fd, &all);
      }
    }
  }
}

int serve_rtu(modbus_mapping_t* map, const char* path, int unit) {
  modbus_t* ctx = modbus_new_rtu(path, 9600, 'N', 8, 1);
  if (!ctx || modbus_set_slave(ctx, unit) != 0 || modbus_connect(ctx) != 0) return 1;
  std::printf("ready\n");
  std::fflush(stdout);
  uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
  for (;;) {
    int rc = modbus_receive(ctx, query);
    if (rc > 0) {
      modbus_reply(ctx, query, rc, map);
    } else if (rc == -1 && (errno == EBADF || errno == EIO)) {
      return 1;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  alarm(300);  // never outlives a test run by much
  modbus_mapping_t* map = make_mapping();
  if (!map || argc < 2) return 2;
  if (!std::strcmp(argv[1], "tcp")) return serve_tcp(map);
  if (!std::strcmp(argv[1], "rtu") && argc >= 3) return serve_rtu(map, argv[2], argc > 3 ? std::atoi(argv[3]) : 1);
  return 2;
}
