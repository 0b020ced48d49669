#include "io/ascii_master.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/registry.h"
#include "io/serial.h"
#include "io/tcp_client.h"

QUOR_REGISTER_INSTRUCTION(31, Ascii);

namespace {

// Stored for a "#" where the answer holds no number.
const float kNoNumber = 9.999999933815813e36f;
constexpr size_t kTextMax = 14000;

// Header states of a web answer; 5 is the body (and every other answer).
constexpr u8 kBody = 5;

}  // namespace

struct AsciiRows {
  using R = Row<Ascii>;
  static void status_assigned(Ascii& m, u16) { m.status_var.set(2.0f); }
  static void regrow_tx(Ascii& m, u16) {
    if (m.n_send) revalidate_block(m.tx, u16(m.n_send - 1));
  }
  static void regrow_rx(Ascii& m, u16) {
    if (m.n_receive) revalidate_block(m.rx, u16(m.n_receive - 1));
  }
  static void get_com(Ascii& m, u16, Iparam& p, const R&) { p.value = m.com_type; }
  static bool set_com(Ascii& m, u16, const Iparam& p, const R&) {
    u8 v = p.value > 4 ? 0 : u8(p.value);
    if (v != m.com_type) {
      m.com_type = v;
      m.create_IO_def(&m);
    }
    return true;
  }
  static void get_ip(Ascii& m, u16, Iparam& p, const R&) { p.text = m.address.c_str(); }
  static bool set_ip(Ascii& m, u16, const Iparam& p, const R&) {
    if (!p.text || std::strlen(p.text) > 15) return false;
    if (m.address != p.text) {
      m.address = p.text;
      m.create_IO_def(&m);
    }
    return true;
  }
  static void get_ip_port(Ascii& m, u16, Iparam& p, const R&) { p.value = m.ip_port; }
  static bool set_ip_port(Ascii& m, u16, const Iparam& p, const R&) {
    u16 v = u16(std::min<u32>(p.value, 65535));
    if (v != m.ip_port) {
      m.ip_port = v;
      m.create_IO_def(&m);
    }
    return true;
  }
  static void get_retries(Ascii& m, u16, Iparam& p, const R&) { p.value = m.retries; }
  static bool set_retries(Ascii& m, u16, const Iparam& p, const R&) {
    m.retries = u8(std::clamp<u32>(p.value, 1, 255));
    return true;
  }
};

const RowTable<Ascii> Ascii::rows{{
    rows::ref<&Ascii::enable>("Enable"),
    rows::ref<&Ascii::status_var>("Status", &AsciiRows::status_assigned),
    rows::ref<&Ascii::tx>("TX data", &AsciiRows::regrow_tx),
    rows::ref<&Ascii::rx>("RX data", &AsciiRows::regrow_rx),
    rows::custom<Ascii>("Com type~Ethernet~Serial 1~Serial 2~Serial 3~Serial 4", ptype::Select,
                        &AsciiRows::get_com, &AsciiRows::set_com),
    rows::custom<Ascii>("IP address", ptype::Text, &AsciiRows::get_ip, &AsciiRows::set_ip),
    rows::custom<Ascii>("Port number", ptype::Dec, &AsciiRows::get_ip_port, &AsciiRows::set_ip_port),
    rows::num<&Ascii::timeout>("Timeout (10mS steps)", ptype::Dec, 0, 65535),
    rows::custom<Ascii>("Retries", ptype::Dec, &AsciiRows::get_retries, &AsciiRows::set_retries),
    rows::num<&Ascii::n_send>("Number to send", ptype::Dec, 0, 255, &AsciiRows::regrow_tx),
    rows::num<&Ascii::n_receive>("Number to receive", ptype::Dec, 0, 255, &AsciiRows::regrow_rx),
    rows::text<&Ascii::tx_string>("TX string", kTextMax),
    rows::text<&Ascii::rx_parse>("RX parse control", kTextMax),
}};

