// Screen commands: selecting a module's screen, its name and settings, the
// objects of the current screen (insert, delete, select, list, live
// values), copying a whole screen, and the screen switch that a level-1
// operator asks every operator screen to make.
//
// Screens, their objects and the slots' screen state are the main thread's;
// the scan never reads them. Live values read atomic cells, so listing and
// polling need no pause. Row writes take lock(1); writes that may resolve a
// variable by name (and so create or grow one) take lock(3).
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/module.h"
#include "core/registry.h"
#include "core/scan_pause.h"
#include "hmi/commands.h"
#include "hmi/screen_select.h"
#include "program/program_new.h"
#include "program/refs.h"

namespace {

std::string dec(u32 v) { return std::to_string(i32(v)); }

// The next module after c in program order, or null.
Module* module_after(Control* c) {
  for (c = c ? c->next : nullptr; c; c = c->next)
    if (c->num() == 0) return static_cast<Module*>(c);
  return nullptr;
}

Module* as_module(Control* c) { return c && c->num() == 0 ? static_cast<Module*>(c) : nullptr; }

const char* type_name(const HMI_object* o) {
  u16 t = o->num();
  return t < HMI_TYPES && hmi_def_use[t].name ? hmi_def_use[t].name : "";
}

// ",arr[0]|arr[1]|..." for the first count entries of a record.
void append_arr(std::string& line, const Iparam& p) {
  for (u16 k = 0; k < std::min<u16>(p.count, 9); ++k) line += "|" + dec(p.arr[k]);
}

}  // namespace

void cmd_lhmiw(HmiCommand& c) {
  u32 loop = c.n[0];
  if (loop > 4) return reply_fail(c.slot);
  Control* end = loop < 4 ? loop_start[loop + 1] : nullptr;
  int lines = 0;
  for (Control* m = loop_start[loop]; m && m != end; m = m->next) {
    if (m->num() != 0) continue;
    const std::string& t = static_cast<Module*>(m)->screen_title;
    if (t.empty()) continue;
    send_HMI_response(c.slot, t);
    ++lines;
  }
  if (!lines) return reply_fail(c.slot);
  send_HMI_term(c.slot);
}

void cmd_shmiw(HmiCommand& c) {
  hmi_block = nullptr;
  Module* m = nullptr;
  u32 steps = 0;
  if (c.n[0] > 4) {
    m = as_module(current_module);
  } else if (c.text.empty()) {
    m = as_module(loop_start[c.n[0]]);
    for (; m && steps < c.n[1]; ++steps) m = module_after(m);
  } else {
    m = as_module(loop_start[c.n[0]]);
    while (m && m->screen_title != c.text && steps < 100000) {
      m = module_after(m);
      ++steps;
    }
    if (m && m->screen_title != c.text) m = nullptr;
  }
  if (!m) return reply_fail(c.slot);
  current_hmi_mod[c.slot] = m;
  hmi_slot_no_object(c.slot);
  reply_one(c.slot, dec(steps));
}

void cmd_gfhmi(HmiCommand& c) {
  Module* m = current_hmi_mod[c.slot];
  if (!m) return reply_fail(c.slot);
  std::string line = m->screen_title.empty() ? "New Name" : m->screen_title;
  for (u32 s : m->screen_settings) line += "|" + dec(s);
  reply_one(c.slot, line);
}

void cmd_sfhmi(HmiCommand& c) {
  Module* m = current_hmi_mod[c.slot];
  if (!m) return reply_fail(c.slot);
  m->new_hmi_desc(c.text.c_str());
  for (int i = 0; i < 3; ++i) m->screen_settings[i] = c.n[i];
  reply_ok(c.slot);
}

void cmd_shmiwc(HmiCommand& c) {
  for (Control* m = loop_start[0]; m; m = m->next)
    if (m->num() == 0) static_cast<Module*>(m)->screen_settings[2] = c.n[0];
  reply_ok(c.slot);
}

void cmd_ehmiw(HmiCommand& c) {
  if (c.n[0] > 4) return reply_fail(c.slot);
  remote_HMI_select = c.text;
  remote_HMI_select_loop = u8(c.n[0]);
  reply_ok(c.slot);
}

void cmd_hinsert(HmiCommand& c) {
  bool ok;
  {
    ScanPause p(Pause::Paused);
    ok = c.n[0] < HMI_TYPES && hmi_insert(u16(c.n[0]), c.text.c_str(), u16(c.n[1]), c.slot);
  }
  if (!ok) return reply_fail(c.slot);
  reply_one(c.slot, dec(u32(current_hmi_index[c.slot])));
}

void cmd_hdel(HmiCommand& c) {
  bool ok;
  {
    ScanPause p(Pause::Paused);
    ok = hmi_delete(c.slot);
  }
  if (!ok) return reply_fail(c.slot);
  reply_one(c.slot, dec(u32(current_hmi_index[c.slot])));
}

void cmd_dhmi(HmiCommand& c) {
  Module* m = as_module(current_module);
  if (!m) return reply_fail(c.slot);
  {
    ScanPause p(Pause::Paused);
    hmi_clear_screen(m);  // every slot and the mark let go of its objects
  }
  current_hmi_mod[c.slot] = m;
  hmi_slot_no_object(c.slot);
  reply_ok(c.slot);
}

