#include "io/modbus_slave.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

#include "core/convert.h"
#include "core/engine.h"
#include "core/registry.h"
#include "io/modbus_master.h"
#include "io/serial.h"
#include "io/slave_link.h"

QUOR_REGISTER_INSTRUCTION(30, Modslave);

namespace {

constexpr u32 kFrameTimeoutTicks = 51;  // 510 ms without a byte ends a frame
constexpr u32 kGapTicks = 2;            // 20 ms before a serial reply
constexpr u32 kMbap = 6;                // transaction, protocol, length

void put16(u8* at, u32 v) {
  at[0] = u8(v >> 8);
  at[1] = u8(v);
}
u16 get16(const u8* at) { return u16(at[0] << 8 | at[1]); }

bool is_float_type(u8 t) { return t == mb_reg::Float || t == mb_reg::FloatSwapped; }

// A cell as a register: truncated, kept within -32768..65535 (negative
// values give their two's-complement image), NaN 0.
u16 register_of(float v) { return u16(saturate<int32_t>(v, -32768, 65535) & 0xFFFF); }
bool coil_of(float v) { return v != 0.0f && v == v; }

// Serial counters in "!System" 16+4p.. for line p.
enum Counter : u16 { kTimeouts = 0, kCrcErrors = 1, kRejected = 2, kReplies = 3 };
void count(const IO_def* p, Counter c) {
  u16 cell = u16(16 + 4 * p->port_number + c);
  sys_set(cell, sys_get(cell) + 1.0f);
}

void clear_frame(IO_def* p) {
  p->count = 0;
  p->synced = 0;
  p->reply_pending = 0;
}

// Length of the RTU frame being received, from what has arrived: write
// requests for several coils or registers carry a byte count at index 6;
// every other function code (served or not) is an 8-byte frame.
u32 rtu_length(const IO_def* p) {
  if (p->count >= 7 && (p->frame[1] == 15 || p->frame[1] == 16)) return 9u + p->frame[6];
  return 8;
}

void serial_step(IO_def* p) {
  if (p->work2 == 0 || p->descriptor <= 0) return;  // no unit address: the line is not read
  if (!p->synced) clear_frame(p);
  if (p->reply_pending) {
    if (p->gap_timer < kGapTicks) return;
    if (serial_write(p->descriptor, p->frame.data(), int(p->expected))) count(p, kReplies);
    clear_frame(p);
    return;
  }
  for (;;) {
    u32 total = rtu_length(p);
    u8 buf[IO_FRAME];
    int n = serial_read(p->descriptor, buf, int(total - p->count));
    if (n <= 0) {
      if (p->synced && p->reply_timer >= kFrameTimeoutTicks) {
        count(p, kTimeouts);
        set_serial(p, false);
        clear_frame(p);
      }
      return;
    }
    p->reply_timer = 0;
    p->synced = 1;
    std::memcpy(p->frame.data() + p->count, buf, size_t(n));
    p->count += u32(n);
    if (p->count < rtu_length(p)) continue;  // more of it may be waiting
    break;
  }
  const u32 total = p->count;
  u16 got = u16(p->frame[total - 2] | p->frame[total - 1] << 8);
  if (got != modbus_crc(p->frame.data(), total - 2)) {
    count(p, kCrcErrors);
    set_serial(p, false);
    clear_frame(p);
    return;
  }
  // Another unit's request, or a broadcast (unit 0): not ours to answer.
  if (p->frame[0] != p->work2) {
    clear_frame(p);
    return;
  }
  u8 reply[IO_FRAME];
  u32 r = mbs_process(p->frame.data(), total - 2, mbs_window_base(p->port_number),
                      MBS_SERIAL_SIZE, reply);
  if (r == 0) {
    count(p, kRejected);
    clear_frame(p);
    return;
  }
  u16 crc = modbus_crc(reply, r);
  reply[r] = u8(crc);
  reply[r + 1] = u8(crc >> 8);
  std::memcpy(p->frame.data(), reply, r + 2);
  p->expected = r + 2;
  p->reply_pending = 1;
  p->gap_timer = 0;
  p->idle_countdown = IO_IDLE_SECONDS;
}

// Every complete request the connection holds is answered, in order, the
// replies sent together; a partial one waits for the rest (or for the frame
// time-out).
void tcp_step(IO_def* p) {
  const bool fresh = p->word != 0;
  p->word = 0;
  if (fresh) p->reply_timer = 0;
  std::string replies;
  bool broken = false;
  while (p->input.size() >= kMbap) {
    const u8* in = reinterpret_cast<const u8*>(p->input.data());
    u32 length = get16(in + 4);
    if (length < 2 || length > 254) {  // not a Modbus TCP stream
      broken = true;
      break;
    }
    if (p->input.size() < kMbap + length) break;
    u8 reply[kMbap + IO_FRAME];
    u32 r = mbs_process(in + kMbap, length, MBS_TCP_BASE, MBS_TCP_SIZE, reply + kMbap);
    if (r) {
      reply[0] = in[0];
      reply[1] = in[1];
      reply[2] = reply[3] = 0;
      put16(reply + 4, r);
      p->idle_countdown = IO_IDLE_SECONDS;
      replies.append(reinterpret_cast<const char*>(reply), kMbap + r);
    }
    p->input.erase(0, kMbap + length);
  }
  if (!replies.empty() &&
      !slave_send(p, reinterpret_cast<const u8*>(replies.data()), replies.size(), false))
    broken = true;
  if (broken) {
    delete p;
    return;
  }
  if (!p->input.empty() && !fresh && p->reply_timer >= kFrameTimeoutTicks) p->input.clear();
}

}  // namespace