Ascii::Ascii(Control* prev, const char* desc, u16) : WithRows(prev, desc) {
  com_type = 0;
  ip_port = 0;
  create_IO_def(this);
}

// As for the Modbus master: status first, then pending with release order.
Control* Ascii::execute() {
  if (port && port->kind == io_kind::AsciiMaster && !(enable.var && enable.get() == 0.0f) &&
      pending.load(std::memory_order_acquire) == 0) {
    status = ascii_status::Armed;
    pending.store(retries, std::memory_order_release);
  }
  return next;
}

bool Ascii::web(const IO_def* p) const { return p->port_number == 0 && tx_string.rfind("GET ", 0) == 0; }

std::string Ascii::expand() const {
  std::string out;
  u16 used = 0;
  char num[32];
  for (char c : tx_string) {
    if (c != '#') {
      out += c;
      continue;
    }
    if (!tx.var || used >= n_send) break;  // the rest of the template goes
    std::snprintf(num, sizeof num, "%g", double(tx.get(used++)));
    out += num;
  }
  return out + "\r\n";
}

// The request goes out whole or not at all: what the socket does not take
// at once waits in the port's output until it can (the reply time-out runs
// meanwhile); a broken connection is dropped and the attempt times out.
void Ascii::send_request(IO_def* p) {
  while (!p->output.empty()) {
    ssize_t n = send(p->descriptor, p->output.data(), p->output.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      p->output.erase(0, size_t(n));
      continue;
    }
    if (n < 0 && tcp_transient(errno)) return;
    p->output.clear();
    tcp_client_drop(p);
    return;
  }
}

void Ascii::start(IO_def* p) {
  if (pending.load(std::memory_order_acquire) == 0) return;
  if (!p || p != port || p->kind != io_kind::AsciiMaster || status != ascii_status::Armed ||
      tx_string.empty())
    return;
  const bool net = p->port_number == 0;
  p->progress = web(p) ? 0 : kBody;
  bool connected = net && tcp_client_connect(p);
  if (!net) {
    u8 junk[IO_FRAME];
    if (serial_read(p->descriptor, junk, IO_FRAME) > 0) set_serial(p, false);
  }
  p->busy = 1;
  p->synced = 0;
  p->count = 0;
  p->work1 = 0;
  p->input.clear();
  p->output = expand();
  p->reply_timer = 0;
  if (connected) {
    send_request(p);
  } else if (!net) {
    if (!serial_write(p->descriptor, reinterpret_cast<const u8*>(p->output.data()), int(p->output.size())))
      set_serial(p, true);
    p->output.clear();
  }
}

u8 Ascii::parse(const std::string& line) {
  const char* s = line.c_str();  // NUL-terminated: every search stops at its end
  size_t pos = 0;
  u16 stored = 0;
  auto store = [&](float v) { rx.set(stored++, std::isfinite(v) ? v : OVERFLOW_VALUE); };
  for (size_t k = 0; k < rx_parse.size() && stored < n_receive; ++k) {
    char c = rx_parse[k];
    if (c == '#') {
      char* end;
      float v = std::strtof(s + pos, &end);
      store(end == s + pos ? kNoNumber : v);
    } else if (c == '@' && k + 1 < rx_parse.size()) {
      // A text field up to the next c: its character codes summed.
      char until = rx_parse[++k];
      float sum = 0;
      while (s[pos] && s[pos] != until) sum += float(u8(s[pos++]));
      if (!s[pos]) break;
      ++pos;
      store(sum);
    } else {
      const char* at = std::strchr(s + pos, c);
      if (!at || c == '\0') break;  // the line end: what was found stays
      pos = size_t(at - s) + 1;
    }
  }
  return stored ? ascii_status::Ok : ascii_status::Refused;
}

