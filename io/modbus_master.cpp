#include "io/modbus_master.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "core/convert.h"
#include "core/registry.h"
#include "io/serial.h"
#include "io/tcp_client.h"
#include "net/sockets.h"

QUOR_REGISTER_INSTRUCTION(11, Modbus);

namespace {

constexpr u32 kTcpHeader = 6;

void put16(u8* at, u32 v) {
  at[0] = u8(v >> 8);
  at[1] = u8(v);
}
u16 get16(const u8* at) { return u16(at[0] << 8 | at[1]); }

bool is_float_type(u8 t) { return t == mb_reg::Float || t == mb_reg::FloatSwapped; }

bool transient(int e) { return tcp_transient(e); }
void drop_connection(IO_def* port) { tcp_client_drop(port); }

}  // namespace

u16 modbus_crc(const u8* bytes, u32 length) {
  u16 crc = 0xFFFF;
  for (u32 i = 0; i < length; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? u16((crc >> 1) ^ 0xA001) : u16(crc >> 1);
  }
  return crc;
}

u16 general_crc(int length, const IO_def* p) {
  if (!p || length <= 0) return 0;
  return modbus_crc(p->frame.data(), std::min<u32>(u32(length), IO_FRAME));
}

void mb_encode(u8 t, float v, u16* first, u16* second) {
  *second = 0;
  double d = std::isnan(v) ? 0.0 : double(v);
  switch (t) {
    case mb_reg::Float:
      *first = u16(float_bits(v) & 0xFFFF);
      *second = u16(float_bits(v) >> 16);
      break;
    case mb_reg::FloatSwapped:
      *first = u16(float_bits(v) >> 16);
      *second = u16(float_bits(v) & 0xFFFF);
      break;
    case mb_reg::Unsigned:
      *first = saturate<u16>(d);
      break;
    case mb_reg::TwosComp:
      *first = u16(saturate<int16_t>(d));
      break;
    case mb_reg::IntSign:
      *first = saturate<u16>(std::fabs(d), 0, 32767) | (d < 0 ? 0x8000 : 0);
      break;
    case mb_reg::Bcd: {
      unsigned n = saturate<unsigned>(d, 0, 9999);
      *first = u16((n / 1000) << 12 | (n / 100 % 10) << 8 | (n / 10 % 10) << 4 | n % 10);
      break;
    }
    default:
      *first = 0;
      break;
  }
}

float mb_decode(u8 t, u16 first, u16 second) {
  switch (t) {
    case mb_reg::Float: return bits_float(u32(second) << 16 | first);
    case mb_reg::FloatSwapped: return bits_float(u32(first) << 16 | second);
    case mb_reg::Unsigned: return float(first);
    case mb_reg::TwosComp: return float(int16_t(first));
    case mb_reg::IntSign: return (first & 0x8000) ? -float(first & 0x7FFF) : float(first & 0x7FFF);
    case mb_reg::Bcd:
      return float((first >> 12) * 1000 + (first >> 8 & 15) * 100 + (first >> 4 & 15) * 10 +
                   (first & 15));
    default: return 0.0f;
  }
}

// Parameter rows that need more than a member and a clamp.
struct ModbusRows {
  using R = Row<Modbus>;
  static void regrow(Modbus& m, u16) { m.regrow(); }
  static void status_assigned(Modbus& m, u16) { m.status_var.set(2.0f); }

  static void get_com(Modbus& m, u16, Iparam& p, const R&) { p.value = m.com_type; }
  static bool set_com(Modbus& m, u16, const Iparam& p, const R&) {
    u8 v = p.value > 4 ? 1 : u8(p.value);
    if (v != m.com_type) {
      m.com_type = v;
      m.create_IO_def(&m);
    }
    return true;
  }
  static void get_ip(Modbus& m, u16, Iparam& p, const R&) { p.text = m.address.c_str(); }
  static bool set_ip(Modbus& m, u16, const Iparam& p, const R&) {
    if (!p.text || std::strlen(p.text) > 15) return false;
    if (m.address != p.text) {
      m.address = p.text;
      m.create_IO_def(&m);
    }
    return true;
  }
  static void get_ip_port(Modbus& m, u16, Iparam& p, const R&) { p.value = m.ip_port; }
  static bool set_ip_port(Modbus& m, u16, const Iparam& p, const R&) {
    u16 v = u16(std::min<u32>(p.value, 65535));
    if (v != m.ip_port) {
      m.ip_port = v;
      m.create_IO_def(&m);
    }
    return true;
  }
  // Shown and entered 1-based; an entered 0 counts as 1.
  static void get_address(Modbus& m, u16, Iparam& p, const R&) { p.value = m.reg_address + 1; }
  static bool set_address(Modbus& m, u16, const Iparam& p, const R&) {
    m.reg_address = std::clamp<u32>(p.value, 1, 65536) - 1;
    return true;
  }
  static void get_retries(Modbus& m, u16, Iparam& p, const R&) { p.value = m.retries; }
  static bool set_retries(Modbus& m, u16, const Iparam& p, const R&) {
    m.retries = u8(std::clamp<u32>(p.value, 1, 255));
    return true;
  }
};

