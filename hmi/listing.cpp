#include "hmi/listing.h"

#include <algorithm>

#include "core/module.h"
#include "core/registry.h"
#include "hmi/session.h"
#include "program/program_new.h"

void forget_walk() {
  list_save = {};
  list_flag = 3;
}

void hmi_install_hooks() { on_program_new(ResetPhase::Clear, &forget_walk); }

CursorPos cursor_save() { return {current_instruction, current_module, current_loop}; }

void cursor_restore(const CursorPos& p) {
  current_instruction = p.inst;
  current_module = p.mod;
  current_loop = p.loop;
}



std::string type_and_desc(const Control* c) {
  u16 t = c->num();
  const char* name = t < INST_TYPES && inst_def_use[t].name ? inst_def_use[t].name : "";
  return std::string(name) + " " + c->desc;
}

std::string instruction_and_caption(const Control* c) {
  if (!c) return " ";
  u16 t = c->num();
  if (t == 0) return type_and_desc(c);
  if (t >= 21 && t <= 23) return " " + type_and_desc(c);
  return "  " + type_and_desc(c);
}

void list_prog(int slot, int n) {
  HMI_row = 0;
  HMI_basei = current_instruction;
  HMI_basem = current_module;
  HMI_basel = current_loop;
  Control* c = current_instruction;
  if (!c) {
    send_HMI_response(slot, " ");
  } else {
    for (int i = 0; i < n && c; ++i, c = c->next) send_HMI_response(slot, instruction_and_caption(c));
  }
  send_HMI_term(slot);
}

int move_instructions(int n) {
  int total = 0;
  while (n != 0) {
    short part = short(std::clamp(n, -32767, 32767));
    int made = position_instruction(part);
    total += made;
    if (made != part) break;
    n -= part;
  }
  return total;
}
