// Any bytes as HMI command lines of a programmer session: every command
// answers within its block framing or not at all, and nothing crashes or
// writes out of bounds. File commands work inside a scratch directory.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "core/module.h"
#include "core/registry.h"
#include "hmi/session.h"
#include "net/user_port.h"
#include "platform/platform.h"
#include "program/program_new.h"

namespace {

std::unique_ptr<Platform> platform;
int peer = 0;

void init() {
  platform = make_host_platform();
  plat = platform.get();
  char tmpl[] = "/tmp/quor_fuzz_hmi_XXXXXX";
  if (!mkdtemp(tmpl) || chdir(tmpl) != 0) std::abort();
  inst_build();
  program_new(false);
}

void open_session() {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv) != 0) std::abort();
  client_socket[0] = quiblet_socket[0] = sv[0];
  peer = sv[1];
}

void drain() {
  char buf[65536];
  while (recv(peer, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = (init(), true);
  (void)ready;
  if (!client_socket[0]) {
    if (peer) close(peer);
    open_session();
  }
  priority[0] = 0;
  priority_hi[0] = 255;
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= text.size() && client_socket[0]) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    proc_HMI(0, std::string_view(text).substr(start, end - start));
    drain();
    start = end + 1;
  }
  return 0;
}