void Ascii::finish(IO_def* p) {
  p->gap_timer = 0;
  p->reply_pending = 1;
  p->output.clear();
  p->input.clear();
  if (web(p)) tcp_client_drop(p);  // what is left unread goes with it
  u8 left = pending.load(std::memory_order_relaxed);
  if (status == ascii_status::Ok) {
    left = 1;
    p->idle_countdown = IO_IDLE_SECONDS;
  } else if (status == ascii_status::Armed) {
    left = 1;  // nothing to wait for: done, not sent again
  } else if (p->serial()) {
    set_serial(p, false);
  }
  if (left) --left;
  if (left == 0)
    status_var.set(float(status));
  else
    status = ascii_status::Armed;
  pending.store(left, std::memory_order_release);
}

void Ascii::end(IO_def* p) {
  if (p->reply_pending) {
    if (p->gap_timer >= 2) {
      p->reply_pending = 0;
      p->busy = 0;
    }
    return;
  }
  const bool net = p->port_number == 0;
  // A request still waiting for its connection, or for room in the socket.
  if (net && p->descriptor && (!p->line_flag || !p->output.empty())) {
    if (!p->line_flag) {
      int done = tcp_client_connect_done(p);
      if (done < 0) tcp_client_drop(p);
      if (done > 0) p->line_flag = 1;
    }
    if (p->line_flag) send_request(p);
  }
  const bool sent = !net || (p->descriptor && p->line_flag && p->output.empty());
  const bool ack = !rx.var && n_receive;
  const bool data = rx.var && !rx_parse.empty() && n_receive;
  if (!ack && !data) {
    // Nothing to wait for: finished once the request is out.
    if (sent || p->reply_timer >= timeout) {
      status = sent ? ascii_status::Armed : ascii_status::Timeout;
      finish(p);
    }
    return;
  }

  bool complete = false;
  if (p->reply_timer >= timeout) {
    if (!(p->synced && web(p))) {  // a web body may end with the time-out
      if (net && !p->line_flag) tcp_client_drop(p);
      status = ascii_status::Timeout;
      finish(p);
      return;
    }
    complete = true;
  }
  if (!complete) {
    static u8 buf[ASCII_RECEIVE_MAX];  // execution thread only
    int n;
    bool closed = false;
    if (net) {
      if (!sent) return;
      ssize_t r = recv(p->descriptor, buf, sizeof buf, MSG_DONTWAIT);
      if (r < 0 && tcp_transient(errno)) return;
      if (r <= 0) {
        closed = true;
        tcp_client_drop(p);
        n = 0;
      } else {
        n = int(r);
      }
    } else {
      if (!p->descriptor) return;
      errno = 0;
      n = serial_read(p->descriptor, buf, int(sizeof buf));
      if (n == 0 || (n < 0 && !tcp_transient(errno))) {
        set_serial(p, true);  // hung up: the time-out re-opens it
        return;
      }
      if (n < 0) return;
    }
    for (int i = 0; i < n && !complete; ++i) {
      const u8 x = buf[i];
      if (p->progress < 4) {  // a web answer's header, up to its empty line
        if (x == '\r')
          p->progress = p->progress == 2 ? 3 : 1;
        else if (x == '\n')
          p->progress = p->progress == 1 ? 2 : p->progress == 3 ? 4 : 0;
        else
          p->progress = 0;
        continue;
      }
      p->progress = kBody;
      if (x == '\r' || x == '\n') {
        complete = p->synced;  // line ends before the answer are skipped
        continue;
      }
      if (!p->synced) {
        p->synced = 1;
        status = ascii_status::Started;
      }
      if (p->input.size() < ASCII_ANSWER_MAX)
        p->input += char(x);
      else
        p->work1 = 1;  // too long to be parsed
    }
    // A web body may also end with the peer closing.
    if (!complete && !(closed && p->synced && web(p))) return;
  }
  status = ascii_status::Refused;
  if (!p->work1) {
    if (ack)
      status = p->input[0] == 'd' || p->input[0] == 'D' ? ascii_status::Ok : ascii_status::Refused;
    else
      status = parse(p->input);
  }
  finish(p);
}
