#include "tools/quorc/text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "expr/names.h"

namespace quorc {

namespace {
bool atom_char(char c) {
  return static_cast<unsigned char>(c) > ' ' && c != '"' && c != '=' && c != 0x7F;
}
int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool lex_line(const std::string& line, std::vector<Tok>* out, int* err_col, std::string* err) {
  out->clear();
  size_t i = 0, n = line.size();
  while (i < n) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    Tok t;
    t.col = int(i) + 1;
    if (c == '#') break;  // a comment runs to the end of the line
    if (c == '=') {
      t.kind = Tok::Eq;
      t.text = "=";
      ++i;
    } else if (c == '"') {
      t.kind = Tok::Str;
      ++i;
      for (;;) {
        if (i >= n) {
          *err_col = int(i) + 1;
          *err = "expected '\"' to close the text begun at column " + std::to_string(t.col);
          return false;
        }
        char d = line[i++];
        if (d == '"') break;
        if (d != '\\') {
          t.text += d;
          continue;
        }
        char e = i < n ? line[i++] : '\0';
        switch (e) {
          case '\\': t.text += '\\'; break;
          case '"': t.text += '"'; break;
          case 'n': t.text += '\n'; break;
          case 't': t.text += '\t'; break;
          case 'r': t.text += '\r'; break;
          case 'x': {
            int h = i < n ? hex_digit(line[i]) : -1, l = i + 1 < n ? hex_digit(line[i + 1]) : -1;
            if (h < 0 || l < 0) {
              *err_col = int(i) - 1;
              *err = "expected two hexadecimal digits after \\x";
              return false;
            }
            t.text += char(h * 16 + l);
            i += 2;
            break;
          }
          default:
            *err_col = int(i) - 1;
            *err = "expected an escape \\\\, \\\", \\n, \\t, \\r or \\xHH";
            return false;
        }
      }
    } else if (atom_char(c)) {
      while (i < n && atom_char(line[i])) t.text += line[i++];
    } else {
      *err_col = int(i) + 1;
      *err = "expected a name, a number, a quoted text or '=' (found a control character)";
      return false;
    }
    out->push_back(std::move(t));
  }
  return true;
}

std::string quoted(const std::string& s) {
  std::string r = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      r += '\\';
      r += char(c);
    } else if (c == '\n') {
      r += "\\n";
    } else if (c == '\t') {
      r += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", c);
      r += b;
    } else {
      r += char(c);
    }
  }
  return r + '"';
}

std::string word_or_quoted(const std::string& s) {
  bool bare = !s.empty() && s[0] != '#' && s[0] != '@';
  for (char c : s) bare = bare && atom_char(c) && static_cast<unsigned char>(c) < 0x80;
  return bare ? s : quoted(s);
}

std::string float_text(float f) {
  u32 bits = float_bits(f);
  if (std::isnan(f)) {
    char b[24];
    std::snprintf(b, sizeof b, "nan:0x%08X", bits);
    return b;
  }
  if (std::isinf(f)) return f < 0 ? "-inf" : "inf";
  char b[64];
  auto r = std::to_chars(b, b + sizeof b, f);
  return std::string(b, r.ptr);
}

bool parse_float(const std::string& s, float* out) {
  if (s == "inf" || s == "+inf") {
    *out = INFINITY;
    return true;
  }
  if (s == "-inf") {
    *out = -INFINITY;
    return true;
  }
  if (s.rfind("nan:", 0) == 0) {
    u32 bits;
    if (!parse_uint(s.substr(4), &bits) || !std::isnan(bits_float(bits))) return false;
    *out = bits_float(bits);
    return true;
  }
  const char* b = s.data();
  const char* e = b + s.size();
  if (b != e && *b == '+') ++b;
  if (b == e || (*b != '-' && *b != '.' && (*b < '0' || *b > '9'))) return false;
  float v = 0;
  auto r = std::from_chars(b, e, v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) return false;
  return r.ec == std::errc() && r.ptr == e && ((*out = v), true);
}

bool parse_uint(const std::string& s, u32* out) {
  const char* b = s.data();
  const char* e = b + s.size();
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    b += 2;
    base = 16;
  }
  if (b == e) return false;
  u32 v = 0;
  auto r = std::from_chars(b, e, v, base);
  return r.ec == std::errc() && r.ptr == e && ((*out = v), true);
}

