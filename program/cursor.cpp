#include "program/cursor.h"

#include "core/module.h"
#include "program/program_new.h"

bool position_loop(u16 n) {
  if (n > 3 || !loop_start[n]) return false;
  current_instruction = current_module = loop_start[n];
  current_loop = n;
  return true;
}

namespace {

// One step forward onto c; false when c is "End" (the move stops there).
bool step_forward(Control* c, bool by_module) {
  current_instruction = c;
  if (c->num() == 0) current_module = c;
  if (c == loop_start[4]) {
    if (by_module) current_loop = 4;
    return false;
  }
  if (current_loop < 3 && c == loop_start[current_loop + 1]) ++current_loop;
  return true;
}

// One step back from the cursor onto c; false when c is "Loop_1".
bool step_back(Control* c) {
  if (current_loop > 0 && current_instruction == loop_start[current_loop]) --current_loop;
  bool left_module = current_instruction->num() == 0;
  current_instruction = c;
  if (left_module || c->num() == 0) current_module = module_of(c);
  if (c == loop_start[0]) {
    current_loop = 0;
    return false;
  }
  return true;
}

void cursor_home() {
  current_instruction = current_module = loop_start[0];
  current_loop = 0;
}

}  // namespace

int position_module(short n) {
  if (!current_module) return 0;
  int moved = 0;
  auto* m = static_cast<Module*>(current_module);
  if (n > 0) {
    while (moved < n) {
      if (!m->next_module) {
        cursor_home();
        return 0;
      }
      m = m->next_module;
      ++moved;
      if (!step_forward(m, true)) break;
    }
  } else if (n < 0) {
    while (moved > n) {
      if (!m->prev_module) {
        cursor_home();
        return 0;
      }
      m = m->prev_module;
      --moved;
      // Whole loops may be passed on a module move: find the loop afresh.
      current_instruction = current_module = m;
      current_loop = loop_of(m);
      if (m == loop_start[0]) break;
    }
  }
  return moved;
}

int position_instruction(short n) {
  if (!current_instruction) return 0;
  int moved = 0;
  if (n > 0) {
    while (moved < n && current_instruction->next) {
      ++moved;
      if (!step_forward(current_instruction->next, false)) break;
    }
  } else if (n < 0) {
    while (moved > n && current_instruction->prev) {
      --moved;
      if (!step_back(current_instruction->prev)) break;
    }
  }
  return moved;
}

u32 instruction_index_pos() {
  u32 i = 0;
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
