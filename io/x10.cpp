#include "io/x10.h"

#include <algorithm>
#include <cstring>

#include "core/convert.h"
#include "core/engine.h"
#include "core/registry.h"
#include "io/serial.h"

QUOR_REGISTER_INSTRUCTION(25, X10);

namespace {

constexpr u32 kResendTicks = 101;  // 1.01 s between attempts
constexpr u32 kMessageMax = 32;

// Index 0-15 of a four-bit code, or -1.
int code_index(u32 code) {
  for (int i = 0; i < 16; ++i)
    if (X10_CODES[i] == code) return i;
  return -1;
}
int house_index(u8 b) { return b >= 0x40 && b < 0x50 ? code_index(b - 0x40u) : -1; }
int unit_index(u8 b) { return b >= 0x40 && b < 0x60 && !(b & 1) ? code_index((b - 0x40u) / 2) : -1; }

void send(IO_def* p, const u8* bytes, int n) {
  if (!serial_write(p->descriptor, bytes, n)) set_serial(p, true);
}

// Port fields used here: function, the latched function byte; expected,
// the latched house and unit bytes; work1, the attempt counter; skip, the
// house and unit last addressed on the power line.
void message(IO_def* p, const u8* m, u32 n) {
  if (m[0] == 'x' && n == 5) {  // power-line traffic
    if (unit_index(m[2]) >= 0) {
      p->skip = u32(m[1]) << 8 | m[2];
    } else if ((m[2] == 0x45 || m[2] == 0x47) && p->skip >> 8 == m[1]) {
      int h = house_index(m[1]), u = unit_index(u8(p->skip));
      if (h >= 0 && u >= 0) sys_set(u16(X10_MIRROR + h * 16 + u), m[2] == 0x45 ? 1.0f : 0.0f);
    }
    return;
  }
  const u8 house = u8(p->expected >> 8), unit = u8(p->expected);
  switch (p->progress) {
    case x10_state::Waiting:
      if (n >= 2 && m[n - 2] == 0x06) p->progress = x10_state::Acked;
      break;
    case x10_state::Sent:
      if (n >= 3 && m[0] == 'X')
        p->progress = m[1] == house && m[2] == unit ? x10_state::Addressed : x10_state::Mismatch;
      break;
    case x10_state::Addressed:
      if (n >= 3)
        p->progress = m[1] == house && m[2] == u8(p->function) ? x10_state::Done : x10_state::Mismatch;
      break;
    default:
      break;
  }
}

}  // namespace

struct X10Rows {
  using R = Row<X10>;
  static void get_com(X10& m, u16, Iparam& p, const R&) { p.value = m.com_type; }
  static bool set_com(X10& m, u16, const Iparam& p, const R&) {
    u8 v = p.value > 4 ? 0 : u8(p.value);
    if (v != m.com_type) {
      m.com_type = v;
      m.create_IO_def(&m);
    }
    return true;
  }
  static void get_house(X10& m, u16, Iparam& p, const R&) { p.value = u32(std::max(house_index(m.house), 0)); }
  static bool set_house(X10& m, u16, const Iparam& p, const R&) {
    m.house = u8(0x40 + X10_CODES[std::min<u32>(p.value, 15)]);
    return true;
  }
  static void get_unit(X10& m, u16, Iparam& p, const R&) { p.value = u32(std::max(unit_index(m.unit), 0)); }
  static bool set_unit(X10& m, u16, const Iparam& p, const R&) {
    m.unit = u8(0x40 + X10_CODES[std::min<u32>(p.value, 15)] * 2);
    return true;
  }
};

const RowTable<X10> X10::rows{{
    rows::ref<&X10::enable>("Enable"),
    rows::ref<&X10::command>("Command"),
    rows::custom<X10>("Com port~Off~Serial 1~Serial 2~Serial 3~Serial 4", ptype::Select,
                      &X10Rows::get_com, &X10Rows::set_com),
    rows::custom<X10>("House code~A~B~C~D~E~F~G~H~I~J~K~L~M~N~O~P", ptype::Select,
                      &X10Rows::get_house, &X10Rows::set_house),
    rows::custom<X10>("Unit code~1~2~3~4~5~6~7~8~9~10~11~12~13~14~15~16", ptype::Select,
                      &X10Rows::get_unit, &X10Rows::set_unit),
    rows::num<&X10::repeat>("Repeat time", ptype::Dec),
}};

X10::X10(Control* prev, const char* desc, u16) : WithRows(prev, desc) {
  com_type = 0;  // "Off" until a line is chosen
  create_IO_def(this);
}

Control* X10::execute() {
  if (!port || !command.var || port->kind != io_kind::X10) {
    pending.store(0, std::memory_order_release);
    return next;
  }
  const u32 cmd = saturate<u32>(command.get(), 0, 255);
  if (cmd > 6 || pending.load(std::memory_order_acquire)) return next;
  const float en = enable.var ? enable.get() : 1.0f;
  if (en == 0.0f) return next;
  const u32 now = timec.load(std::memory_order_relaxed);
  if (en <= 1.0f && cmd == last_command && now - last_time < repeat) return next;
  last_command = u8(cmd);
  last_time = now;
  function_ = X10_FUNCTIONS[cmd];
  pending.store(1, std::memory_order_release);
  return next;
}

void X10::start(IO_def* p) {
  if (pending.load(std::memory_order_acquire) == 0) return;
  if (!p || p != port || p->kind != io_kind::X10) return;
  // The command is latched: a later execution cannot change it in flight.
  p->function = function_;
  p->expected = u32(house) << 8 | unit;
  p->work1 = 0;
  p->reply_timer = kResendTicks;
  p->busy = 1;
  p->progress = x10_state::Begin;
  end(p);
}

void X10::finish(IO_def* p) {
  p->busy = 0;
  p->count = 0;
  p->progress = 0;
  pending.store(0, std::memory_order_release);
}

void X10::end(IO_def* p) {
  static const u8 kStart = 0x02;
  switch (p->progress) {
    case x10_state::Acked: {
      const u8 out[5] = {0x63, u8(p->expected >> 8), u8(p->expected), u8(p->function), 0x41};
      p->reply_timer = 0;
      send(p, out, 5);
      p->progress = x10_state::Sent;
      return;
    }
    case x10_state::Done:
      finish(p);
      return;
    case x10_state::Mismatch:
      break;  // try again at once
    default:
      if (p->reply_timer < kResendTicks) return;
      break;
  }
  // Every 0x02 is an attempt, also after a mismatch: an interface that
  // never agrees cannot hold the port.
  if (++p->work1 > X10_ATTEMPTS) {
    finish(p);
    return;
  }
  send(p, &kStart, 1);
  p->progress = x10_state::Waiting;
  p->reply_timer = 0;
}

void X10_rec_proc(IO_def* p) {
  if (p->kind != io_kind::X10 || !p->serial() || p->descriptor <= 0) return;
  u8 buf[kMessageMax];
  int n = serial_read(p->descriptor, buf, int(sizeof buf));
  if (n <= 0) {
    if (p->count && p->reply_timer >= kResendTicks) {
      p->count = 0;
      p->reply_timer = 0;
    }
    return;
  }
  p->reply_timer = 0;
  for (int i = 0; i < n; ++i) {
    if (p->count >= kMessageMax) p->count = 0;
    p->frame[p->count++] = buf[i];
    if (buf[i] == '\r') {  // every CR ends a message
      message(p, p->frame.data(), p->count);
      p->count = 0;
    }
  }
}
