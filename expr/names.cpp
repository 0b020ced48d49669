#include "expr/names.h"

#include <cstring>
#include <string_view>

#include "core/module.h"
#include "program/program_new.h"

namespace {

bool letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool digit(char c) { return c >= '0' && c <= '9'; }
bool name_char(char c) { return letter(c) || digit(c) || c == '_'; }

// A name split into its variable name and cell index.
struct ParsedName {
  std::string_view name;
  u16 index = 0;
};

// The syntax of a variable name with an optional "[index]"; characters
// after the "]" are ignored.
bool parse_name(const char* text, ParsedName* out) {
  const char* p = text;
  char c = *p;
  if (!(letter(c) || c == '!' || c == '#' || c == '_')) return false;
  ++p;
  if ((c == '!' || c == '#') && !name_char(*p)) return false;  // a scope needs a name
  while (*p && *p != '[') {
    if (!name_char(*p)) return false;
    ++p;
  }
  out->name = std::string_view(text, size_t(p - text));
  out->index = 0;
  if (*p == '[') {
    ++p;
    u32 n = 0;
    while (*p != ']') {
      if (!digit(*p)) return false;  // also the end of the text
      n = n * 10 + u32(*p - '0');
      if (n > 65534) return false;
      ++p;
    }
    out->index = static_cast<u16>(n);
  }
  return true;
}

// The head of the scope list a name belongs to, or null.
Ivar* scope_of(char first) {
  Control* owner;
  if (first == '!')
    owner = loop_start[0];
  else if (first == '#')
    owner = current_loop < 5 ? loop_start[current_loop] : nullptr;
  else
    owner = current_module;
  return owner ? owner->rvar() : nullptr;
}

Ivar* find(Ivar* head, std::string_view name, Ivar** last) {
  Ivar* v = head;
  for (; v; v = v->next) {
    if (v->name == name) return v;
    if (last) *last = v;
  }
  return nullptr;
}

// Printable ASCII other than "|": what a description may hold.
bool valid_desc(const char* s) {
  if (!s || reserved_name(s)) return false;
  for (; *s; ++s)
    if (*s < 32 || *s > 126 || *s == '|') return false;
  return true;
}

}  // namespace

bool reserved_name(std::string_view n) {
  return n == "Loop_1" || n == "Loop_2" || n == "Loop_3" || n == "Loop_4" || n == "End" ||
         n == "System";
}

bool var_name(const char* name, pIdata* ref, bool create) {
  if (!ref) return false;
  *ref = pIdata{};
  if (!name) return false;
  if (std::strcmp(name, "Null") == 0) return true;
  ParsedName pn;
  if (!parse_name(name, &pn) || reserved_name(pn.name)) return false;
  Ivar* head = scope_of(pn.name[0]);
  if (!head) return false;
  Ivar* last = head;
  Ivar* v = find(head, pn.name, &last);
  if (v) {
    if (pn.index > v->size) {
      if (!create) return false;
      v->reindex(pn.index);
    }
  } else {
    if (!create) return false;
    std::string n(pn.name);
    v = new Ivar(last, n.c_str(), pn.index);  // linked into the list, which owns it
  }
  *ref = pIdata{v, pn.index};
  return true;
}

std::string var_pointer(const pIdata& ref) {
  if (!ref.var) return "Null";
  if (ref.index == 0) return ref.var->name;
  return ref.var->name + "[" + std::to_string(ref.index) + "]";
}

bool var_pointer(const pIdata* ref, std::span<char> out) {
  if (out.empty()) return false;
  std::string s = ref ? var_pointer(*ref) : "Null";
  if (s.size() + 1 > out.size()) {
    out[0] = 0;
    return false;
  }
  std::memcpy(out.data(), s.c_str(), s.size() + 1);
  return true;
}

bool var_rename(const char* old_name, const char* new_name) {
  if (!old_name || !new_name || !valid_desc(new_name)) return false;
  // The new name must also be one that var_name can resolve again, or the
  // variable would be lost at the next save and load.
  ParsedName pn;
  if (!parse_name(new_name, &pn) || pn.name.size() != std::strlen(new_name)) return false;
  char o = old_name[0], n = new_name[0];
  bool o_scoped = o == '!' || o == '#', n_scoped = n == '!' || n == '#';
  if ((o_scoped || n_scoped) && o != n) return false;
  pIdata r;
  if (!var_name(old_name, &r, false) || !r.var) return false;
  // Two variables of one name: references to the second would resolve to
  // the first after a reload.
  Ivar* head = scope_of(n);
  Ivar* same = head ? find(head, pn.name, nullptr) : nullptr;
  if (same && same != r.var) return false;
  return r.var->new_name(new_name, false);
}

void make_constant(float value, pIdata* ref) {
  *ref = pIdata{};
  if (!Exp_con.var && !var_name("!Exp_con", &Exp_con, true)) return;
  Ivar* pool = Exp_con.var;
  u32 want = float_bits(value);
  for (u32 i = 0; i <= pool->size; ++i) {
    Idata c = pool->get(u16(i));
    if (c == value || float_bits(c) == want) {
      *ref = pIdata{pool, u16(i)};
      return;
    }
  }
  if (pool->size == 65535) return;  // the pool is full
  u16 at = u16(pool->size + 1);
  pool->reindex(at);
  pool->set(at, value);
  *ref = pIdata{pool, at};
}

void names_reset() {
  Exp_tmp = pIdata{};
  Exp_con = pIdata{};
}

void expr_install_hooks() { on_program_new(ResetPhase::Clear, &names_reset); }