Labels Labels::of(const char* desc, const Ilparam& sh) {
  std::vector<RowLabel> all;
  if (desc) {
    std::string d = desc;
    size_t start = 0;
    for (;;) {
      size_t end = d.find('}', start);
      std::string item = d.substr(start, end == std::string::npos ? std::string::npos : end - start);
      RowLabel l;
      size_t tilde = item.find('~');
      l.label = item.substr(0, tilde);
      while (tilde != std::string::npos) {
        size_t next = item.find('~', tilde + 1);
        l.choices.push_back(item.substr(tilde + 1, next == std::string::npos ? std::string::npos : next - tilde - 1));
        tilde = next;
      }
      all.push_back(std::move(l));
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  Labels r;
  for (u16 i = 0; i < sh.rows; ++i) r.fixed.push_back(i < all.size() ? all[i] : RowLabel{});
  for (u16 i = 0; i < sh.group_rows; ++i) {
    size_t k = size_t(sh.rows) + i;
    r.group.push_back(k < all.size() ? all[k] : RowLabel{});
  }
  return r;
}

std::string Labels::key(u16 group, u16 row) const {
  const auto& s = section(group);
  const std::string& l = row < s.size() ? s[row].label : std::string();
  int same = 0;
  for (const auto& x : s) same += x.label == l;
  // A label that reads like a positional key is written by position too.
  if (l.empty() || same != 1 || l[0] == '@') return "@" + std::to_string(row);
  return word_or_quoted(l);
}

std::optional<u16> Labels::find(u16 group, const std::string& key, std::string* why) const {
  const auto& s = section(group);
  if (key.size() > 1 && key[0] == '@') {
    u32 n;
    if (parse_uint(key.substr(1), &n) && n < s.size()) return u16(n);
    *why = "no row " + key + " here (rows @0 to @" + std::to_string(s.size() ? s.size() - 1 : 0) + ")";
    if (s.empty()) *why = "no row " + key + ": there are no rows here";
    return std::nullopt;
  }
  std::optional<u16> found;
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i].label == key) {
      if (found) {
        *why = "the label " + quoted(key) + " names several rows: write @" + std::to_string(*found) + " or @" +
               std::to_string(i);
        return std::nullopt;
      }
      found = u16(i);
    }
  if (!found) {
    std::string list;
    for (size_t i = 0; i < s.size() && i < 40; ++i)
      if (!s[i].label.empty()) list += (list.empty() ? "" : ", ") + word_or_quoted(s[i].label);
    *why = "expected a row label" + (list.empty() ? std::string(" (@N: there are no labels here)") : ": one of " + list) +
           "; " + quoted(key) + " is none of them";
  }
  return found;
}

std::string value_text(const Iparam& p, const RowLabel* label) {
  if (p.type == ptype::Float) return float_text(p.f());
  if (p.type == ptype::Ref) return word_or_quoted(var_pointer(p.ref));
  if (p.type & 0x100) return quoted(p.text ? p.text : "");
  if (p.type == ptype::Select && label && p.value < label->choices.size()) {
    // A bare number is a position: a choice that reads as a number is quoted.
    const std::string& c = label->choices[p.value];
    u32 n;
    if (!c.empty()) return parse_uint(c, &n) ? quoted(c) : word_or_quoted(c);
  }
  if (p.type == ptype::Hex) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%X", p.value);
    return b;
  }
  return std::to_string(p.value);
}

bool value_from(const Tok& tok, u16 type, const RowLabel* label, Iparam* p, std::string* why) {
  p->type = type;
  // A quoted text where a number stands now goes as a text, as the program
  // file would carry it: a row whose type follows another row (a limit
  // given as a number or as a variable) takes it once that row is set.
  if (tok.kind == Tok::Str && type != ptype::Select && !(type & 0x100)) p->type = type = ptype::Text;
  if (type == ptype::Ref || (type & 0x100)) {
    p->text = tok.text.c_str();
    return true;
  }
  u32 n;
  bool number = tok.kind == Tok::Atom && parse_uint(tok.text, &n);
  if (type == ptype::Select && label && !number) {
    for (size_t i = 0; i < label->choices.size(); ++i)
      if (label->choices[i] == tok.text) {
        p->value = u32(i);
        return true;
      }
  }
  if (tok.kind == Tok::Atom) {
    if (type == ptype::Float) {
      float f;
      if (parse_float(tok.text, &f)) {
        p->value = float_bits(f);
        return true;
      }
      *why = "expected a decimal number";
      return false;
    }
    if (parse_uint(tok.text, &p->value)) return true;
  }
  if (type == ptype::Select && label && !label->choices.empty()) {
    std::string list;
    for (auto& c : label->choices) list += (list.empty() ? "" : ", ") + word_or_quoted(c);
    *why = "expected one of " + list;
  } else {
    *why = type == ptype::Float ? "expected a decimal number" : "expected a whole number from 0 to 4294967295";
  }
  return false;
}

}  // namespace quorc
