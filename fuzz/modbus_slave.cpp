// Any bytes as Modbus slave traffic. The first byte chooses the transport:
// even, the bytes arrive on a TCP slave connection in segments whose sizes
// come from the second byte; odd, they arrive on serial line 1 (unit
// address from the second byte). Every reply must be a well-formed frame
// inside its window's limits, no "!System" cell outside the window (and the
// line's counters) may change, and nothing may crash or read or write out
// of bounds.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/engine.h"
#include "core/hooks.h"
#include "core/registry.h"
#include "core/startup.h"
#include "io/modbus_master.h"
#include "io/modbus_slave.h"
#include "io/serial.h"
#include "platform/platform.h"
#include "program/program_new.h"
#include "fuzz/io_setup.h"

namespace {

// A connected pair: the controller's end goes into the port record.
int open_pair(int* far) {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv) != 0) std::abort();
  *far = sv[1];
  return sv[0];
}

// Reads what the controller wrote.
size_t drain(int fd, u8* out, size_t max) {
  size_t n = 0;
  for (;;) {
    ssize_t r = read(fd, out + n, max - n);
    if (r <= 0 || n + size_t(r) >= max) return n + size_t(r > 0 ? r : 0);
    n += size_t(r);
  }
}

void check_tcp_replies(const u8* b, size_t n) {
  while (n) {
    if (n < 8) std::abort();
    size_t len = size_t(b[4]) << 8 | b[5];
    if (len < 2 || len > 254 || 6 + len > n) std::abort();
    b += 6 + len;
    n -= 6 + len;
  }
}

void fuzz_tcp(const u8* data, size_t size) {
  const auto before = fuzz_system_cells();
  int far;
  auto* c = new IO_def();
  c->kind = io_kind::ModbusSlave;
  c->descriptor = open_pair(&far);
  const size_t chunk = size ? data[0] % 32 + 1 : 1;
  if (size) ++data, --size;
  static u8 out[1 << 16];
  size_t got = 0;
  bool alive = true;
  for (size_t at = 0; at < size && alive; at += chunk) {
    size_t n = std::min(chunk, size - at);
    c->input.append(reinterpret_cast<const char*>(data + at), n);
    c->word = u32(n);
    modbus_rec_proc(c);
    alive = false;
    for (IO_def* p = IO_start_def; p; p = p->next) alive |= p == c;
    got += drain(far, out + got, sizeof out - got);
  }
  if (alive) {
    c->reply_timer = 51;  // the frame time-out drops a partial request
    modbus_rec_proc(c);
    if (!c->input.empty()) std::abort();
    delete c;
  }
  close(far);
  check_tcp_replies(out, got);
  if (!fuzz_same_outside(before, fuzz_system_cells(), {{MBS_TCP_BASE, MBS_TCP_BASE + MBS_TCP_SIZE - 1}}))
    std::abort();
}

void fuzz_serial(const u8* data, size_t size) {
  IO_def* line = io_port_at(1);
  const auto before = fuzz_system_cells();
  int far;
  line->kind = io_kind::ModbusSlave;
  line->descriptor = open_pair(&far);
  line->work2 = size ? data[0] : 1;
  line->synced = 0;
  if (size) ++data, --size;
  if (write(far, data, size) != ssize_t(size)) std::abort();
  u8 out[4096];
  size_t got = 0;
  for (int step = 0; step < 64 && line->descriptor > 0; ++step) {
    line->gap_timer = 2;
    modbus_rec_proc(line);
    got += drain(far, out + got, sizeof out - got);
  }
  // Each reply carries the line's unit address and a good CRC.
  for (size_t at = 0; at < got;) {
    if (got - at < 5 || out[at] != line->work2) std::abort();
    u32 len = out[at + 1] == 5 || out[at + 1] == 6 || out[at + 1] == 15 || out[at + 1] == 16
                  ? 8u
                  : 5u + out[at + 2];
    if (at + len > got || modbus_crc(out + at, len) != 0) std::abort();
    at += len;
  }
  if (line->descriptor > 0) close(line->descriptor);
  line->descriptor = 0;
  close(far);
  // Line 1's counters (cells 20-23) and its window may change, nothing else.
  const size_t base = mbs_window_base(1);
  if (!fuzz_same_outside(before, fuzz_system_cells(), {{20, 23}, {base, base + MBS_SERIAL_SIZE - 1}}))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_io_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] % 2 == 0)
    fuzz_tcp(data + 1, size - 1);
  else
    fuzz_serial(data + 1, size - 1);
  return 0;
}
