#include "io/ascii_slave.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/engine.h"
#include "core/registry.h"
#include "io/serial.h"
#include "io/slave_link.h"

QUOR_REGISTER_INSTRUCTION(32, Asciislave);

namespace {

constexpr u32 kLineTimeoutTicks = 51;  // 510 ms without a byte drops a partial line
constexpr size_t kOutputMax = 65536;   // queued reply bytes a connection may hold

// A decimal integer at s (leading blanks allowed); false when there is none
// or it is out of long's range.
bool read_int(const char*& s, long* out) {
  char* end;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (end == s || errno == ERANGE) return false;
  s = end;
  *out = v;
  return true;
}

bool read_number(const char*& s, float* out) {
  char* end;
  float v = std::strtof(s, &end);
  if (end == s) return false;
  s = end;
  *out = std::isfinite(v) ? v : OVERFLOW_VALUE;
  return true;
}

// The line's kept copy is NUL-terminated, so the parsers stop at its end.
std::string read_reply(const char* s, u16 base) {
  long a, n;
  if (!read_int(s, &a) || *s++ != ',' || !read_int(s, &n)) return {};
  if (a < 1 || a > ASCII_WINDOW || n < 1 || (a - 1) + (n - 1) > ASCII_WINDOW - 1) return {};
  std::string out;
  char num[32];
  for (long r = a; r < a + n; ++r) {
    std::snprintf(num, sizeof num, "%g", double(sys_get(u16(base + r - 1))));
    if (r > a) out += ',';
    out += num;
  }
  return out + "\r\n";
}

std::string write_reply(const char* s, u16 base) {
  long a;
  if (!read_int(s, &a) || a < 1 || a > ASCII_WINDOW) return {};
  // Values follow the second comma; the field between is not used.
  for (int commas = 0; commas < 2; ++s)
    if (*s == ',')
      ++commas;
    else if (!*s)
      return "Done\r\n";
  for (long r = a; r <= ASCII_WINDOW; ++r) {
    float v;
    if (!read_number(s, &v)) break;
    sys_set(u16(base + r - 1), v);
    if (*s != ',') break;
    ++s;
  }
  return "Done\r\n";
}

bool send_reply(IO_def* p, const std::string& reply) {
  if (p->output.size() + reply.size() > kOutputMax) return false;
  return slave_send(p, reinterpret_cast<const u8*>(reply.data()), reply.size(), true);
}

// Takes every complete line from the port's input and answers it; the
// replies go out together. False when the connection must be closed.
bool serve_lines(IO_def* p, u16 base) {
  std::string replies;
  for (;;) {
    size_t end = p->input.find_first_of("\r\n");
    if (end == std::string::npos) {
      if (p->input.size() > ASCII_LINE_MAX) {  // too long to be a request: dropped
        p->input.clear();
        p->work1 = 1;  // and so is the rest of it, up to its line end
      }
      break;
    }
    std::string line = p->input.substr(0, end);
    p->input.erase(0, end + 1);
    if (p->work1) {  // the tail of an over-long line
      p->work1 = 0;
      continue;
    }
    if (line.empty() || line.size() > ASCII_LINE_MAX) continue;  // empty: the LF of CR LF
    std::string reply = ascii_answer(line, base);
    if (reply.empty()) {
      if (p->serial()) set_serial(p, false);
      continue;
    }
    p->idle_countdown = IO_IDLE_SECONDS;
    replies += reply;
    if (replies.size() > kOutputMax) return false;
  }
  return replies.empty() || send_reply(p, replies);
}

}  // namespace

std::string ascii_answer(std::string_view line, u16 base) {
  if (line.size() < 3) return {};
  std::string copy(line.substr(2));
  char c = line[0];
  if (c == 'R' || c == 'r') return read_reply(copy.c_str(), base);
  if (c == 'W' || c == 'w') return write_reply(copy.c_str(), base);
  return {};
}

void Ascii_rec_proc(IO_def* p) {
  if (p->kind != io_kind::AsciiSlave) return;
  bool fresh;
  if (p->serial()) {
    if (p->descriptor <= 0) return;
    u8 buf[ASCII_LINE_MAX];
    int n = serial_read(p->descriptor, buf, int(sizeof buf));
    fresh = n > 0;
    if (fresh) p->input.append(reinterpret_cast<const char*>(buf), size_t(n));
  } else if (p->port_number == 0) {
    fresh = p->word != 0;
    p->word = 0;
  } else {
    return;
  }
  if (!slave_flush(p)) {
    if (!p->serial()) delete p;
    return;
  }
  if (!fresh) {
    if ((!p->input.empty() || p->work1) && p->reply_timer >= kLineTimeoutTicks) {
      p->input.clear();
      p->work1 = 0;
    }
    return;
  }
  p->reply_timer = 0;
  if (!serve_lines(p, ascii_window_base(p->port_number)) && !p->serial()) delete p;
}

namespace {

bool fits(const Asciislave& m) { return u32(m.address) + m.length < ASCII_WINDOW; }
using R = Row<Asciislave>;

}  // namespace

const RowTable<Asciislave> Asciislave::rows{{
    rows::ref<&Asciislave::enable>("Enable"),
    rows::ref<&Asciislave::transfer>(
        "I/O transfer", [](Asciislave& m, u16) { revalidate_block(m.transfer, m.length); }),
    rows::custom<Asciislave>(
        "Com type~Ethernet~Serial 1~Serial 2~Serial 3~Serial 4", ptype::Select,
        [](Asciislave& m, u16, Iparam& p, const R&) { p.value = m.com_type; },
        [](Asciislave& m, u16, const Iparam& p, const R&) {
          m.com_type = p.value > 4 ? 0 : u8(p.value);
          return true;
        }),
    // Shown 1-based; a field that would take the block out of the window is
    // reset to 1.
    rows::custom<Asciislave>(
        "Register address", ptype::Dec,
        [](Asciislave& m, u16, Iparam& p, const R&) { p.value = m.address + 1u; },
        [](Asciislave& m, u16, const Iparam& p, const R&) {
          m.address = u16(std::clamp<u32>(p.value, 1, 65536) - 1);
          if (!fits(m)) m.address = 0;
          return true;
        }),
    rows::custom<Asciislave>(
        "Block length to transfer", ptype::Dec,
        [](Asciislave& m, u16, Iparam& p, const R&) { p.value = m.length + 1u; },
        [](Asciislave& m, u16, const Iparam& p, const R&) {
          m.length = u16(std::clamp<u32>(p.value, 1, 65536) - 1);
          if (!fits(m)) m.length = 0;
          revalidate_block(m.transfer, m.length);
          return true;
        }),
    rows::num<&Asciislave::direction>(
        "Direction~Read from Ascii registers~Write to Ascii registers", ptype::Select, 0, 1),
}};

Asciislave::Asciislave(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

Control* Asciislave::execute() {
  if (!transfer.var || (enable.var && enable.get() == 0.0f) || !fits(*this)) return next;
  const u16 base = u16(ascii_window_base(com_type) + address);
  for (u16 i = 0; i <= length; ++i) {
    if (direction == 0)
      transfer.set(i, sys_get(u16(base + i)));
    else
      sys_set(u16(base + i), transfer.get(i));
  }
  return next;
}