u32 mbs_process(const u8* q, u32 length, u16 base, u16 size, u8* r) {
  if (length < 6) return 0;
  const u8 fc = q[1];
  const u32 start = get16(q + 2);
  const u32 quantity = get16(q + 4);
  r[0] = q[0];
  r[1] = fc;
  switch (fc) {
    case 1:
    case 2: {
      if (length != 6 || quantity < 1 || quantity > 2000 || start + quantity > size) return 0;
      u32 bytes = (quantity + 7) / 8;
      r[2] = u8(bytes);
      std::memset(r + 3, 0, bytes);
      for (u32 i = 0; i < quantity; ++i)
        if (coil_of(sys_get(u16(base + start + i)))) r[3 + i / 8] |= u8(1u << (i % 8));
      return 3 + bytes;
    }
    case 3:
    case 4:
      if (length != 6 || quantity < 1 || quantity > 125 || start + quantity > size) return 0;
      r[2] = u8(2 * quantity);
      for (u32 i = 0; i < quantity; ++i) put16(r + 3 + 2 * i, register_of(sys_get(u16(base + start + i))));
      return 3 + 2 * quantity;
    case 5:
    case 6:
      if (length != 6 || start >= size) return 0;
      sys_set(u16(base + start), fc == 5 ? (quantity ? 1.0f : 0.0f) : float(quantity));
      std::memcpy(r, q, 6);
      return 6;
    case 15:
    case 16: {
      if (length < 7) return 0;
      const u32 bytes = q[6];
      const bool bits = fc == 15;
      if (quantity < 1 || quantity > (bits ? 1968u : 123u) || start + quantity > size ||
          bytes != (bits ? (quantity + 7) / 8 : 2 * quantity) || length != 7 + bytes)
        return 0;
      for (u32 i = 0; i < quantity; ++i) {
        float v = bits ? float((q[7 + i / 8] >> (i % 8)) & 1) : float(get16(q + 7 + 2 * i));
        sys_set(u16(base + start + i), v);
      }
      std::memcpy(r + 2, q + 2, 4);
      return 6;
    }
    default:
      return 0;
  }
}

