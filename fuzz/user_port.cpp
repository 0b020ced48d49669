// Any bytes as one connection to the user port, from its first line on: a
// download, an upload, an HMI session or one-shot command lines. The first
// byte gives the segment size in which the rest arrives; after the last
// segment the client half-closes and reads what is left. Every connection
// ends with its slot free and its file closed, and nothing crashes, leaks
// or writes out of bounds. Files live in a scratch directory
// (fuzz/scratch_dir.h) that holds one small file to download.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/engine.h"
#include "core/hooks.h"
#include "core/registry.h"
#include "hmi/session.h"
#include "net/user_port.h"
#include "platform/platform.h"
#include "program/program_new.h"
#include "fuzz/io_setup.h"
#include "fuzz/scratch_dir.h"

namespace {


void drain(int fd) {
  static char buf[65536];
  while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
}

bool any_slot_open() {
  for (int s = 0; s < CLIENT_SLOTS; ++s)
    if (client_socket[s] || quiblet_socket[s] || get_file[s]) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_scratch::enter(argc, argv, "quor_fuzz_port_");
  fuzz_controller_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzz_scratch::empty();
  if (FILE* f = std::fopen("index.html", "w")) {
    std::fputs("<html>quor</html>\n", f);
    std::fclose(f);
  }
  program_new(false);
  fuzz_replay_clock();
  run = 1;
  break_execute = nullptr;
  const size_t chunk = size_t(data[0]) * 64 + 1;
  ++data, --size;

  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0) std::abort();
  if (slot_adopt(sv[0]) < 0) std::abort();
  const int far = sv[1];
  for (size_t at = 0; at < size; at += chunk) {
    size_t n = std::min(chunk, size - at);
    // The socket buffer takes a segment whole: the slot reads every pass.
    for (size_t sent = 0; sent < n;) {
      ssize_t w = send(far, data + at + sent, n - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (w <= 0) break;
      sent += size_t(w);
    }
    for (int pass = 0; pass < 4; ++pass) {
      proc_user(0);
      drain(far);
    }
  }
  shutdown(far, SHUT_WR);
  for (int pass = 0; pass < 2000 && any_slot_open(); ++pass) {
    proc_user(0);
    drain(far);
  }
  // A session stays open after the client half-closes only until it reads
  // the end; a download until its file is sent. Anything else is a slot
  // that never frees.
  if (any_slot_open()) std::abort();
  close(far);
  return 0;
}
