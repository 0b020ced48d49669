#include "program/program_new.h"

#include <algorithm>
#include <vector>

#include "core/config.h"
#include "core/engine.h"
#include "core/module.h"
#include "core/registry.h"
#include "core/scan_pause.h"
#include "program/hmi_io.h"

namespace {
std::vector<void (*)()>& resets(ResetPhase p) {
  static std::vector<void (*)()> detach, clear;
  return p == ResetPhase::Detach ? detach : clear;
}

// Nothing may keep pointing at the instructions about to be destroyed.
void forget_program_pointers() {
  current_module = current_instruction = nullptr;
  block_start = block_end = block_module_start = block_module_end = nullptr;
  block_len = 0;
  block_loop = 0;
  HMI_basei = HMI_basem = nullptr;
  HMI_basel = 0;
  HMI_row = 0;
  run_instruction = last_instruction = nullptr;
  next_step_instruction = current_instruction_last = nullptr;
  for (auto& r : return_instruction) r = nullptr;
  break_execute.store(nullptr);
  break_hit.store(nullptr);
  if (hmi_file_hooks.clear_sessions) hmi_file_hooks.clear_sessions();
}
}  // namespace

void on_program_new(ResetPhase phase, void (*reset)()) {
  auto& list = resets(phase);
  if (std::find(list.begin(), list.end(), reset) == list.end()) list.push_back(reset);
}

bool program_new(bool loading) {
  scan_requires(Pause::Stopped);
  for (auto* f : resets(ResetPhase::Detach)) f();

  forget_program_pointers();
  Control* c = loop_start[0];
  for (auto& l : loop_start) l = nullptr;
  while (c) {
    Control* nx = c->next;
    inst_delete(c->num(), c);
    c = nx;
  }

  if (!loading) {
    static const char* const kNames[5] = {"Loop_1", "Loop_2", "Loop_3", "Loop_4", "End"};
    Control* prev = nullptr;
    for (int i = 0; i < 5; ++i) prev = loop_start[i] = new Module(prev, kNames[i], 0);
    current_loop = 0;
    current_module = current_instruction = loop_start[0];
    HMI_basei = HMI_basem = loop_start[0];
    HMI_basel = 0;
    HMI_row = 0;
    current_prog = "None";
  }
  gen_init();
  for (auto* f : resets(ResetPhase::Clear)) f();
  return true;
}
