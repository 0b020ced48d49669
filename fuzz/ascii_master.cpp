// Any bytes as the answer of an instrument or web device to the ASCII
// master instruction. The first byte chooses the transport (bit 0: TCP or
// serial line 3), a web request (bit 1, TCP only: the answer has a header),
// an acknowledgement instead of values (bit 2) and the segment size (the
// rest); the second the number of values to receive; the third the length
// of the parse pattern that follows it; the answer comes after the pattern.
// The instruction sends its request, reads the answer segment by segment
// and, at the latest at its time-out, ends with status 1, 2 or 4 (0 when
// it awaits nothing): never a crash, a read or write out of bounds or a
// non-finite received value, and values only from an accepted answer.
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "core/module.h"
#include "core/registry.h"
#include "io/ascii_master.h"
#include "program/refs.h"
#include "fuzz/io_setup.h"

namespace {

Ascii* serial = nullptr;
Ascii* tcp = nullptr;

Ascii* make(Control* after, const char* name, u8 com) {
  auto* a = static_cast<Ascii*>(inst_create(TYPE_ASCII, after, name, 1));
  fuzz_set_row(a, 4, ptype::Select, com);
  if (com == 0) {
    fuzz_set_row(a, 5, ptype::Text, 0, "127.0.0.1");
    fuzz_set_row(a, 6, ptype::Dec, 8080);
  }
  fuzz_set_row(a, 2, ptype::Ref, 0, "tx");
  fuzz_set_row(a, 9, ptype::Dec, 2);
  if (!a->port || a->port->kind != io_kind::AsciiMaster) std::abort();
  return a;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_io_setup();
  io_port_at(3)->kind = io_kind::AsciiMaster;
  serial = make(loop_start[0], "serial", 3);
  tcp = make(serial, "tcp", 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool net = data[0] & 1;
  const bool ack = data[0] & 4;
  const size_t chunk = (data[0] >> 3) * 4 + 1;
  Ascii* a = net ? tcp : serial;
  a->tx_string = net && (data[0] & 2) ? "GET /values?a=#&b=# HTTP/1.0" : "R #,#";
  a->timeout = 50;
  a->retries = 1;
  fuzz_set_row(a, 10, ptype::Dec, data[1] % 32 + 1);  // before RX data: its block grows
  if (ack)
    a->rx = pIdata{};
  else
    fuzz_set_row(a, 3, ptype::Ref, 0, "rx");
  size_t pattern = std::min<size_t>(data[2] % 32, size - 3);
  a->rx_parse.assign(reinterpret_cast<const char*>(data + 3), pattern);
  data += 3 + pattern, size -= 3 + pattern;
  if (a->rx.var)
    for (u16 i = 0; i <= a->rx.var->size; ++i) a->rx.var->set(i, 0.0f);

  IO_def* p = a->port;
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv) != 0) std::abort();
  const int far = sv[1];
  p->descriptor = sv[0];
  p->line_flag = net ? 1 : 0;
  p->idle_countdown = IO_IDLE_SECONDS;
  p->busy = p->reply_pending = 0;

  a->execute();
  a->start(p);
  if (!p->busy) std::abort();
  char request[512];
  ssize_t got = read(far, request, sizeof request);
  if (got < 2 || request[got - 2] != '\r' || request[got - 1] != '\n') std::abort();
  for (size_t at = 0; at < size && !p->reply_pending; at += chunk) {
    size_t n = std::min(chunk, size - at);
    if (p->descriptor > 0 && write(far, data + at, n) != ssize_t(n)) std::abort();
    p->reply_timer = 0;
    a->end(p);
  }
  if (!p->reply_pending) {
    p->reply_timer = a->timeout;  // what did not come in time never will
    a->end(p);
  }
  if (!p->reply_pending || a->pending.load() != 0) std::abort();
  // Without RX data or a parse pattern nothing is awaited: status 0.
  const bool awaited = ack || !a->rx_parse.empty();
  if (awaited ? a->status != ascii_status::Ok && a->status != ascii_status::Timeout &&
                    a->status != ascii_status::Refused
              : a->status != ascii_status::Armed)
    std::abort();
  // Only an accepted answer stores values.
  if (a->rx.var)
    for (u16 i = 0; i <= a->rx.var->size; ++i)
      if (!std::isfinite(a->rx.var->get(i)) || (a->status != ascii_status::Ok && a->rx.var->get(i) != 0.0f))
        std::abort();

  if (p->descriptor > 0) close(p->descriptor);
  p->descriptor = 0;
  p->line_flag = 0;
  p->busy = p->reply_pending = 0;
  close(far);
  return 0;
}
