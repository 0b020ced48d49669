// Program browsing: cursor moves, listing pages, the line-by-line walk and
// the searches. The cursor and page state are shared by every client.
#include <algorithm>
#include <string>

#include "core/module.h"
#include "core/scan_pause.h"
#include "hmi/commands.h"
#include "hmi/screen_select.h"
#include "hmi/listing.h"
#include "program/program_new.h"


namespace {

void page(int slot) { list_prog(slot, PAGE_LINES); }

void cursor_to_base() {
  current_instruction = HMI_basei;
  current_module = HMI_basem;
  current_loop = HMI_basel;
}

void set_base_to_cursor() {
  HMI_basei = current_instruction;
  HMI_basem = current_module;
  HMI_basel = current_loop;
}

i16 row() { return i16(HMI_row); }
void add_row(int d) { HMI_row = u16(i16(row() + d)); }

void reply_cur(int slot) { reply_one(slot, "cur " + std::to_string(row())); }

// Does any parameter of c print the text t (a reference or a text row)?
bool params_contain(Control* c, const std::string& t) {
  Ilparam shape;
  if (!c->lparam(&shape)) return false;
  auto row_has = [&](u16 g, u16 r) {
    Iparam p;
    if (!c->gparam(&p, g, r)) return false;
    if (p.type == ptype::Ref) return p.ref.var && ref_text(p.ref).find(t) != std::string::npos;
    if (p.type & 0x100) return p.text && std::string(p.text).find(t) != std::string::npos;
    return false;
  };
  for (u16 r = 0; r < shape.rows; ++r)
    if (row_has(0, r)) return true;
  for (u16 g = 1; g <= shape.groups; ++g)
    for (u16 r = 0; r < shape.group_rows; ++r)
      if (row_has(g, r)) return true;
  return false;
}

void walk_begin(int slot, u8 flag, Control* start) {
  list_save = cursor_save();
  if (!start) {
    reply_fail(slot);
    return;
  }
  current_instruction = start;
  current_module = module_of(start);
  current_loop = loop_of(start);
  list_flag = flag;
  reply_one(slot, instruction_and_caption(start));
}

}  // namespace

void cmd_start(HmiCommand& c) {
  current_instruction = current_module = loop_start[0];
  current_loop = 0;
  current_hmi_mod[c.slot] = static_cast<Module*>(loop_start[0]);
  hmi_slot_no_object(c.slot);
  page(c.slot);
}

void cmd_refresh(HmiCommand& c) {
  cursor_to_base();
  page(c.slot);
}

void cmd_loop(HmiCommand& c) {
  if (c.n[0] < 1 || !position_loop(u16(c.n[0] - 1))) return reply_fail(c.slot);
  page(c.slot);
}

void cmd_apos(HmiCommand& c) {
  i32 n = c.si(0);
  if (n < 0 || !loop_start[0]) return reply_fail(c.slot);
  position_loop(0);
  if (n > 0 && move_instructions(n) != n) return reply_fail(c.slot);
  list_prog(c.slot, 1);
}

void cmd_rapos(HmiCommand& c) { reply_one(c.slot, std::to_string(instruction_index_pos())); }

void cmd_alist(HmiCommand& c) { list_prog(c.slot, 65535); }

void cmd_posh(HmiCommand& c) {
  if (!current_instruction) return reply_fail(c.slot);
  while (current_instruction->num() != 0 && current_instruction->prev) {
    current_instruction = current_instruction->prev;
    add_row(-1);
  }
  current_module = current_instruction;
  Control* p = current_instruction;
  for (u32 i = 0; i < c.n[0]; ++i) {
    p = p->next;
    if (!p || p->num() == 0) {
      current_instruction = current_module;
      return reply_fail(c.slot);
    }
  }
  current_instruction = p;
  add_row(int(c.n[0]));
  reply_ok(c.slot);
}

