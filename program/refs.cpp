#include "program/refs.h"

#include <cctype>
#include <cstring>

#include "core/module.h"
#include "program/naming.h"

std::string ref_text(const pIdata& r) {
  if (!r.var) return "Null";
  if (r.index == 0) return r.var->name;
  return r.var->name + "[" + std::to_string(r.index) + "]";
}

bool ref_resolve(const char* text, pIdata* r) {
  *r = pIdata{};
  if (!text) return false;
  if (!std::strcmp(text, "Null")) return true;
  if (!check_reserved(text)) return false;
  unsigned char c0 = static_cast<unsigned char>(text[0]);
  if (!std::isalpha(c0) && c0 != '!' && c0 != '#' && c0 != '_') return false;
  size_t n = 1;
  while (text[n] && text[n] != '[') {
    unsigned char c = static_cast<unsigned char>(text[n]);
    if (!std::isalnum(c) && c != '_') return false;
    ++n;
  }
  u32 index = 0;
  if (text[n] == '[') {
    size_t i = n + 1;
    for (; text[i] && text[i] != ']'; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
      index = index * 10 + u32(text[i] - '0');
      if (index > 65534) return false;
    }
  }
  Control* scope = c0 == '!' ? loop_start[0] : c0 == '#' ? loop_start[current_loop < 4 ? current_loop : 3]
                                                          : current_module;
  if (!scope || !scope->rvar()) return false;
  std::string name(text, n);
  Ivar* last = nullptr;
  for (Ivar* v = scope->rvar(); v; v = v->next) {
    if (v->name == name) {
      v->reindex(u16(index));
      *r = pIdata{v, u16(index)};
      return true;
    }
    last = v;
  }
  *r = pIdata{new Ivar(last, name.c_str(), u16(index)), u16(index)};
  return true;
}
