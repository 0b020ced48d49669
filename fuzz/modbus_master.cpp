// Any bytes as the answer of a Modbus slave to the master instruction. The
// first byte chooses the transport (bit 0: TCP or RTU on serial line 2),
// the command (bits 1-3) and the register type (the rest, modulo 6); the
// second the block size and the third the segment size in which the answer
// arrives. The instruction sends its request, reads the answer segment by
// segment and, at the latest at its time-out, ends with a status of 1-6:
// never a crash, a read or write out of bounds or a non-finite value in
// the block, and values only from a good reply.
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>

#include "core/module.h"
#include "core/registry.h"
#include "io/modbus_master.h"
#include "program/refs.h"
#include "fuzz/io_setup.h"

namespace {

Modbus* rtu = nullptr;
Modbus* tcp = nullptr;
Ivar* block = nullptr;

Modbus* make(Control* after, const char* name, u8 com) {
  auto* m = static_cast<Modbus*>(inst_create(TYPE_MODBUS, after, name, 1));
  fuzz_set_row(m, 3, ptype::Select, com);
  if (com == 0) {
    fuzz_set_row(m, 4, ptype::Text, 0, "127.0.0.1");
    fuzz_set_row(m, 5, ptype::Dec, 1502);
  }
  fuzz_set_row(m, 2, ptype::Ref, 0, "blk");
  if (!m->port || m->port->kind != io_kind::ModbusMaster) std::abort();
  return m;
}

// The request the instruction sent: whole, with a good CRC or header.
void check_request(int far, bool net, u8 function) {
  u8 b[IO_FRAME + 8];
  ssize_t n = read(far, b, sizeof b);
  if (net) {
    if (n < 8 || size_t(b[4] << 8 | b[5]) != size_t(n) - 6 || b[7] != function) std::abort();
  } else if (n < 4 || modbus_crc(b, u32(n)) != 0 || b[1] != function) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_io_setup();
  io_port_at(2)->kind = io_kind::ModbusMaster;
  rtu = make(loop_start[0], "rtu", 2);
  tcp = make(rtu, "tcp", 0);
  block = tcp->transfer.var;
  if (!block || block != rtu->transfer.var) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool net = data[0] & 1;
  Modbus* m = net ? tcp : rtu;
  m->command = (data[0] >> 1) & 7;
  m->reg_type = u8((data[0] >> 4) % 6);
  m->resize(u16(data[1] % 128 + 1));
  m->timeout = 50;
  m->retries = 1;
  const size_t chunk = data[2] % 32 + 1;
  data += 3, size -= 3;
  for (u16 i = 0; i <= block->size; ++i) block->set(i, 0.0f);

  IO_def* p = m->port;
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv) != 0) std::abort();
  const int far = sv[1];
  p->descriptor = sv[0];
  p->line_flag = net ? 1 : 0;
  p->idle_countdown = IO_IDLE_SECONDS;
  p->busy = p->reply_pending = 0;

  m->execute();
  m->start(p);
  if (p->busy) {
    check_request(far, net, u8(p->function));
    for (size_t at = 0; at < size && !p->reply_pending; at += chunk) {
      size_t n = std::min(chunk, size - at);
      if (write(far, data + at, n) != ssize_t(n)) std::abort();
      p->reply_timer = 0;
      m->end(p);
      if (p->count > IO_FRAME) std::abort();
    }
    if (!p->reply_pending) {
      p->reply_timer = m->timeout;  // what did not come in time never will
      m->end(p);
    }
    if (!p->reply_pending) std::abort();
  }
  if (m->status < mb_status::Ok || m->status > mb_status::NotConfigured) std::abort();
  if (m->pending.load() != 0) std::abort();
  // Only a good reply stores values.
  for (u16 i = 0; i <= block->size; ++i)
    if (!std::isfinite(block->get(i)) || (m->status != mb_status::Ok && block->get(i) != 0.0f))
      std::abort();

  if (p->descriptor > 0) close(p->descriptor);
  p->descriptor = 0;
  p->line_flag = 0;
  p->busy = p->reply_pending = 0;
  p->synced = 0;
  p->count = 0;
  close(far);
  return 0;
}
