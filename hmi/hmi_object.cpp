#include "hmi/hmi_object.h"

#include "core/module.h"
#include "expr/names.h"
#include "hmi/hmi_rows.h"
#include "hmi/hmi_types.h"
#include "hmi/session.h"
#include "program/naming.h"

// ---- the base class (type 0, "Frame") ---------------------------------

const RowTable<HMI_object> HMI_object::rows{hrows::with_base<HMI_object>("Security level (1-255)")};

HMI_object::HMI_object(HMI_object* after, const char* text) {
  if (text) name = text;
  if (after) {
    prev = after;
    next = after->next;
    after->next = this;
    if (next) next->prev = this;
  }
}

HMI_object::~HMI_object() {
  if (module && module->objects == this) module->objects = next;
  if (prev) prev->next = next;
  if (next) next->prev = prev;
}

void HMI_object::new_desc(const char* text) {
  if (text) name = text;
}

bool HMI_object::lparam(Ilparam* s) { return rows.lparam(*this, s); }
const char* HMI_object::dparam() { return rows.descriptor(); }
bool HMI_object::gparam(Iparam* p, u16 g, u16 r) { return rows.get(*this, p, g, r); }
bool HMI_object::sparam(Iparam* p, u16 g, u16 r) {
  scan_requires(Pause::Paused);
  return rows.set(*this, p, g, r);
}

bool HMI_object::lexec(Ilparam* s) {
  *s = Ilparam{1, 0, 0};
  return true;
}

bool HMI_object::gexec(Iparam* p) {
  p->value = 0;
  p->type = HMI_NO_DISPLAY;
  p->ref.index = 0;
  p->text = nullptr;
  return true;
}

bool HMI_object::gexecv(Iparam* p) {
  p->value = 0;
  return true;
}

Iparam hmi_record(int slot) {
  Iparam p{};
  p.type = HMI_NO_DISPLAY;
  p.user = u16(slot);
  return p;
}

namespace {
bool valid_slot(int slot) { return slot >= 0 && slot < HMI_SLOTS; }
// Every slot showing m's screen gets its position counted again.
void recount(Module* m) {
  for (int s = 0; s < HMI_SLOTS; ++s)
    if (current_hmi_mod[s] == m) current_hmi_index[s] = hmi_position(current_hmi_obj[s]);
}
}  // namespace

bool hmi_can_view(int slot, u8 level) {
  return valid_slot(slot) && priority[slot] <= level && level <= priority_hi[slot];
}

bool hmi_can_write(int slot, u8 level) { return hmi_can_view(slot, level) && priority[slot] != 255; }

// ---- type table, creation, destruction ---------------------------------

void hmi_build() {
  static const char* const kNames[HMI_TYPES] = {"Frame",    "Button",     "Variable",         "Instruction",
                                                "Resource", "Graph_vars", "Graph_bins/events"};
  for (u16 t = 0; t < HMI_TYPES; ++t) hmi_def_use[t] = hmi_def{kNames[t], "none"};
}

HMI_object* hmi_create(u16 type, HMI_object* after, const char* name, u16, Module* m) {
  HMI_object* o = nullptr;
  switch (type) {
    case 0: o = new HMI_object(after, name); break;
    case 1: o = new Button(after, name); break;
    case 2: o = new Variable(after, name); break;
    case 3: o = new Instruction(after, name); break;
    case 4: o = new Resource(after, name); break;
    case 5: o = new Grafv(after, name); break;
    case 6: o = new Grafb(after, name); break;
    default: return nullptr;
  }
  o->module = m ? m : (after ? after->module : nullptr);
  return o;
}

void hmi_delete(u16, HMI_object* o) {
  if (!o) return;
  Module* m = o->module;
  hmi_forget_object(o);
  delete o;
  if (m) recount(m);
}

// ---- slot state --------------------------------------------------------

i32 hmi_position(const HMI_object* o) {
  if (!o) return 0;
  i32 n = 1;
  for (const HMI_object* p = o->prev; p; p = p->prev) ++n;
  return n;
}


void hmi_forget_object(HMI_object* o) {
  if (!o) return;
  if (hmi_block == o) hmi_block = nullptr;
  for (int s = 0; s < HMI_SLOTS; ++s)
    if (current_hmi_obj[s] == o) hmi_slot_no_object(s);
}

void hmi_forget_module(Module* m) {
  if (!m) return;
  for (HMI_object* o = m->objects; o; o = o->next) hmi_forget_object(o);
  if (hmi_block && hmi_block->module == m) hmi_block = nullptr;
  for (int s = 0; s < HMI_SLOTS; ++s)
    if (current_hmi_mod[s] == m) hmi_slot_reset(s);
}

bool hmi_insert(u16 type, const char* name, u16 size, int slot) {
  if (!valid_slot(slot) || !check_desc(name) || type >= HMI_TYPES) return false;
  Module* m = current_hmi_mod[slot];
  if (!m) return false;
  HMI_object* after = current_hmi_obj[slot];
  if (after && after->module != m) after = nullptr;
  HMI_object* o = hmi_create(type, after, name, size, m);
  if (!o) return false;
  if (!after) {
    o->next = m->objects;
    if (o->next) o->next->prev = o;
    m->objects = o;
  }
  current_hmi_obj[slot] = o;
  recount(m);
  return true;
}

