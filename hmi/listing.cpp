#include "hmi/listing.h"

#include "core/module.h"
#include "core/registry.h"
#include "expr/names.h"
#include "hmi/session.h"
#include "program/program_new.h"

CursorPos cursor_save() { return {current_instruction, current_module, current_loop}; }

void cursor_restore(const CursorPos& p) {
  current_instruction = p.inst;
  current_module = p.mod;
  current_loop = p.loop;
}

namespace hmi {

int position_instruction(int n) {
  int steps = 0;
  Control* c = current_instruction;
  if (!c) return 0;
  while (n > 0) {
    if (c == loop_start[4] || !c->next) break;
    c = c->next;
    ++steps;
    --n;
    if (c->num() == 0) current_module = c;
    if (current_loop < 3 && c == loop_start[current_loop + 1]) ++current_loop;
    if (c == loop_start[4]) break;
  }
  while (n < 0) {
    if (c == loop_start[0] || !c->prev) break;
    if (current_loop > 0 && c == loop_start[current_loop]) --current_loop;
    if (c->num() == 0) current_module = module_of(c->prev);
    c = c->prev;
    --steps;
    ++n;
  }
  current_instruction = c;
  return steps;
}

int position_module(int n) {
  auto* m = static_cast<Module*>(current_module);
  if (!m) return 0;
  int steps = 0;
  auto reset = [] {
    current_instruction = current_module = loop_start[0];
    current_loop = 0;
    return 0;
  };
  while (n > 0) {
    if (m == loop_start[4]) break;
    m = m->next_module;
    if (!m) return reset();
    ++steps;
    --n;
    for (u16 l = 0; l < 5; ++l)
      if (m == loop_start[l]) current_loop = l;
  }
  while (n < 0) {
    if (m == loop_start[0]) break;
    Module* p = m->prev_module;
    if (!p) return reset();
    if (current_loop > 0 && m == loop_start[current_loop]) --current_loop;
    m = p;
    --steps;
    ++n;
  }
  current_instruction = current_module = m;
  return steps;
}

bool position_loop(u16 l) {
  if (l > 3 || !loop_start[l]) return false;
  current_instruction = current_module = loop_start[l];
  current_loop = l;
  return true;
}

int instruction_index_pos() {
  int i = 0;
  for (Control* c = loop_start[0]; c && c != current_instruction; c = c->next) ++i;
  return i;
}

void update_module_pointer() {
  current_module = module_of(current_instruction);
  HMI_row = 0;
  HMI_basei = current_instruction;
  HMI_basem = current_module;
  HMI_basel = current_loop;
}

}  // namespace hmi

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
