// Field I/O test support: the four serial ports mapped to paths that do not
// exist (a test maps a line to its own pty), helpers to build Modbus
// instructions through their parameter rows, and an engine pump that lets
// real time pass for replies while the manual clock advances with it.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/hooks.h"
#include "core/startup.h"
#include "io/io_base.h"
#include "io/modbus_master.h"
#include "io/serial.h"
#include "tests/support/fixture.h"
#include "tests/support/free_port.h"
#include "tests/support/peer_process.h"
#include "tests/support/pty_pair.h"

// Raw frames: built with their CRC, read and written on a non-blocking
// descriptor.
using Bytes = std::vector<u8>;
inline Bytes with_crc(Bytes b) {
  u16 c = modbus_crc(b.data(), u32(b.size()));
  b.push_back(u8(c));
  b.push_back(u8(c >> 8));
  return b;
}
inline Bytes read_all(int fd) {
  Bytes out;
  u8 buf[512];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.insert(out.end(), buf, buf + n);
  return out;
}
// A pseudo-terminal whose far end (ptsname) a line can open; -1 on failure.
inline int open_pty_master() {
  int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0 && (grantpt(fd) != 0 || unlockpt(fd) != 0)) {
    close(fd);
    fd = -1;
  }
  return fd;
}
inline bool fd_open(int fd) { return fd > 0 && fcntl(fd, F_GETFD) != -1; }
inline void write_all(int fd, const Bytes& b) { ASSERT_EQ(write(fd, b.data(), b.size()), ssize_t(b.size())); }

class IoTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    for (int i = 0; i < 4; ++i) {
      saved_serial_[i] = options.serial[i];
      options.serial[i] = "/nonexistent/quor-tty" + std::to_string(i);
    }
    create_serial_ports();
    for (int L = 0; L < 4; ++L) saved_loop_int_[L] = gen_loop_int[L].load();
    tail_ = loop_start[0];
  }
  void TearDown() override {
    program_new(true);
    for (int i = 1; i <= 4; ++i)
      if (IO_def* p = io_port_at(i)) {
        p->kind = io_kind::Off;
        set_serial(p, true);
      }
    io_reset();
    for (int i = 0; i < 4; ++i) options.serial[i] = saved_serial_[i];
    for (int L = 0; L < 4; ++L) gen_loop_int[L] = saved_loop_int_[L];
    ProgramTest::TearDown();
  }

  // A Modbus instruction at the end of Loop_1.
  Modbus* add_modbus(u16 n = 1, const char* desc = "mb") {
    auto* m = static_cast<Modbus*>(inst_create(TYPE_MODBUS, tail_, desc, n));
    tail_ = m;
    return m;
  }
  static Ivar* var(const char* name, u16 size = 0) { return new Ivar(system_var(), name, size); }

  static bool set_num(Control* c, u16 row, u32 v, u16 type = ptype::Dec, u16 g = 0) {
    Iparam p;
    p.set_uint(type, v);
    return c->sparam(&p, g, row);
  }
  static bool set_float(Control* c, u16 g, u16 row, float v) {
    Iparam p;
    p.set_float(v);
    return c->sparam(&p, g, row);
  }
  static bool set_text(Control* c, u16 row, const char* t) {
    Iparam p;
    p.type = ptype::Text;
    p.text = t;
    return c->sparam(&p, 0, row);
  }
  static bool set_ref(Control* c, u16 row, Ivar* v, u16 index = 0) {
    Iparam p;
    p.type = ptype::Ref;
    p.ref = {v, index};
    return c->sparam(&p, 0, row);
  }
  // Row numbers of Modbus.
  enum : u16 { ENABLE, STATUS, TRANSFER, COM, IP, PORT, UNIT, REGADDR, COMMAND, REGTYPE, TIMEOUT, RETRIES };

  // A Modbus request over TCP to 127.0.0.1:port.
  Modbus* tcp_modbus(u16 port, u8 command, u8 reg_type, u16 n, u32 address1, Ivar* v) {
    Modbus* m = add_modbus(n);
    set_num(m, COM, 0, ptype::Select);
    set_text(m, IP, "127.0.0.1");
    set_num(m, PORT, port);
    configure(m, command, reg_type, address1, v);
    return m;
  }
  Modbus* serial_modbus(u8 line, u8 command, u8 reg_type, u16 n, u32 address1, Ivar* v) {
    Modbus* m = add_modbus(n);
    set_num(m, COM, line, ptype::Select);
    configure(m, command, reg_type, address1, v);
    return m;
  }
  static void configure(Modbus* m, u8 command, u8 reg_type, u32 address1, Ivar* v) {
    set_num(m, COMMAND, command, ptype::Select);
    set_num(m, REGTYPE, reg_type, ptype::Select);
    set_num(m, REGADDR, address1);
    if (v) set_ref(m, TRANSFER, v);
  }
  // Switches serial line L to a protocol and opens it on path.
  static IO_def* open_line(int L, const std::string& path, u8 kind = io_kind::ModbusMaster) {
    options.serial[L - 1] = path;
    IO_def* p = io_port_at(L);
    p->kind = kind;
    set_serial(p, false);
    return p;
  }

  // One engine iteration per manual millisecond; between iterations real
  // time passes (up to 1 ms) while a port waits for a reply.
  bool pump(const std::function<bool()>& done, int limit_ms = 3000) {
    int fds[64];
    for (int i = 0; i < limit_ms; ++i) {
      fake.advance_us(1000);
      exec_iteration();
      if (done()) return true;
      int n = engine_hooks.io_fds(fds, 64);
      pollfd p[64];
      for (int k = 0; k < n; ++k) p[k] = {fds[k], POLLIN, 0};
      poll(p, nfds_t(n), 1);
    }
    return false;
  }
  // Arms m, starts the passes and runs until the request has finished
  // (with every retry) and its port is free again. Returns the status.
  // While it waits, the instruction "executes" every 10 ms as in a loop of
  // that period, which starts a new pass where the last one found no
  // connection yet.
  int transact(Modbus* m, int limit_ms = 3000) {
    m->execute();
    int scan = 0;
    bool ok = pump(
        [&] {
          if (!m->ready() && (!m->port || !m->port->busy)) return true;
          if (scan++ % 10 == 0) engine_hooks.io_start(m);
          return false;
        },
        limit_ms);
    return ok ? m->status : -1;
  }

  Control* tail_ = nullptr;

 private:
  std::string saved_serial_[4];
  u32 saved_loop_int_[4]{};
};
