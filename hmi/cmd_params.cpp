// The parameter protocol for clients: shape, descriptor, read and write of
// the rows of a target, chosen by N1 — 0 the instruction at the cursor,
// 1..3 the slot's current screen object (editing view, the instruction it
// shows, run-time view), 4 the selected general configuration page.
#include <optional>
#include <string>

#include "core/config.h"
#include "core/engine.h"
#include "core/module.h"
#include "core/scan_pause.h"
#include "expr/names.h"
#include "hmi/commands.h"
#include "hmi/listing.h"

namespace {

enum class Target { Instruction, Config, None };

// Targets 1 to 3 need the slot's current screen object; without one they
// fail as "no current object".
Target target_of(const HmiCommand& c) {
  switch (c.n[0]) {
    case 0:
      return current_instruction ? Target::Instruction : Target::None;
    case 4:
      return Target::Config;
    default:
      return Target::None;
  }
}

// An instruction's shape and rows are the scan's: read them paused.
bool t_lparam(Target t, Ilparam* s) {
  *s = Ilparam{};
  ScanPause p(Pause::Paused);
  return t == Target::Instruction ? current_instruction->lparam(s) : gen::lparam(s);
}
bool t_gparam(Target t, Iparam* p, u16 g, u16 r) {
  return t == Target::Instruction ? current_instruction->gparam(p, g, r) : gen::gparam(p, g, r);
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

// Login passwords and keys (page 0 groups) and the mail password (page 2)
// read back only to the programmer; others see them masked.
bool secret_row(u16 group, u16 row) {
  if (gen_sel == 0) return group != 0 && (row == 0 || row == 3);
  if (gen_sel == 2) return group == 0 && row == 10;
  return false;
}

}  // namespace

void cmd_lconfig(HmiCommand& c) {
  Target t = target_of(c);
  Ilparam s;
  if (t == Target::None || !t_lparam(t, &s)) return reply_fail(c.slot);
  send_HMI_response(c.slot, std::to_string(s.rows));
  send_HMI_response(c.slot, std::to_string(s.group_rows));
  send_HMI_response(c.slot, std::to_string(s.groups));
  send_HMI_term(c.slot);
}

void cmd_gquorfig(HmiCommand& c) {
  Target t = target_of(c);
  if (t == Target::None) return reply_fail(c.slot);
  const char* d = t == Target::Instruction ? current_instruction->dparam() : gen::dparam();
  if (!d) return reply_fail(c.slot);
  reply_one(c.slot, d);
}

void cmd_gconfig(HmiCommand& c) {
  Target t = target_of(c);
  Ilparam s;
  if (t == Target::None || !t_lparam(t, &s)) return reply_fail(c.slot);
  u16 g_first = 0, g_last = 0, rows = s.rows;
  if (c.n[1] != 0) {
    if (!s.groups) return reply_fail(c.slot);
    g_first = 1;
    g_last = s.groups;
    rows = s.group_rows;
  }
  if (!rows) return reply_fail(c.slot);
  // The programmer's reads hold the scan for the whole list; an operator's
  // pause it for one row at a time.
  std::optional<ScanPause> whole;
  if (priority[c.slot] == 0) whole.emplace(Pause::Paused);
  for (u16 g = g_first; g <= g_last; ++g) {
    for (u16 r = 0; r < rows; ++r) {
      Iparam p;
      p.user = u16(c.slot);
      bool ok;
      std::string line;
      {
        ScanPause row(Pause::Paused);
        ok = t_gparam(t, &p, g, r);
        if (ok && t == Target::Config && priority[c.slot] != 0 && secret_row(g, r)) {
          p.text = "*****";
          p.value = 0;
        }
        if (ok) line = row_line(p);
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
  Target t = target_of(c);
  if (t == Target::None || priority[c.slot] != 0) return;
  // A reference may create or grow a variable, and the row may change the
  // program's I/O or a loop: the scan stops for all of it.
  ScanPause pause(Pause::Stopped);
  Iparam p;
  p.type = u16(c.n[2]);
  p.user = u16(c.slot);
  std::string name;
  if (p.type == ptype::Ref) {
    name = c.text.empty() ? "Null" : c.text;
    if (!var_name(name.c_str(), &p.ref, true)) return;
    p.text = name.c_str();
  } else if (p.type & 0x100) {
    p.text = c.text == "Null" ? nullptr : c.text.c_str();
  } else {
    p.value = c.n[1];
  }
  u16 g = u16(c.n[3]), r = u16(c.n[4]);
  if (t == Target::Instruction) run_inst_update = 0;
  if (t == Target::Instruction)
    current_instruction->sparam(&p, g, r);
  else
    gen::sparam(&p, g, r);
}

void cmd_resize(HmiCommand& c) {
  bool ok = false;
  if (c.n[0] == 0) {
    if (!current_instruction) return reply_fail(c.slot);
    run_inst_update = 0;
    ScanPause p(Pause::Stopped);
    ok = current_instruction->resize(u16(c.n[1]));
  } else if (c.n[0] == 4) {
    ScanPause p(Pause::Stopped);
    gen_resize(u16(c.n[1]));
    ok = true;
  }
  if (ok) return reply_ok(c.slot);
  reply_fail(c.slot);
}

void cmd_num(HmiCommand& c) {
  if (c.n[0] != 0 || !current_instruction) return reply_fail(c.slot);
  reply_one(c.slot, std::to_string(current_instruction->num()));
}

void cmd_gpos(HmiCommand& c) {
  if (c.n[0] > 10) return reply_fail(c.slot);
  gen_sel = u8(c.n[0]);
  reply_ok(c.slot);
}
