// A client slot backed by a socket pair, for driving proc_HMI directly and
// reading back the exact reply bytes.
#pragma once
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "hmi/session.h"
#include "net/user_port.h"

class HmiSlots {
 public:
  ~HmiSlots() {
    for (int s = 0; s < CLIENT_SLOTS; ++s) {
      close_socket(s);
      if (peer_[s] > 0) close(peer_[s]);
      peer_[s] = 0;
    }
  }
  // Makes slot s a session (level 255) and returns it.
  int open(int s) {
    int sv[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv);
    client_socket[s] = quiblet_socket[s] = sv[0];
    priority[s] = priority_hi[s] = 255;
    peer_[s] = sv[1];
    return s;
  }
  // Sends one command and returns every byte the slot received for it.
  std::string ask(int s, const std::string& line) {
    proc_HMI(s, line);
    return take(s);
  }
  std::string take(int s) {
    std::string out;
    char buf[65536];
    ssize_t n;
    while (peer_[s] > 0 && (n = recv(peer_[s], buf, sizeof buf, MSG_DONTWAIT)) > 0) out.append(buf, size_t(n));
    return out;
  }
  int peer(int s) const { return peer_[s]; }

 private:
  int peer_[CLIENT_SLOTS]{};
};