const RowTable<Modbus> Modbus::rows{
    {
        rows::ref<&Modbus::enable>("Enable"),
        rows::ref<&Modbus::status_var>("Status", &ModbusRows::status_assigned),
        rows::ref<&Modbus::transfer>("I/O transfer", &ModbusRows::regrow),
        rows::custom<Modbus>("Com type~Ethernet~Serial 1~Serial 2~Serial 3~Serial 4", ptype::Select,
                             &ModbusRows::get_com, &ModbusRows::set_com),
        rows::custom<Modbus>("IP address", ptype::Text, &ModbusRows::get_ip, &ModbusRows::set_ip),
        rows::custom<Modbus>("Port number", ptype::Dec, &ModbusRows::get_ip_port,
                             &ModbusRows::set_ip_port),
        rows::num<&Modbus::unit>("Unit address", ptype::Dec, 0, 255),
        rows::custom<Modbus>("Register address", ptype::Dec, &ModbusRows::get_address,
                             &ModbusRows::set_address),
        rows::num<&Modbus::command>(
            "Command~Read coils(1)~Read input discretes(2)~Read registers(3)~Read input "
            "registers(4)~Set single coil(5)~Set single register(6)~Set multiple coils(15)~Set "
            "multiple registers(16)",
            ptype::Select, 0, 255),
        rows::num<&Modbus::reg_type>(
            "Register type~Float~Unsigned int~2s comp int~Int and sign~BCD int~Float(swapped)",
            ptype::Select, 0, 5),
        rows::num<&Modbus::timeout>("Timeout (10mS steps)", ptype::Dec, 0, 65535),
        rows::custom<Modbus>("Retries", ptype::Dec, &ModbusRows::get_retries,
                             &ModbusRows::set_retries),
    },
    {
        rows::gnum<&Modbus::coef, &Modbus::Coef::a>("A coefficient", ptype::Float),
        rows::gnum<&Modbus::coef, &Modbus::Coef::b>("B coefficient", ptype::Float),
    }};

Modbus::Modbus(Control* prev, const char* desc, u16 n) : WithRows(prev, desc) {
  count = u8(std::clamp<u16>(n, 1, 128));
  coef.resize(count);
  create_IO_def(this);
}

bool Modbus::resize(u16 n) {
  count = u8(std::clamp<u16>(n, 1, 128));
  coef.resize(count);
  regrow();
  return true;
}

float Modbus::get_float(u16 i) const {
  const Coef& c = coef[i];
  return transfer.var ? transfer.get(i) * c.a + c.b : c.b;
}

void Modbus::save_float(u16 i, float x) {
  const Coef& c = coef[i];
  float y = x * c.a + c.b;
  transfer.set(i, std::isfinite(y) ? y : OVERFLOW_VALUE);
}

u16 Modbus::crc(int length, const IO_def* p) const {
  return com_type == 0 ? 0 : general_crc(length, p);
}

// Executing hands the armed request to the scheduler: status first, then
// pending with release order. The scheduler touches status only while
// pending is non-zero, and clears pending last, so a single step on the
// main thread (scan paused, I/O going on) never meets it.
Control* Modbus::execute() {
  if (port && port->kind == io_kind::ModbusMaster && transfer.var &&
      !(enable.var && enable.get() == 0.0f) && pending.load(std::memory_order_acquire) == 0) {
    status = mb_status::Armed;
    pending.store(retries, std::memory_order_release);
  }
  return next;
}