void cmd_hpos(HmiCommand& c) {
  Module* m = current_hmi_mod[c.slot];
  if (!m) return reply_fail(c.slot);
  HMI_object*& obj = current_hmi_obj[c.slot];
  i32& pos = current_hmi_index[c.slot];
  u32 want = c.n[0];
  if (want == 0 || !m->objects) {
    hmi_slot_no_object(c.slot);
    return reply_one(c.slot, "0");
  }
  while (obj && u32(pos) > want && obj->prev) {
    obj = obj->prev;
    --pos;
  }
  if (!obj) {
    obj = m->objects;
    pos = 1;
  }
  while (u32(pos) < want && obj->next) {
    obj = obj->next;
    ++pos;
  }
  reply_one(c.slot, dec(u32(pos)));
}

void cmd_hlist(HmiCommand& c) {
  Module* m = current_hmi_mod[c.slot];
  if (!m || !m->objects) return reply_fail(c.slot);
  for (HMI_object* o = m->objects; o; o = o->next) {
    // An object out of the slot's range still takes its line, so that
    // line n is always object n.
    if (!hmi_can_view(c.slot, o->security)) {
      send_HMI_response(c.slot, "0|0|0|none");
      continue;
    }
    std::string line = dec(u32(o->x)) + "|" + dec(u32(o->y)) + "|" + dec(o->attributes) + "|" + type_name(o) +
                       " " + o->name;
    Iparam p = hmi_record(c.slot);
    o->gexec(&p);
    append_arr(line, p);
    if (p.text && *p.text) line += std::string("|") + p.text;
    send_HMI_response(c.slot, line);
  }
  send_HMI_term(c.slot);
}

void cmd_rhmi(HmiCommand& c) {
  Module* m = current_hmi_mod[c.slot];
  if (!m || !m->objects) return reply_fail(c.slot);
  bool live = c.n[0] != 0;
  std::string line;
  for (HMI_object* o = m->objects; o; o = o->next) {
    Iparam p = hmi_record(c.slot);
    if (live) {
      o->gexecv(&p);
      line = dec(p.value);
    } else {
      o->gexeci(&p);
      line = dec(p.value) + "|" + std::to_string(p.type) + "|" + std::to_string(p.ref.index) + "|" +
             (p.text && *p.text ? p.text : "none");
    }
    append_arr(line, p);
    send_HMI_response(c.slot, line);
  }
  if (live) {
    send_HMI_response(c.slot, dec(float_bits(sys_get(3))));
    if (remote_HMI_select_loop != 255) {
      send_HMI_response(c.slot, remote_HMI_select + "|" + std::to_string(remote_HMI_select_loop));
      remote_HMI_select_loop = 255;  // reported once, to whoever polls first
    } else {
      send_HMI_response(c.slot, "none");
    }
  }
  send_HMI_term(c.slot);
}

void cmd_minst(HmiCommand& c) {
  Module* m = current_hmi_mod[c.slot];
  if (!m) return reply_fail(c.slot);
  for (Control* i = m->next; i && i->num() != 0; i = i->next) {
    u16 t = i->num();
    std::string line = t < INST_TYPES && inst_def_use[t].name ? inst_def_use[t].name : "";
    if (!i->desc.empty()) line += " " + i->desc;
    send_HMI_response(c.slot, line);
  }
  send_HMI_term(c.slot);
}

void cmd_vhmiloc(HmiCommand& c) {
  Module* m = current_hmi_mod[c.slot];
  if (!m) return reply_fail(c.slot);
  int start = int(std::min<u32>(c.n[0], INT_MAX));
  reply_one(c.slot, std::to_string(hmi_var_use(m, start, c.text.c_str())));
}

void cmd_chmi(HmiCommand& c) {
  Module* src = as_module(block_module_start);
  Module* dst = as_module(current_module);
  if (!src || !dst) return reply_fail(c.slot);
  // References are resolved again in the receiving module, which may
  // create variables there: the scan stops.
  ScanPause pause(Pause::Stopped);
  if (c.n[0] != 0) {
    Ilparam s;
    src->lparam(&s);
    for (u16 r = 0; r < s.rows; ++r) {
      Iparam p;
      if (!src->gparam(&p, 0, r)) continue;
      std::string keep = p.text ? p.text : "";  // src may be dst
      if (p.text) p.text = keep.c_str();
      dst->sparam(&p, 0, r);
    }
  }
  // Slot 0 is the receiving screen, slot 1 the source (an Instruction
  // object's row reads and writes its position against the slot's screen).
  current_hmi_mod[0] = dst;
  hmi_slot_no_object(0);
  current_hmi_mod[1] = src;
  hmi_slot_no_object(1);
  std::vector<HMI_object*> objects;  // taken first: src may be dst
  for (HMI_object* o = src->objects; o; o = o->next) objects.push_back(o);
  i32 pos = 0;
  for (HMI_object* o : objects) {
    ++pos;
    if (!hmi_insert(o->num(), o->name.c_str(), 0, 0)) continue;
    HMI_object* to = current_hmi_obj[0];
    current_hmi_obj[1] = o;
    current_hmi_index[1] = pos;
    Ilparam s;
    o->lparam(&s);
    auto copy_row = [&](u16 g, u16 r) {
      Iparam p;
      p.user = 1;
      if (!o->gparam(&p, g, r)) return;
      std::string text = p.text ? p.text : "";
      if (p.type == ptype::Ref) {
        text = p.ref.var ? ref_text(p.ref) : "Null";
        if (!hmi_resolve(dst, text.c_str(), &p.ref)) return;
      }
      if (p.text || p.type == ptype::Ref) p.text = text.c_str();
      p.user = 0;
      to->sparam(&p, g, r);
    };
    for (u16 r = 0; r < s.rows; ++r) copy_row(0, r);
    for (u16 g = 1; g <= s.groups; ++g)
      for (u16 r = 0; r < s.group_rows; ++r) copy_row(g, r);
  }
  reply_ok(c.slot);
}
