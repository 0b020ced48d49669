#include "program/program_new.h"

#include <vector>

#include "core/config.h"
#include "core/engine.h"
#include "core/module.h"
#include "core/registry.h"

namespace {
std::vector<void (*)()>& resets(ResetPhase p) {
  static std::vector<void (*)()> detach, clear;
  return p == ResetPhase::Detach ? detach : clear;
}
}  // namespace

void on_program_new(ResetPhase phase, void (*reset)()) { resets(phase).push_back(reset); }

bool program_new(bool loading) {
  for (auto* f : resets(ResetPhase::Detach)) f();

  Control* c = loop_start[0];
  for (auto& l : loop_start) l = nullptr;
  while (c) {
    Control* nx = c->next;
    inst_delete(c->num(), c);
    c = nx;
  }
  current_module = current_instruction = nullptr;

  if (!loading) {
    static const char* const kNames[5] = {"Loop_1", "Loop_2", "Loop_3", "Loop_4", "End"};
    Control* prev = nullptr;
    for (int i = 0; i < 5; ++i) prev = loop_start[i] = new Module(prev, kNames[i], 0);
    current_loop = 0;
    current_module = current_instruction = loop_start[0];
    HMI_basei = HMI_basem = loop_start[0];
    HMI_basel = 0;
    HMI_row = 0;
    block_end = nullptr;
    run_instruction = nullptr;
    break_execute.store(nullptr);
    current_prog = "None";
  }
  gen_init();
  for (auto* f : resets(ResetPhase::Clear)) f();
  return true;
}