u32 Modbus::build_request(u8* f) const {
  if (command >= MB_COMMANDS) return 0;
  const u32 per_value = is_float_type(reg_type) ? 2 : 1;
  f[0] = unit;
  f[1] = mb_function_of[command];
  put16(f + 2, reg_address);
  switch (command) {
    case 0:
    case 1:
      put16(f + 4, count);
      return 6;
    case 2:
    case 3:
      // More than 128 registers do not fit the reply's byte count.
      if (count * per_value > 128) return 0;
      put16(f + 4, count * per_value);
      return 6;
    case 4:
      f[4] = get_float(0) != 0.0f ? 0xFF : 0x00;
      f[5] = 0x00;
      return 6;
    case 5: {
      u16 r = 0, unused;
      if (!is_float_type(reg_type)) mb_encode(reg_type, get_float(0), &r, &unused);
      put16(f + 4, r);
      return 6;
    }
    case 6: {
      u32 bytes = (count - 1u) / 8 + 1;
      put16(f + 4, count);
      f[6] = u8(bytes);
      std::memset(f + 7, 0, bytes);
      for (u16 i = 0; i < count; ++i)
        if (get_float(i) != 0.0f) f[7 + i / 8] |= u8(1u << (i % 8));
      return 7 + bytes;
    }
    default: {
      // Set multiple registers: the byte count is one byte.
      u32 quantity = count * per_value;
      if (quantity > 127) return 0;
      put16(f + 4, quantity);
      f[6] = u8(2 * quantity);
      u8* out = f + 7;
      for (u16 i = 0; i < count; ++i) {
        u16 r0, r1;
        mb_encode(reg_type, get_float(i), &r0, &r1);
        put16(out, r0);
        out += 2;
        if (per_value == 2) {
          put16(out, r1);
          out += 2;
        }
      }
      return 7 + 2 * quantity;
    }
  }
}

void Modbus::give_up(u8 code) {
  status = code;
  status_var.set(float(code));
  pending.store(0, std::memory_order_release);
}

// Sends the request over the port's connection with its 6-byte header. A
// send that fails drops the connection: nothing can answer, the attempt
// runs into its time-out and the next one connects afresh.
void Modbus::send_tcp(IO_def* p) {
  u8 request[kTcpHeader + IO_FRAME];
  u32 length = build_request(request + kTcpHeader);
  ++p->word;
  u8* h = request;
  h[0] = u8(p->word);
  h[1] = h[2] = h[3] = 0;
  put16(h + 4, length);  // the high byte is 0 for every request that fits
  ssize_t sent = send(p->descriptor, request, kTcpHeader + length, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent != ssize_t(kTcpHeader + length)) drop_connection(p);
  p->reply_timer = 0;
}

void Modbus::start(IO_def* p) {
  // Only an armed request; pending first (see execute).
  if (pending.load(std::memory_order_acquire) == 0) return;
  if (!p || p != port || p->kind != io_kind::ModbusMaster || !transfer.var ||
      status != mb_status::Armed)
    return;
  u8 f[IO_FRAME];
  u32 length = build_request(f);
  if (length == 0) {
    give_up(mb_status::NotConfigured);
    return;
  }
  p->skip = kTcpHeader;
  const bool net = p->port_number == 0;
  // A connection that cannot be made is a failed attempt like a reply that
  // never comes: the transaction starts and runs into its time-out, unless
  // the connection is established meanwhile.
  bool connected = net && tcp_client_connect(p);
  if (!net) {
    u8 junk[IO_FRAME];
    if (serial_read(p->descriptor, junk, IO_FRAME) > 0) set_serial(p, false);
  }

  p->busy = 1;
  p->count = 0;
  p->synced = 0;
  p->function = f[1];
  p->progress = 0;
  p->reply_timer = 0;
  if (connected) {
    send_tcp(p);
  } else if (!net) {
    u16 c = modbus_crc(f, length);
    f[length] = u8(c);
    f[length + 1] = u8(c >> 8);
    // A frame the line did not take whole was not sent: the line is closed
    // as after a hang-up, and the attempt times out, which re-opens it.
    if (!serial_write(p->descriptor, f, int(length + 2))) set_serial(p, true);
  }
  std::memcpy(p->frame.data(), f, length);
}

