#include "hmi/session.h"

#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "core/control.h"
#include "hmi/dispatch.h"
#include "net/user_port.h"

namespace {

u32 read_unsigned(std::string_view f) {
  // Unsigned decimal: leading blanks and digits; anything else ends it.
  size_t i = 0;
  while (i < f.size() && (f[i] == ' ' || f[i] == '\t')) ++i;
  if (i < f.size() && f[i] == '+') ++i;
  u32 v = 0;
  for (; i < f.size() && f[i] >= '0' && f[i] <= '9'; ++i) v = v * 10u + u32(f[i] - '0');
  return v;
}

u32 read_signed(std::string_view f) {
  // "%i": decimal, 0x hexadecimal or leading-zero octal, with the sign.
  std::string s(f.substr(0, 64));
  long long v = std::strtoll(s.c_str(), nullptr, 0);
  return u32(i32(v));
}

}  // namespace

bool parse_HMI(std::string_view line, HmiCommand& c) {
  size_t bar = line.find('|');
  std::string_view kw = line.substr(0, bar);
  if (kw.size() > 11) return false;
  c.keyword.assign(kw);
  c.text.clear();
  c.text2.clear();
  for (auto& v : c.n) v = 0;
  if (bar == std::string_view::npos) return true;

  size_t start = bar + 1;
  size_t end = line.find('|', start);
  size_t stop = end == std::string_view::npos ? line.size() : end;
  size_t field_end = stop < HMI_TEXT_LIMIT ? stop : HMI_TEXT_LIMIT;
  std::string field(field_end > start ? line.substr(start, field_end - start) : std::string_view{});
  if (!field.empty() && field[0] == '{') {
    c.text = field;
    c.text2 = field;
  } else {
    size_t first = field.find('~');
    size_t last = field.rfind('~');
    c.text = field.substr(0, first);
    c.text2 = last == std::string::npos ? field : field.substr(last + 1);
  }

  size_t pos = end;
  for (int i = 0; i < HMI_NUMBERS && pos != std::string_view::npos; ++i) {
    size_t fs = pos + 1;
    size_t fe = line.find('|', fs);
    std::string_view f = line.substr(fs, fe == std::string_view::npos ? std::string_view::npos : fe - fs);
    c.n[i] = (!f.empty() && f[0] == '-') ? read_signed(f) : read_unsigned(f);
    pos = fe;
  }
  return true;
}

void send_HMI_response(int slot, std::string_view text) {
  if (slot < 0 || slot >= HMI_SLOTS || !quiblet_socket[slot]) return;
  slot_queue(slot, text);
  slot_queue(slot, "\n");
}

void send_HMI_term(int slot) {
  if (slot < 0 || slot >= HMI_SLOTS || !quiblet_socket[slot]) return;
  slot_queue(slot, "\r");
  slot_flush(slot);
}

void reply_one(int slot, std::string_view text) {
  send_HMI_response(slot, text);
  send_HMI_term(slot);
}

void reply_ok(int slot) { reply_one(slot, "OK"); }

void reply_fail(int slot) { reply_one(slot, "fail"); }

void proc_HMI(int slot, std::string_view command) {
  if (slot < 0 || slot >= HMI_SLOTS) return;
  HmiCommand c;
  c.slot = slot;
  if (!parse_HMI(command, c)) {
    reply_fail(slot);
    return;
  }
  const HmiEntry* e = find_command(c.keyword);
  if (!e || !access_met(e->access, slot)) {
    reply_fail(slot);
    return;
  }
  e->run(c);
}


std::string nibble_encode(const u8* bytes, size_t n) {
  std::string s;
  s.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    s += char(0x30 + (bytes[i] >> 4));
    s += char(0x30 + (bytes[i] & 0x0F));
  }
  return s;
}

size_t nibble_decode(std::string_view text, u8* out, size_t max) {
  size_t n = text.size() / 2;
  if (n > max) n = max;
  for (size_t i = 0; i < n; ++i) out[i] = u8(((text[2 * i] & 0x0F) << 4) | (text[2 * i + 1] & 0x0F));
  return n;
}

bool gen_row(u8 page, u16 group, u16 row, Iparam* p) {
  *p = Iparam{};
  return gen::on_page(page, [&] { return gen::gparam(p, group, row); });
}

const char* site_title() {
  Iparam p;
  if (!gen_row(0, 0, 6, &p) || !p.text || !*p.text) return nullptr;
  return p.text;
}
