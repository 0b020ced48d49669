// Run control: restart, stop, continue, single step, the break point and
// the controller clock.
#include <string>

#include "core/engine.h"
#include "core/module.h"
#include "core/scan_pause.h"
#include "hmi/commands.h"
#include "hmi/listing.h"
#include "net/clock.h"
#include "program/program_new.h"

void cmd_run(HmiCommand& c) {
  { ScanPause p(Pause::Stopped); }  // its end restarts every loop from the top
  reply_one(c.slot, "OK");
}

void cmd_stop(HmiCommand& c) {
  {
    ScanPause p(Pause::Paused);
    run = 0;
    if (last_instruction) {
      current_instruction = last_instruction;
      current_loop = current_loop_exec;
      update_module_pointer();
    }
  }
  current_instruction_last = nullptr;
  reply_one(c.slot, "Stop");
}

void cmd_cont(HmiCommand& c) {
  if (run.load() == 0) run = 1;
  reply_one(c.slot, "OK");
}

void cmd_step(HmiCommand& c) {
  if (run.load() != 0 || !current_instruction) return reply_fail(c.slot);
  bool page = false;
  {
    // The step runs an instruction on this thread, and start_run makes
    // every port forget its instruction: no pass may run and no field
    // transaction may be in flight. The program stays halted afterwards.
    ScanPause p(Pause::Stopped, ScanPause::Halted);
    start_run();
    run = 0;
    current_loop_exec = current_loop;
    Control* cur = current_instruction;
    if (cur->next && cur->next != loop_start[4]) {
      Control* n = (current_instruction_last == cur && next_step_instruction) ? next_step_instruction : cur->next;
      cur = current_instruction = n;
      HMI_row = u16(HMI_row + 1);
      current_instruction_last = cur;
      next_step_instruction = cur->execute();
      if (current_loop < 3 && cur == loop_start[current_loop + 1]) ++current_loop;
      if (cur->num() == 0) current_module = cur;
      u16 t = cur->num();
      page = i16(HMI_row) > PAGE_LINES - 1 || t == 22 || t == 23;
    }
  }
  if (page) {
    send_HMI_response(c.slot, "refresh");
    list_prog(c.slot, PAGE_LINES);
    return;
  }
  reply_one(c.slot, "cur " + std::to_string(i16(HMI_row)));
}

void cmd_sbreak(HmiCommand& c) {
  Control* cur = current_instruction;
  if (!cur || cur == loop_start[4]) return reply_fail(c.slot);
  break_execute = cur;
  reply_one(c.slot, type_and_desc(cur));
}

void cmd_cbreak(HmiCommand& c) {
  break_execute = nullptr;
  reply_one(c.slot, "None");
}

void cmd_status(HmiCommand& c) { reply_one(c.slot, run.load() ? "Run" : "Stop"); }

void cmd_rdate(HmiCommand& c) { reply_one(c.slot, std::to_string(i32(timec.load()))); }

void cmd_sdate(HmiCommand& c) {
  {
    // The clock moves the schedule and the run dates the scan keeps.
    ScanPause p(Pause::Stopped);
    sdate(c.n[0], true);
  }
  reply_one(c.slot, "OK");
}
