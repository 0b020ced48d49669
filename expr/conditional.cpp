#include "expr/conditional.h"

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

Control* If::next_if() {
  int nested = 0;
  for (Control* c = next; c; c = c->next) {
    u16 t = c->num();
    if (t == 0) return c;  // blocks never leave their module
    if (nested) {
      if (t == kIf) ++nested;
      if (t == kEndIf) --nested;
      continue;
    }
    if (t == kIf) nested = 1;
    else if (t == kElseIf || t == kEndIf) return c;
  }
  return nullptr;
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