bool hmi_rename(const char* name, int slot) {
  if (!valid_slot(slot) || !current_hmi_obj[slot]) return false;
  if (name && !check_desc(name)) return false;
  current_hmi_obj[slot]->new_desc(name);
  return true;
}

bool hmi_delete(int slot) {
  if (!valid_slot(slot) || !current_hmi_obj[slot]) return false;
  HMI_object* o = current_hmi_obj[slot];
  HMI_object* then = o->next ? o->next : o->prev;
  hmi_delete(o->num(), o);
  current_hmi_obj[slot] = then;
  current_hmi_index[slot] = hmi_position(then);
  return true;
}

bool HMI_block(int slot) {
  if (!valid_slot(slot) || !current_hmi_obj[slot]) return false;
  hmi_block = current_hmi_obj[slot];
  return true;
}

bool HMI_copy(int slot) {
  scan_requires(Pause::Stopped);
  HMI_object* src = hmi_block;
  if (!src || !valid_slot(slot)) return false;
  if (!hmi_insert(src->num(), src->name.c_str(), 0, slot)) return false;
  HMI_object* dst = current_hmi_obj[slot];
  Ilparam sh{};
  src->lparam(&sh);
  for (u32 g = 0; g <= sh.groups; ++g) {
    u16 n = g == 0 ? sh.rows : sh.group_rows;
    for (u16 r = 0; r < n; ++r) {
      Iparam p{};
      p.user = u16(slot);
      if (!src->gparam(&p, u16(g), r)) continue;
      std::string keep;
      if (p.type == ptype::Ref) {
        // Carried by name into the receiving screen's module.
        if (!hmi_resolve(dst->module, var_pointer(p.ref).c_str(), &p.ref)) continue;
      } else if ((p.type & 0x100) && p.text) {
        keep = p.text;
        p.text = keep.c_str();
      }
      dst->sparam(&p, u16(g), r);
    }
  }
  hmi_block = nullptr;
  return true;
}

bool HMI_move(int slot) {
  HMI_object* b = hmi_block;
  if (!b || !valid_slot(slot)) return false;
  Module* m = current_hmi_mod[slot];
  if (!m || b->module != m) return false;
  HMI_object* cur = current_hmi_obj[slot];
  if (b == cur || (cur && cur->next == b)) return true;
  // Unlink.
  if (m->objects == b) m->objects = b->next;
  if (b->prev) b->prev->next = b->next;
  if (b->next) b->next->prev = b->prev;
  // Relink after cur, or first.
  if (cur) {
    b->prev = cur;
    b->next = cur->next;
    cur->next = b;
    if (b->next) b->next->prev = b;
  } else {
    b->prev = nullptr;
    b->next = m->objects;
    if (b->next) b->next->prev = b;
    m->objects = b;
  }
  current_hmi_obj[slot] = nullptr;
  hmi_block = nullptr;
  recount(m);
  return true;
}

void hmi_clear_screen(Module* m) {
  if (!m) return;
  while (m->objects) hmi_delete(m->objects->num(), m->objects);
  m->new_hmi_desc(nullptr);
  for (auto& s : m->screen_settings) s = 0;
  recount(m);
}

// ---- searches ----------------------------------------------------------

int hmi_var_use(Module* m, int start, const char* name) {
  if (!m || !name) return -1;
  auto shows = [&](const pIdata& r) { return r.var && var_pointer(r) == name; };
  auto search = [&](int from) {
    int pos = 0;
    for (HMI_object* o = m->objects; o; o = o->next, ++pos) {
      if (pos < from) continue;
      if (o->num() == 2 && shows(static_cast<Variable*>(o)->var)) return pos;
      if (o->num() == 5)
        for (const pIdata& r : static_cast<Grafv*>(o)->vars)
          if (shows(r)) return pos;
    }
    return -1;
  };
  int found = search(start < 0 ? 0 : start);
  if (found < 0 && start > 0) found = search(0);
  return found;
}

Control* hmi_inst_ptr(Module* m, u16 n) {
  if (!m || n == 0) return nullptr;
  Control* c = m->next;
  for (u16 i = 1; c && c->num() != 0; ++i, c = c->next)
    if (i == n) return c;
  return nullptr;
}

u16 hmi_inst_index(Module* m, const Control* c) {
  if (!m || !c) return 0;
  u16 i = 1;
  for (Control* p = m->next; p && p->num() != 0 && i != 0; p = p->next, ++i)
    if (p == c) return i;
  return 0;
}

bool hmi_resolve(Module* m, const char* name, pIdata* ref, bool create) {
  if (create) scan_requires(Pause::Stopped);
  *ref = pIdata{};
  if (!name || !*name) return true;  // "Null"
  if (!m) return false;
  Control* saved_module = current_module;
  u16 saved_loop = current_loop;
  current_module = m;
  current_loop = loop_of(m);
  bool ok = var_name(name, ref, create);
  current_module = saved_module;
  current_loop = saved_loop;
  return ok;
}
