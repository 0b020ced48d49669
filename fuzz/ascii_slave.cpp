// Any bytes as ASCII slave traffic on a TCP slave connection, in segments
// whose size comes from the first byte. Every reply must be "Done" or a
// list of numbers, each ended by CR LF, no "!System" cell outside the
// window may change, and nothing may crash or read or write out of bounds.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/engine.h"
#include "core/hooks.h"
#include "core/registry.h"
#include "core/startup.h"
#include "io/ascii_slave.h"
#include "io/serial.h"
#include "platform/platform.h"
#include "program/program_new.h"
#include "fuzz/io_setup.h"

namespace {

void drain(int fd, std::string& out) {
  char buf[4096];
  for (ssize_t r; (r = read(fd, buf, sizeof buf)) > 0;) out.append(buf, size_t(r));
}

void check(const std::string& out) {
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find("\r\n", at);
    if (end == std::string::npos) std::abort();
    std::string line = out.substr(at, end - at);
    if (line != "Done" && (line.empty() || line.find_first_not_of("0123456789.,-+einfa") != std::string::npos))
      std::abort();
    at = end + 2;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_io_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto before = fuzz_system_cells();
  const size_t chunk = data[0] % 64 + 1;
  ++data, --size;
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv) != 0) std::abort();
  auto* c = new IO_def();
  c->kind = io_kind::AsciiSlave;
  c->descriptor = sv[0];
  std::string out;
  bool alive = true;
  for (size_t at = 0; at < size && alive; at += chunk) {
    size_t n = std::min(chunk, size - at);
    c->input.append(reinterpret_cast<const char*>(data + at), n);
    c->word = u32(n);
    Ascii_rec_proc(c);
    drain(sv[1], out);
    if (c->input.size() > ASCII_LINE_MAX) std::abort();
    alive = false;
    for (IO_def* p = IO_start_def; p; p = p->next) alive |= p == c;
  }
  if (alive) delete c;
  drain(sv[1], out);
  close(sv[1]);
  check(out);
  if (!fuzz_same_outside(before, fuzz_system_cells(), {{ASCII_TCP_BASE, ASCII_TCP_BASE + ASCII_WINDOW - 1}}))
    std::abort();
  return 0;
}
