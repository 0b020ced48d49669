#include "net/user_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "core/config.h"
#include "core/engine.h"
#include "core/hooks.h"
#include "net/network.h"
#include "core/scan_pause.h"
#include "core/startup.h"
#include "history/history.h"
#include "hmi/session.h"
#include "net/clock.h"
#include "net/files.h"
#include "net/sockets.h"

namespace {

// Replies beyond this many unsent bytes mean the client does not read: the
// slot is closed instead of buffering without bound.
constexpr size_t OUT_LIMIT = 16u << 20;
// A reply produced in steps gets its next step once the queued output has
// drained below this.
constexpr size_t OUT_LOW = 256u << 10;

// Per-connection state that lives across passes.
struct Conn {
  std::string in;   // received bytes that do not yet form a complete line
  std::string out;  // reply bytes not yet taken by the socket
  // Upload in progress: received into a temporary file, renamed over the
  // target once complete.
  FILE* up = nullptr;
  std::string up_tmp, up_target;
  long long up_total = 0, up_count = 0;
  // The next step of a reply produced in steps; further lines wait for it.
  std::function<bool(int)> more;

  void reset() {
    in.clear();
    out.clear();
    more = nullptr;
    up_tmp.clear();
    up_target.clear();
    up_total = up_count = 0;
  }
};
Conn conns[CLIENT_SLOTS];

bool all_slots_busy() {
  for (int s = 0; s < CLIENT_SLOTS; ++s)
    if (client_socket[s] == 0) return false;
  return true;
}

void send_all_now(int fd, std::string_view bytes) {
  if (fd > 0) (void)send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

void abort_upload(Conn& c) {
  if (!c.up) return;
  std::fclose(c.up);
  c.up = nullptr;
  unlink(c.up_tmp.c_str());
}

// ---- download ("GET /") --------------------------------------------------

void start_download(int slot, std::string_view line) {
  // The name runs to a NUL, a space or "?"; one of 251 characters or more
  // is taken as empty.
  std::string name;
  std::string_view rest = line.substr(5);
  auto ends = [](char c) { return c == '\0' || c == ' ' || c == '?'; };
  size_t i = 0;
  while (i < rest.size() && i < 250 && !ends(rest[i])) name += rest[i++];
  if (i == 250 && i < rest.size() && !ends(rest[i])) name.clear();
  if (name.empty()) name = "index.html";
  bool protected_kind = name.find(".per") != std::string::npos || name.find(".evt") != std::string::npos ||
                        name.find(".qrn") != std::string::npos || name.find(".bkup") != std::string::npos;
  FILE* f = nullptr;
  if (client_name_ok(name) && !(protected_kind && all_slots_busy())) {
    struct stat st{};
    if (stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) f = std::fopen(name.c_str(), "rb");
  }
  conns[slot].in.clear();
  if (f) {
    get_file[slot] = f;
    send_all_now(client_socket[slot], "HTTP/1.1 200 OK\r\n\r\n");
  } else {
    send_all_now(client_socket[slot], "HTTP/1.1 404 Not Found\r\n\r\n");
  }
}

// ---- upload ("POST /") ---------------------------------------------------

void finish_upload(int slot) {
  Conn& c = conns[slot];
  bool ok = std::fflush(c.up) == 0;
  ok = std::fclose(c.up) == 0 && ok;
  c.up = nullptr;
  if (ok && c.up_target == "quorexe") {
    struct stat st{};
    if (lstat("quorexe", &st) == 0) ok = std::rename("quorexe", "quorexe.old") == 0;
    if (ok) ok = chmod(c.up_tmp.c_str(), 0777) == 0;
  }
  if (ok) ok = std::rename(c.up_tmp.c_str(), c.up_target.c_str()) == 0;
  if (ok) hist_files_changed();  // an uploaded history file replaces the one the writers hold
  if (!ok) unlink(c.up_tmp.c_str());
  close_socket(slot);
}

// Writes received body bytes; completes or fails the upload.
void feed_upload(int slot, const char* data, size_t n) {
  Conn& c = conns[slot];
  long long want = c.up_count - c.up_total;
  size_t take = n < size_t(want) ? n : size_t(want);
  if (take && std::fwrite(data, 1, take, c.up) != take) {
    close_socket(slot);  // a short write: the partial file goes
    return;
  }
  c.up_total += take;
  if (n) port_timeout[slot] = 20;
  if (c.up_total == c.up_count) finish_upload(slot);
}

void start_upload(int slot, std::string_view line, std::string body) {
  if (all_slots_busy()) return;
  size_t at = line.find("POST /");
  std::string_view after = line.substr(at + 6);
  size_t lf = after.substr(0, after.size() < 100 ? after.size() : 100).find('\n');
  if (lf == std::string_view::npos || lf >= 99) return;
  std::string name(after.substr(0, lf));
  if (!client_name_ok(name)) return;
  std::string count_text(after.substr(lf + 1));
  char* end = nullptr;
  errno = 0;
  long long count = std::strtoll(count_text.c_str(), &end, 0);
  if (end == count_text.c_str() || errno || count < 0) return;

  Conn& c = conns[slot];
  c.up_tmp = ".upload" + std::to_string(slot) + "." + std::to_string(getpid()) + ".tmp";
  c.up = std::fopen(c.up_tmp.c_str(), "wb");
  if (!c.up) return;
  c.up_target = name;
  c.up_count = count;
  c.up_total = 0;
  c.in.clear();
  port_timeout[slot] = 20;
  feed_upload(slot, body.data(), body.size());
}

// ---- HMI command text ----------------------------------------------------

// Hands the pieces of a request line (cut at every line feed) to proc_HMI.
// Returns the slot the connection is in afterwards (a programmer login moves
// it to slot 0), or -1 when it was closed.
int run_commands(int slot, std::string_view line) {
  int fd = client_socket[slot];
  size_t start = 0;
  for (;;) {
    size_t lf = line.find('\n', start);
    std::string_view piece = line.substr(start, lf == std::string_view::npos ? std::string_view::npos : lf - start);
    if (slot != 0 && priority[0] == 0 && piece != "users") close_socket(slot);
    proc_HMI(slot, piece);
    if (client_socket[slot] != fd || fd == 0) {
      int moved = -1;
      for (int s = 0; s < CLIENT_SLOTS && fd; ++s)
        if (client_socket[s] == fd) moved = s;
      if (moved < 0) {
        // The connection is gone, but its remaining commands still act.
        fd = 0;
      } else {
        slot = moved;
      }
    }
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  return fd ? slot : -1;
}

// One complete request line. Returns the slot of the connection afterwards,
// or -1 when it is closed or no longer reads lines.
int handle_line(int slot, std::string line) {
  Conn& c = conns[slot];
  if (line.compare(0, 5, "GET /") == 0) {
    start_download(slot, line);
  } else if (line.find("POST /") != std::string::npos) {
    std::string body = std::move(c.in);
    c.in.clear();
    start_upload(slot, line, std::move(body));
    if (conns[slot].up) return -1;
  } else if (line.find("Quiblet! /") != std::string::npos) {
    quiblet_socket[slot] = client_socket[slot];
    priority_hi[slot] = priority[slot] = 255;
    authorize_pending[slot] = false;
    hmi_slot_reset(slot);
    send_HMI_response(slot, "ok");
    send_HMI_term(slot);
  } else if (line.find("Disconnect /") != std::string::npos) {
    close_socket(slot);
    return -1;
  } else {
    slot = run_commands(slot, line);
    if (slot < 0) return -1;
  }
  if (client_socket[slot] && client_socket[slot] != quiblet_socket[slot] && !get_file[slot] && !conns[slot].up &&
      !conns[slot].more) {
    close_socket(slot);
    return -1;
  }
  return client_socket[slot] && !get_file[slot] ? slot : -1;
}

// Acts on every complete line in the slot's input buffer.
void process_lines(int slot) {
  while (slot >= 0 && client_socket[slot] && !conns[slot].more) {
    std::string& in = conns[slot].in;
    size_t end = std::string::npos;
    for (size_t i = 0; i < in.size(); ++i)
      if (in[i] == '\r' || in[i] == '\0') {
        end = i;
        break;
      }
    if (end == std::string::npos) {
      if (in.size() >= USER_CHUNK) close_socket(slot);  // over-long request line
      return;
    }
    if (end >= USER_CHUNK) {
      close_socket(slot);
      return;
    }
    std::string line = in.substr(0, end);
    in.erase(0, end + 1);
    slot = handle_line(slot, std::move(line));
  }
}

void serve_input(int slot) {
  char buf[USER_CHUNK];
  ssize_t n = recv(client_socket[slot], buf, sizeof buf, MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    close_socket(slot);
    return;
  }
  if (n < 0) return;
  Conn& c = conns[slot];
  if (c.up) {
    feed_upload(slot, buf, size_t(n));
    return;
  }
  if (get_file[slot]) return;  // a download does not read further requests
  c.in.append(buf, size_t(n));
  process_lines(slot);
}

void accept_clients() {
  for (;;) {
    int fd = accept4(sockfd1, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) perror("accept");
      return;
    }
    if (fd == 0) {  // descriptor 0 means "none"
      int again = fcntl(fd, F_DUPFD_CLOEXEC, 1);
      close(fd);
      if (again < 0) continue;
      fd = again;
    }
    if (slot_adopt(fd) < 0) close(fd);
  }
}

bool init_ports(int port_override) {
  network_setup();
  int port = port_override;
  if (port <= 0) {
    // "Port number" of the "Internet Connections" page.
    Iparam p;
    port = gen::on_page(2, [&] { return gen::gparam(&p, 0, 3); }) ? int(p.value & 0xFFFF) : 80;
  }
  errno = 0;
  if (!user_port_open(u16(port))) {
    int why = errno;
    std::fprintf(stderr, "quor: cannot listen on port %d%s%s\n", port, why ? ": " : "", why ? std::strerror(why) : "");
    return false;
  }
  return true;
}

// How long a pass may wait for the network. Briefly while a client is
// connected or the mail or modem machines may have a step to take (they
// step once per pass); otherwise nothing but a new connection, which ends
// the wait, needs the pass, and an idle controller wakes seldom.
int pass_wait_ms() {
  for (int s = 0; s < CLIENT_SLOTS; ++s)
    if (client_socket[s] > 0) return 5;
  if ((con_mail_ip && !con_mail_ip->empty()) || con_modem_alarm) return 5;
  return 50;
}

bool main_pass() {
  wd_timer = 600;
  engine_apply_break();  // the cursor follows a break point before clients see it
  proc_user(pass_wait_ms());
  if (startup_hooks.alarm_pass) startup_hooks.alarm_pass();
  return true;
}

}  // namespace

void net_install_hooks() {
  engine_hooks.clients_second = &clients_second;
  engine_hooks.clock_sync = &slinux_date;
  startup_hooks.init_ports = &init_ports;
  startup_hooks.listen_address = [] {
    return std::string(options.board ? "0.0.0.0:" : "127.0.0.1:") + std::to_string(user_port_number());
  };
  startup_hooks.shutdown = &user_port_shutdown;
  startup_hooks.main_pass = &main_pass;
}

bool user_port_open(u16 port) {
  sockaddr_in addr{};
  close_fd(sockfd1);
  sockfd1 = Port_Listen(port, &addr);
  return sockfd1 != 0;
}

u16 user_port_number() {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (!sockfd1 || getsockname(sockfd1, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

void user_port_shutdown() {
  for (int s = 0; s < CLIENT_SLOTS; ++s) close_socket(s);
  close_fd(sockfd1);
}

int slot_adopt(int fd) {
  for (int s = 0; s < CLIENT_SLOTS; ++s) {
    if (client_socket[s] != 0) continue;
    client_socket[s] = fd;
    quiblet_socket[s] = 0;
    hmi_slot_reset(s);
    conns[s].reset();
    port_close[s] = 0;
    port_timeout[s] = 120;
    return s;
  }
  return -1;
}

void slot_queue(int slot, std::string_view bytes) {
  if (slot < 0 || slot >= CLIENT_SLOTS || !quiblet_socket[slot]) return;
  Conn& c = conns[slot];
  if (c.out.size() + bytes.size() > OUT_LIMIT) {
    c.out.clear();
    port_close[slot] = 1;  // the client does not read its replies
    return;
  }
  c.out.append(bytes);
}

void slot_flush(int slot) {
  if (slot < 0 || slot >= CLIENT_SLOTS) return;
  Conn& c = conns[slot];
  int fd = quiblet_socket[slot];
  if (c.out.empty() || !fd) return;
  ssize_t n = send(fd, c.out.data(), c.out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  if (n > 0) {
    c.out.erase(0, size_t(n));
  } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    c.out.clear();
    port_close[slot] = 1;
  }
}

void slot_move(int from, int to) {
  if (from == to) return;
  client_socket[to] = client_socket[from];
  quiblet_socket[to] = quiblet_socket[from];
  port_timeout[to] = port_timeout[from].load();
  port_close[to] = 0;
  std::swap(conns[to], conns[from]);
  conns[from].reset();
  client_socket[from] = quiblet_socket[from] = 0;
  port_timeout[from] = 0;
  port_close[from] = 0;
}

int close_socket(int slot) {
  if (slot < 0 || slot >= CLIENT_SLOTS) return 0;
  port_timeout[slot] = 0;
  port_close[slot] = 0;
  if (get_file[slot]) {
    std::fclose(get_file[slot]);
    get_file[slot] = nullptr;
  }
  Conn& c = conns[slot];
  abort_upload(c);
  if (priority[slot] == 0 && (!run.load() || break_execute.load())) {
    // The programmer leaves a stopped or halting program: it restarts from
    // the top of every loop, which the end of a level-3 pause does.
    ScanPause pause(Pause::Stopped);
    break_execute = nullptr;
  }
  priority_hi[slot] = priority[slot] = 255;
  authorize_pending[slot] = false;
  // A closed session keeps no screen object: the next one starts afresh.
  hmi_slot_reset(slot);
  int result = 0;
  if (client_socket[slot]) {
    if (!c.out.empty()) send_all_now(client_socket[slot], c.out);
    close(client_socket[slot]);
    client_socket[slot] = quiblet_socket[slot] = 0;
    result = -1;
  } else if (quiblet_socket[slot]) {
    close(quiblet_socket[slot]);
    quiblet_socket[slot] = 0;
  }
  c.reset();
  return result;
}

void send_data() {
  static char buf[USER_CHUNK];
  for (int s = 0; s < CLIENT_SLOTS; ++s) {
    FILE* f = get_file[s];
    if (!f) continue;
    long pos = std::ftell(f);
    size_t n = std::fread(buf, 1, sizeof buf, f);
    if (n == 0) {
      close_socket(s);
      continue;
    }
    ssize_t sent = send(client_socket[s], buf, n, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        close_socket(s);
        continue;
      }
      sent = 0;
    }
    if (sent > 0) port_timeout[s] = 20;
    if (size_t(sent) < n) std::fseek(f, pos + long(sent), SEEK_SET);
  }
}

void slot_continue(int slot, std::function<bool(int)> more) {
  if (slot < 0 || slot >= CLIENT_SLOTS || !client_socket[slot]) return;
  conns[slot].more = std::move(more);
}

bool slot_producing(int slot) { return slot >= 0 && slot < CLIENT_SLOTS && conns[slot].more != nullptr; }

bool produce_replies() {
  bool busy = false;
  for (int s = 0; s < CLIENT_SLOTS; ++s) {
    Conn& c = conns[s];
    // A full queue waits for the socket (the pass polls for it to drain).
    if (!c.more || !client_socket[s] || c.out.size() >= OUT_LOW) continue;
    wd_timer = 600;
    if (c.more(s)) {
      slot_flush(s);
      busy = true;
      continue;
    }
    c.more = nullptr;
    slot_flush(s);
    if (client_socket[s] != quiblet_socket[s] && !get_file[s]) {
      close_socket(s);  // a one-shot request ends with its reply
      continue;
    }
    process_lines(s);  // the lines that waited
  }
  return busy;
}

void clients_second() {
  bool hold = no_socket_timeout.load(std::memory_order_relaxed);
  for (int s = 0; s < CLIENT_SLOTS; ++s) {
    u8 t = port_timeout[s].load(std::memory_order_relaxed);
    if (!t) continue;
    if (hold) {
      port_timeout[s].store(120, std::memory_order_relaxed);
    } else if (port_timeout[s].compare_exchange_strong(t, u8(t - 1), std::memory_order_relaxed) && t == 1) {
      port_close[s].store(1, std::memory_order_relaxed);
    }
  }
}

int proc_user(int wait_ms) {
  wd_timer = 600;
  send_data();
  if (produce_replies()) wait_ms = 0;
  pollfd fds[CLIENT_SLOTS + 1];
  int slot_of[CLIENT_SLOTS + 1];
  int n = 0;
  if (sockfd1) {
    fds[n] = {sockfd1, POLLIN, 0};
    slot_of[n++] = -1;
  }
  for (int s = 0; s < CLIENT_SLOTS; ++s) {
    if (port_close[s]) close_socket(s);
    if (client_socket[s] > 0) {
      short ev = POLLIN;
      if (!conns[s].out.empty() || get_file[s]) ev |= POLLOUT;
      fds[n] = {client_socket[s], ev, 0};
      slot_of[n++] = s;
    }
  }
  int ready = poll(fds, nfds_t(n), wait_ms);
  if (ready <= 0) return -1;
  for (int i = 0; i < n; ++i)
    if (slot_of[i] < 0 && (fds[i].revents & POLLIN)) accept_clients();
  for (int i = 0; i < n; ++i) {
    int s = slot_of[i];
    if (s < 0) continue;
    wd_timer = 600;
    if (client_socket[s] != fds[i].fd || !fds[i].revents) continue;
    if (fds[i].revents & POLLOUT) slot_flush(s);
    if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) serve_input(s);
  }
  return -1;
}