void modbus_rec_proc(IO_def* p) {
  if (p->kind != io_kind::ModbusSlave) return;
  if (p->serial())
    serial_step(p);
  else if (p->port_number == 0)
    tcp_step(p);
}

// Parameter rows that check the block against the window.
struct ModslaveRows {
  using R = Row<Modslave>;
  static bool fits(const Modslave& m) { return u32(m.address) + m.length < mbs_window_size(m.com_type); }
  static void regrow(Modslave& m, u16) { revalidate_block(m.transfer, m.length); }

  static void get_com(Modslave& m, u16, Iparam& p, const R&) { p.value = m.com_type; }
  static bool set_com(Modslave& m, u16, const Iparam& p, const R&) {
    m.com_type = p.value > 4 ? 0 : u8(p.value);
    return true;
  }
  // Shown 1-based; a field that would take the block out of its window is
  // reset to 1.
  static void get_address(Modslave& m, u16, Iparam& p, const R&) { p.value = m.address + 1u; }
  static bool set_address(Modslave& m, u16, const Iparam& p, const R&) {
    m.address = u16(std::clamp<u32>(p.value, 1, 65536) - 1);
    if (!fits(m)) m.address = 0;
    return true;
  }
  static void get_length(Modslave& m, u16, Iparam& p, const R&) { p.value = m.length + 1u; }
  static bool set_length(Modslave& m, u16, const Iparam& p, const R&) {
    m.length = u16(std::clamp<u32>(p.value, 1, 65536) - 1);
    if (!fits(m)) m.length = 0;
    regrow(m, 0);
    return true;
  }
};

const RowTable<Modslave> Modslave::rows{{
    rows::ref<&Modslave::enable>("Enable"),
    rows::ref<&Modslave::transfer>("I/O transfer", &ModslaveRows::regrow),
    rows::custom<Modslave>("Com type~Ethernet~Serial 1~Serial 2~Serial 3~Serial 4", ptype::Select,
                           &ModslaveRows::get_com, &ModslaveRows::set_com),
    rows::custom<Modslave>("Register address", ptype::Dec, &ModslaveRows::get_address,
                           &ModslaveRows::set_address),
    rows::num<&Modslave::reg_type>(
        "Register type~Float~Unsigned int~2s comp int~Int and sign~BCD int~Float(swapped)",
        ptype::Select, 0, 5),
    rows::custom<Modslave>("Block length to transfer", ptype::Dec, &ModslaveRows::get_length,
                           &ModslaveRows::set_length),
    rows::num<&Modslave::direction>(
        "Direction~Read from Modbus registers~Write to Modbus registers", ptype::Select, 0, 1),
}};

Modslave::Modslave(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

Control* Modslave::execute() {
  if (!transfer.var || (enable.var && enable.get() == 0.0f)) return next;
  const u32 per = is_float_type(reg_type) ? 2 : 1;
  if (address + (u32(length) + 1) * per > mbs_window_size(com_type)) return next;
  u16 cell = u16(mbs_window_base(com_type) + address);
  for (u32 i = 0; i <= length; ++i, cell = u16(cell + per)) {
    if (direction == 0) {
      float v;
      if (reg_type == mb_reg::Unsigned) {
        v = sys_get(cell);
      } else {
        u16 second = per == 2 ? register_of(sys_get(u16(cell + 1))) : 0;
        v = mb_decode(reg_type, register_of(sys_get(cell)), second);
        if (!std::isfinite(v)) v = OVERFLOW_VALUE;
      }
      transfer.set(u16(i), v);
    } else {
      float v = transfer.get(u16(i));
      if (reg_type == mb_reg::Unsigned) {
        sys_set(cell, v == v ? std::clamp(v, 0.0f, 65535.0f) : 0.0f);
        continue;
      }
      u16 first, second;
      mb_encode(reg_type, v, &first, &second);
      sys_set(cell, float(first));
      if (per == 2) sys_set(u16(cell + 1), float(second));
    }
  }
  return next;
}
