// The parameter protocol for clients: shape, descriptor, read and write of
// the rows of a target, chosen by N1 — 0 the instruction at the cursor,
// 1..3 the slot's current screen object (editing view, the instruction it
// shows, run-time view), 4 the selected general configuration page.
// Operators reach targets 2 and 3 only within their security range, and
// write through them only when logged in.
#include <optional>
#include <string>

#include "core/config.h"
#include "core/engine.h"
#include "core/module.h"
#include "core/scan_pause.h"
#include "expr/names.h"
#include "hmi/commands.h"
#include "hmi/hmi_types.h"
#include "hmi/listing.h"
#include "hmi/write_through.h"

namespace {

enum class Target {
  Instruction,  // 0: the instruction at the cursor
  Object,       // 1: the slot's current screen object, editing view
  Shown,        // 2: the instruction an Instruction object shows
  Runtime,      // 3: the slot's current screen object, run-time view
  Config,       // 4: the selected general configuration page
  None,
};

struct Tgt {
  Target kind = Target::None;
  Control* inst = nullptr;  // Instruction, Shown
  HMI_object* obj = nullptr;  // Object, Shown, Runtime
};

// Targets 1 to 3 need the slot's current screen object, target 2 one that
// shows an instruction; without them the target is None.
Tgt target_of(const HmiCommand& c) {
  Tgt t;
  HMI_object* o = current_hmi_obj[c.slot];
  switch (c.n[0]) {
    case 0:
      if (current_instruction) t = {Target::Instruction, current_instruction, nullptr};
      break;
    case 1:
      if (o) t = {Target::Object, nullptr, o};
      break;
    case 2:
      if (o && o->num() == 3 && static_cast<Instruction*>(o)->inst)
        t = {Target::Shown, static_cast<Instruction*>(o)->inst, o};
      break;
    case 3:
      if (o) t = {Target::Runtime, nullptr, o};
      break;
    case 4:
      t.kind = Target::Config;
      break;
  }
  return t;
}

// May the slot see the rows of the target (operators: the object's view
// level within their range)?
bool may_view(const Tgt& t, int slot) {
  if (t.kind == Target::Shown || t.kind == Target::Runtime) return hmi_can_view(slot, t.obj->security);
  return t.kind != Target::None;
}

// Instructions' rows are the scan's: read them paused. Screen objects and
// configuration pages belong to the main thread.
bool t_lparam(const Tgt& t, Ilparam* s) {
  *s = Ilparam{};
  switch (t.kind) {
    case Target::Instruction:
    case Target::Shown: {
      ScanPause p(Pause::Paused);
      return t.inst->lparam(s);
    }
    case Target::Object:
      return t.obj->lparam(s);
    case Target::Runtime:
      return t.obj->lexec(s);
    case Target::Config:
      return gen::lparam(s);
    case Target::None:
      break;
  }
  return false;
}
bool t_gparam(const Tgt& t, Iparam* p, u16 g, u16 r) {
  switch (t.kind) {
    case Target::Instruction:
    case Target::Shown:
      return t.inst->gparam(p, g, r);
    case Target::Object:
      return t.obj->gparam(p, g, r);
    case Target::Runtime:
      *p = hmi_record(p->user);
      return t.obj->gexec(p);
    case Target::Config:
      return gen::gparam(p, g, r);
    case Target::None:
      break;
  }
  return false;
}

std::string row_line(const Iparam& p) {
  std::string v;
  if (p.type == ptype::Ref)
    v = ref_text(p.ref);
  else if (p.type & 0x100)
    v = p.text && *p.text ? p.text : "none";
  else
    v = std::to_string(i32(p.value));
  return v + "|" + std::to_string(p.type);
}

// The run-time view's line: value, type, the reference's index (a small
// display number), the text.
std::string runtime_line(const Iparam& p) {
  return std::to_string(i32(p.value)) + "|" + std::to_string(p.type) + "|" + std::to_string(p.ref.index) + "|" +
         (p.text && *p.text ? p.text : "none");
}

// Login passwords and keys (page 0 groups) and the mail password (page 2)
// read back only to the programmer; others see them masked.
bool secret_row(u16 group, u16 row) {
  if (gen_sel == 0) return group != 0 && (row == 0 || row == 3);
  if (gen_sel == 2) return group == 0 && row == 10;
  return false;
}

}  // namespace

void cmd_lconfig(HmiCommand& c) {
  Tgt t = target_of(c);
  Ilparam s;
  if (t.kind == Target::Object && priority[c.slot] != 0) return reply_fail(c.slot);
  if (!may_view(t, c.slot) || !t_lparam(t, &s)) return reply_fail(c.slot);
  send_HMI_response(c.slot, std::to_string(s.rows));
  send_HMI_response(c.slot, std::to_string(s.group_rows));
  send_HMI_response(c.slot, std::to_string(s.groups));
  send_HMI_term(c.slot);
}

void cmd_gquorfig(HmiCommand& c) {
  Tgt t = target_of(c);
  const char* d = nullptr;
  switch (t.kind) {
    case Target::Instruction:
      d = t.inst->dparam();
      break;
    case Target::Object:
      d = t.obj->dparam();
      break;
    case Target::Shown:  // the operator sees the instruction through the object's format
      d = t.obj->format() ? t.obj->format()->name() : nullptr;
      break;
    case Target::Config:
      d = gen::dparam();
      break;
    case Target::Runtime:
    case Target::None:
      break;
  }
  if (!d) return reply_fail(c.slot);
  reply_one(c.slot, d);
}