void cmd_ipos(HmiCommand& c) {
  i32 n = c.si(0);
  int dir = n >= 0 ? 1 : -1;
  u16 type = u16(n >= 0 ? n : -1 - n);
  CursorPos was = cursor_save();
  for (;;) {
    if (move_instructions(dir) == 0) {
      cursor_restore(was);
      break;
    }
    if (current_instruction->num() == type) break;
  }
  page(c.slot);
}

void cmd_inst(HmiCommand& c) {
  move_instructions(c.si(0));
  page(c.slot);
}

void cmd_mod(HmiCommand& c) {
  position_module(short(std::clamp(c.si(0), -32768, 32767)));
  page(c.slot);
}

void cmd_pos(HmiCommand& c) {
  if (c.n[0] >= u32(PAGE_LINES)) return reply_fail(c.slot);
  add_row(move_instructions(int(c.n[0]) - row()));
  reply_cur(c.slot);
}

void cmd_up(HmiCommand& c) {
  if (!HMI_basei || !HMI_basei->prev || HMI_basei == loop_start[0]) return reply_fail(c.slot);
  cursor_to_base();
  move_instructions(-1);
  set_base_to_cursor();
  HMI_row = 0;
  reply_one(c.slot, instruction_and_caption(current_instruction));
}

void cmd_down(HmiCommand& c) {
  int want = PAGE_LINES - row();
  CursorPos was = cursor_save();
  if (!current_instruction || move_instructions(want) != want) {
    cursor_restore(was);
    return reply_fail(c.slot);
  }
  CursorPos below = cursor_save();
  cursor_to_base();
  move_instructions(1);
  set_base_to_cursor();
  cursor_restore(below);
  HMI_row = PAGE_LINES - 1;
  reply_one(c.slot, instruction_and_caption(current_instruction));
}

void cmd_pgup(HmiCommand& c) {
  cursor_to_base();
  move_instructions(-(PAGE_LINES - 1));
  page(c.slot);
}

void cmd_pgdn(HmiCommand& c) {
  cursor_to_base();
  if (move_instructions(PAGE_LINES - 1) < PAGE_LINES - 1) move_instructions(-(PAGE_LINES - 1));
  page(c.slot);
}

void cmd_varp(HmiCommand& c) {
  std::string t = c.text;
  int dir = 1;
  if (!t.empty() && t[0] == '-') {
    dir = -1;
    t.erase(0, 1);
  }
  CursorPos was = cursor_save();
  ScanPause pause(Pause::Paused);  // the search reads instructions' rows
  for (;;) {
    if (!current_instruction || move_instructions(dir) == 0) {
      cursor_restore(was);
      return reply_fail(c.slot);
    }
    Control* i = current_instruction;
    bool match = i->desc.find(t) != std::string::npos;
    // A module matches when its screen shows the variable named exactly t;
    // other instructions through their parameters.
    if (!match && c.n[0] == 0)
      match = i->num() == 0 ? hmi_var_use(static_cast<Module*>(i), 0, t.c_str()) >= 0 : params_contain(i, t);
    if (match) break;
  }
  page(c.slot);
}

void cmd_lmt(HmiCommand& c) { walk_begin(c.slot, 0, current_module); }

void cmd_llt(HmiCommand& c) { walk_begin(c.slot, 1, current_loop < 5 ? loop_start[current_loop] : nullptr); }

void cmd_lpt(HmiCommand& c) { walk_begin(c.slot, 2, loop_start[0]); }

void cmd_lnxt(HmiCommand& c) {
  bool end = list_flag == 3;
  std::string line;
  if (!end) {
    if (move_instructions(1) == 0) {
      end = true;
    } else {
      line = instruction_and_caption(current_instruction);
      end = (list_flag == 0 && line.rfind("Module", 0) == 0) ||
            (list_flag == 1 && line.rfind("Module Loop", 0) == 0) ||
            (list_flag == 2 && line.rfind("Module End", 0) == 0);
    }
  }
  if (end) {
    list_flag = 3;
    if (list_save.inst) cursor_restore(list_save);
    return reply_fail(c.slot);
  }
  reply_one(c.slot, line);
}
