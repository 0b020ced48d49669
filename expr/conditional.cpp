#include "expr/conditional.h"

#include <vector>

#include "core/engine.h"
#include "core/registry.h"

namespace {
constexpr u8 kTopLevel = 9;  // if_status has 10 levels per loop
constexpr u16 kIf = 21, kElseIf = 22, kEndIf = 23;

u16 exec_loop() { return current_loop_exec < 4 ? current_loop_exec : 0; }
}  // namespace

Control* If::execute() {
  u16 L = exec_loop();
  u8 k = if_index[L];
  if (k > kTopLevel) k = if_index[L] = kTopLevel;
  if (if_status[L][k] == 1 && k < kTopLevel) if_index[L] = u8(k + 1);
  return ifelse_execute();
}

Control* If::ifelse_execute() {
  u16 L = exec_loop();
  float c = (group_count() && Exp_tmp.var) ? evaluate() : 0.0f;
  u8 k = if_index[L];
  if (k > kTopLevel) k = kTopLevel;
  if (c == 0.0f) {
    if_status[L][k] = 0;
    return next_if();
  }
  if_status[L][k] = 1;
  return next;
}

// One pass over the module with a stack of the blocks open at each point;
// each entry is the If or ElseIf of that block still waiting for its
// target. An ElseIf outside any block waits like an If.
void If::find_targets(Control* from) {
  const u32 shape = program_shape.load(std::memory_order_relaxed);
  Control* c = from;
  while (c->prev && c->prev->num() != 0) c = c->prev;
  std::vector<If*> open;  // null: a block opened by a foreign 21
  auto settle = [&](Control* target) {
    If* waiting = open.back();
    open.pop_back();
    if (waiting) {
      waiting->target_ = target;
      waiting->target_shape_ = shape;
    }
  };
  for (; c; c = c->next) {
    u16 t = c->num();
    if (t == 0) break;  // blocks never leave their module
    if (t == kIf) {
      open.push_back(dynamic_cast<If*>(c));
    } else if (t == kElseIf) {
      if (!open.empty()) settle(c);
      open.push_back(dynamic_cast<If*>(c));
    } else if (t == kEndIf && !open.empty()) {
      settle(c);
    }
  }
  while (!open.empty()) settle(c);  // the next module, or the list's end
}

Control* ElseIf::execute() {
  u16 L = exec_loop();
  u8 k = if_index[L];
  if (k > kTopLevel) k = if_index[L] = kTopLevel;
  if (if_status[L][k] != 0) return next_if();
  return ifelse_execute();
}

Control* EndIf::execute() {
  u16 L = exec_loop();
  u8 k = if_index[L];
  if (k > kTopLevel) k = if_index[L] = kTopLevel;
  if_status[L][k] = 0;
  if (k > 0) if_index[L] = u8(k - 1);
  return next;
}

QUOR_REGISTER_INSTRUCTION(21, If);
QUOR_REGISTER_INSTRUCTION(22, ElseIf);
QUOR_REGISTER_INSTRUCTION(23, EndIf);