void Modbus::decode(const IO_def* p) {
  // Only what the reply holds is stored: a short reply leaves the rest of
  // the block alone.
  u32 bytes = p->frame[2] ? p->frame[2] : 256;
  bytes = std::min(bytes, p->count > 3 ? p->count - 3 : 0);
  const u8* d = p->frame.data() + 3;
  if (command <= 1) {
    u32 n = std::min<u32>(count, bytes * 8);
    for (u32 i = 0; i < n; ++i) save_float(u16(i), (d[i / 8] >> (i % 8)) & 1 ? 1.0f : 0.0f);
  } else if (command <= 3) {
    const u32 per_value = is_float_type(reg_type) ? 2 : 1;
    u32 n = std::min<u32>(count, bytes / (2 * per_value));
    for (u32 i = 0; i < n; ++i) {
      const u8* r = d + i * 2 * per_value;
      u16 second = per_value == 2 ? get16(r + 2) : 0;
      save_float(u16(i), mb_decode(reg_type, get16(r), second));
    }
  }
}

void Modbus::finish(IO_def* p) {
  p->gap_timer = 0;
  p->reply_pending = 1;
  u8 left = pending.load(std::memory_order_relaxed);
  if (status == mb_status::Ok) {
    left = 1;
    p->idle_countdown = IO_IDLE_SECONDS;
  } else if (p->serial()) {
    set_serial(p, false);  // flush what is left of the failed exchange
  }
  if (left) --left;
  if (left == 0)
    status_var.set(float(status));
  else
    status = mb_status::Armed;  // sent again as a retry
  pending.store(left, std::memory_order_release);
}

void Modbus::end(IO_def* p) {
  if (p->reply_pending) {
    // The turnaround gap: at least 20 ms between transactions on a port.
    if (p->gap_timer >= 2) {
      p->reply_pending = 0;
      p->busy = 0;
    }
    return;
  }
  if (!transfer.var) {
    p->busy = 0;
    give_up(mb_status::NotConfigured);
    return;
  }
  const bool net = p->port_number == 0;
  if (p->reply_timer >= timeout) {
    // A connection still being made is given up with the attempt.
    if (net && !p->line_flag) drop_connection(p);
    status = u8(mb_status::Timeout + p->progress);
    finish(p);
    return;
  }

  u8 buf[IO_FRAME];
  int n;
  if (net) {
    if (!p->descriptor) return;  // nothing can come: wait for the time-out
    if (!p->line_flag) {
      int done = tcp_client_connect_done(p);
      if (done < 0) drop_connection(p);
      if (done <= 0) return;
      p->line_flag = 1;
      send_tcp(p);
      return;
    }
    ssize_t r = recv(p->descriptor, buf, sizeof buf, MSG_DONTWAIT);
    if (r == 0 || (r < 0 && !transient(errno))) {
      drop_connection(p);  // nothing more can come: wait for the time-out
      return;
    }
    if (r < 0) return;
    n = int(r);
  } else {
    if (!p->descriptor) return;
    errno = 0;
    n = serial_read(p->descriptor, buf, IO_FRAME);
    if (n == 0 || (n < 0 && !transient(errno))) {
      // The device hung up: it would report ready for ever. Closed, it
      // waits for the time-out, which re-opens it.
      set_serial(p, true);
      return;
    }
    if (n < 0) return;
  }
  const u8* b = buf;
  if (net && p->skip) {
    if (u32(n) < p->skip) {
      p->skip -= u32(n);
      return;
    }
    b += p->skip;
    n -= int(p->skip);
    p->skip = 0;
  }
  for (int i = 0; i < n; ++i) {
    u8 x = b[i];
    if (!p->synced) {
      p->progress = 1;
      p->expected = 8;
      if (x == unit) {
        p->frame[0] = x;
        p->count = 1;
        p->synced = 1;
        p->progress = 2;
      }
      continue;
    }
    if (p->count >= IO_FRAME) continue;  // never past the frame
    p->frame[p->count++] = x;
    if (p->count == 3) {
      if (p->frame[1] == u8(p->function + 0x80))
        p->expected = 5;
      else if (command <= 3)
        p->expected = p->frame[2] ? p->frame[2] + 5u : 261u;
    }
  }
  if (!p->synced) return;
  // Lengths count as in RTU, with the two CRC bytes; TCP has none.
  u32 need = net ? p->expected - 2 : p->expected;
  if (p->count < need) return;
  if (!net) {
    u32 e = p->expected;
    u16 got = u16(p->frame[e - 2] | p->frame[e - 1] << 8);
    if (got != general_crc(int(e - 2), p)) {
      status = mb_status::CrcError;
      finish(p);
      return;
    }
  }
  if (p->frame[1] == p->function) {
    status = mb_status::Ok;
    decode(p);
  } else {
    status = mb_status::WrongFunction;
  }
  finish(p);
}
