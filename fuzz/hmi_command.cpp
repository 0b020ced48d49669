// Any bytes as HMI command lines of one session: every command answers
// within its block framing or not at all, and nothing crashes, leaks or
// writes out of bounds.
//
// Lines end at a carriage return or a line feed, as the user port cuts
// them. A line "@0", "@1", "@2" or "@x" (not a command keyword) sets the
// session's level to programmer, 1, 2 or not logged in; inputs start as a
// programmer. Each input starts from the empty standard program, and file
// commands work inside a scratch directory (fuzz/scratch_dir.h).
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/config.h"
#include "core/hooks.h"
#include "core/engine.h"
#include "core/registry.h"
#include "hmi/session.h"
#include "net/user_port.h"
#include "platform/platform.h"
#include "program/program_new.h"
#include "fuzz/io_setup.h"
#include "fuzz/scratch_dir.h"

namespace {

int peer = 0;
std::string pending;  // reply bytes not yet checked

void open_session() {
  if (peer) close(peer);
  pending.clear();
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0) std::abort();
  client_socket[0] = quiblet_socket[0] = sv[0];
  peer = sv[1];
}

// Reads every reply byte and checks that the stream is made of whole
// blocks: a command's reply never leaves a line without its line feed
// before a terminator.
void drain() {
  char buf[65536];
  ssize_t n;
  while ((n = recv(peer, buf, sizeof buf, MSG_DONTWAIT)) > 0) pending.append(buf, size_t(n));
  size_t cr;
  while ((cr = pending.find('\r')) != std::string::npos) {
    if (cr > 0 && pending[cr - 1] != '\n') std::abort();  // a line without its line feed
    pending.erase(0, cr + 1);
  }
  if (pending.size() > (64u << 20)) pending.clear();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_scratch::enter(argc, argv, "quor_fuzz_hmi_");
  fuzz_controller_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_scratch::empty();
  program_new(false);
  fuzz_replay_clock();
  gen_sel = 0;
  run = 1;
  break_execute = nullptr;
  if (!client_socket[0]) open_session();
  priority[0] = 0;
  priority_hi[0] = 255;

  std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (line.size() == 2 && line[0] == '@') {
      priority[0] = line[1] == '0' ? 0 : line[1] == '1' ? 1 : line[1] == '2' ? 2 : 255;
      priority_hi[0] = 255;
    } else {
      if (!client_socket[0]) open_session();  // "logoff" ended the last one
      proc_HMI(0, line);
      drain();
      for (int i = 0; i < 100000 && slot_producing(0); ++i) {  // a reply in steps, to its end
        slot_flush(0);
        produce_replies();
        drain();
      }
    }
    start = end + 1;
  }
  return 0;
}