void cmd_gconfig(HmiCommand& c) {
  Tgt t = target_of(c);
  Ilparam s;
  if (!may_view(t, c.slot) || !t_lparam(t, &s)) return reply_fail(c.slot);
  u16 g_first = 0, g_last = 0, rows = s.rows;
  if (c.n[1] != 0) {
    if (!s.groups) return reply_fail(c.slot);
    g_first = 1;
    g_last = s.groups;
    rows = s.group_rows;
  }
  if (!rows) return reply_fail(c.slot);
  // The programmer's reads hold the scan for the whole list, and so do
  // reads of the instruction a screen shows; other reads of the cursor's
  // instruction pause it for one row at a time.
  bool scan_rows = t.kind == Target::Instruction || t.kind == Target::Shown;
  std::optional<ScanPause> whole;
  if (scan_rows && (priority[c.slot] == 0 || t.kind == Target::Shown)) whole.emplace(Pause::Paused);
  for (u16 g = g_first; g <= g_last; ++g) {
    for (u16 r = 0; r < rows; ++r) {
      Iparam p;
      p.user = u16(c.slot);
      bool ok;
      std::string line;
      {
        std::optional<ScanPause> row;
        if (scan_rows) row.emplace(Pause::Paused);
        ok = t_gparam(t, &p, g, r);
        if (ok && t.kind == Target::Config && priority[c.slot] != 0 && secret_row(g, r)) {
          p.text = "*****";
          p.value = 0;
        }
        if (ok) line = t.kind == Target::Runtime ? runtime_line(p) : row_line(p);
      }
      if (!ok) {
        whole.reset();
        return reply_fail(c.slot);
      }
      send_HMI_response(c.slot, line);
    }
  }
  whole.reset();
  send_HMI_term(c.slot);
}

void cmd_sconfig(HmiCommand& c) {
  // Never replies, whatever the outcome.
  Tgt t = target_of(c);
  u16 type = u16(c.n[2]);
  bool text_type = (type & 0x100) != 0;
  switch (t.kind) {
    case Target::Instruction:
    case Target::Object:
    case Target::Config:
      if (priority[c.slot] != 0) return;
      break;
    case Target::Shown:  // operators: numbers only, at the object's write level
      if (type >= 6 || !hmi_can_write(c.slot, t.obj->write_security)) return;
      break;
    case Target::Runtime:  // operators: nothing is resolved by name
      if (type == ptype::Ref || !hmi_can_write(c.slot, t.obj->security)) return;
      break;
    case Target::None:
      return;
  }
  // A reference or a named limit may create or grow a variable, and a row
  // of an instruction or of a page may change the program's I/O, a loop or
  // the size of a variable (an operator changing an Alarm's number of
  // alarms grows its block): the scan stops for those. Numeric rows of
  // screen objects and writes through an object's live value only pause it.
  bool stop = t.kind == Target::Instruction || t.kind == Target::Shown || t.kind == Target::Config ||
              (t.kind == Target::Object && text_type);
  ScanPause pause(stop ? Pause::Stopped : Pause::Paused);
  Iparam p;
  p.type = type;
  p.user = u16(c.slot);
  std::string name;
  if (type == ptype::Ref) {
    name = c.text.empty() ? "Null" : c.text;
    bool ok = t.kind == Target::Object ? hmi_resolve(t.obj->module, name.c_str(), &p.ref)
                                       : var_name(name.c_str(), &p.ref, true);
    if (!ok) return;
    p.text = name.c_str();
  } else if (text_type) {
    p.text = c.text == "Null" ? nullptr : c.text.c_str();
  } else {
    p.value = c.n[1];
  }
  u16 g = u16(c.n[3]), r = u16(c.n[4]);
  switch (t.kind) {
    case Target::Instruction:
      run_inst_update = 0;
      t.inst->sparam(&p, g, r);
      break;
    case Target::Object:
      t.obj->sparam(&p, g, r);
      break;
    case Target::Shown:
      // The start-up file keeps the operator's change while it matches the
      // program in memory.
      if (t.inst->sparam(&p, g, r)) operator_write_through(t.inst, p, g, r);
      break;
    case Target::Runtime:
      t.obj->sexec(&p, c.slot);
      break;
    case Target::Config:
      gen::sparam(&p, g, r);
      break;
    case Target::None:
      break;
  }
}

void cmd_resize(HmiCommand& c) {
  bool ok = false;
  if (c.n[0] == 0) {
    if (!current_instruction) return reply_fail(c.slot);
    run_inst_update = 0;
    ScanPause p(Pause::Stopped);
    ok = current_instruction->resize(u16(c.n[1]));
  } else if (c.n[0] == 1) {
    HMI_object* o = current_hmi_obj[c.slot];
    ScanPause p(Pause::Paused);
    ok = o && o->resize(u16(c.n[1]));
  } else if (c.n[0] == 4) {
    ScanPause p(Pause::Stopped);
    gen_resize(u16(c.n[1]));
    ok = true;
  }
  if (ok) return reply_ok(c.slot);
  reply_fail(c.slot);
}

void cmd_num(HmiCommand& c) {
  if (c.n[0] != 0) {
    HMI_object* o = current_hmi_obj[c.slot];
    if (!o) return reply_fail(c.slot);
    return reply_one(c.slot, std::to_string(o->num()));
  }
  if (!current_instruction) return reply_fail(c.slot);
  reply_one(c.slot, std::to_string(current_instruction->num()));
}

void cmd_gpos(HmiCommand& c) {
  if (c.n[0] > 10) return reply_fail(c.slot);
  gen_sel = u8(c.n[0]);
  reply_ok(c.slot);
}
