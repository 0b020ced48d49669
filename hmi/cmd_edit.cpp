// Program editing: new program, captions, block marking, variable renaming.
// Structural edits pause the scan at level 3 (release then restarts it).
#include <cstdio>
#include <memory>
#include <string>

#include "core/engine.h"
#include "core/module.h"
#include "core/scan_pause.h"
#include "expr/names.h"
#include "hmi/commands.h"
#include "hmi/listing.h"
#include "core/registry.h"
#include "net/files.h"
#include "program/editing.h"
#include "program/file.h"
#include "program/program_new.h"

void cmd_new(HmiCommand& c) {
  {
    ScanPause p(Pause::Stopped);
    program_new(false);
  }
  cmd_start(c);
}

void cmd_name(HmiCommand& c) {
  if (c.n[0] != 0 || !current_instruction) return reply_fail(c.slot);  // no current screen object
  const std::string& d = current_instruction->desc;
  reply_one(c.slot, d.empty() ? "none" : d);
}

void cmd_blockc(HmiCommand& c) {
  send_HMI_response(c.slot, block_start ? type_and_desc(block_start) : "None");
  send_HMI_response(c.slot, block_end ? type_and_desc(block_end) : "None");
  send_HMI_term(c.slot);
}

void cmd_varen(HmiCommand& c) {
  bool ok;
  {
    ScanPause p(Pause::Paused);  // names are read only with the scan paused
    ok = var_rename(c.text.c_str(), c.text2.c_str());
  }
  if (ok) return reply_ok(c.slot);
  reply_fail(c.slot);
}

namespace {

// A structural edit: the scan stops for it (and restarts from the top of
// every loop after it); answered with a page or "fail".
template <class Op>
void structural(HmiCommand& c, Op op) {
  bool ok;
  {
    ScanPause p(Pause::Stopped);
    ok = op();
    forget_walk();  // the walk's saved cursor may name a deleted instruction
  }
  if (!ok) return reply_fail(c.slot);
  list_prog(c.slot, PAGE_LINES);
}

}  // namespace

void cmd_insert(HmiCommand& c) {
  run_inst_update = 0;
  structural(c, [&] { return c.n[0] < INST_TYPES && program_instruction(u16(c.n[0]), c.text.c_str(), u16(c.n[1])); });
}

void cmd_ren(HmiCommand& c) {
  if (c.n[0] != 0) return reply_fail(c.slot);  // no current screen object
  run_inst_update = 0;
  if (program_rename(c.text.c_str())) return reply_ok(c.slot);
  reply_fail(c.slot);
}

void cmd_blocks(HmiCommand& c) {
  if (c.n[0] == 0 && program_blockstart()) return reply_ok(c.slot);
  reply_fail(c.slot);
}

void cmd_blocke(HmiCommand& c) {
  if (program_block()) return reply_ok(c.slot);
  reply_fail(c.slot);
}

void cmd_del(HmiCommand& c) {
  run_inst_update = 0;
  structural(c, [] { return program_delete(); });
}

void cmd_copy(HmiCommand& c) {
  run_inst_update = 0;
  if (c.n[0] != 0) return reply_fail(c.slot);  // no marked screen object
  structural(c, [] { return program_copy(); });
}

void cmd_move(HmiCommand& c) {
  run_inst_update = 0;
  if (c.n[0] != 0) return reply_fail(c.slot);
  structural(c, [] { return program_move(); });
}

namespace {

// A file name from a client: inside the working directory; empty means
// the start-up program file.
bool file_name_ok(const std::string& name) { return name.empty() || client_name_ok(name); }

}  // namespace

void cmd_save(HmiCommand& c) {
  bool ok = false;
  if (file_name_ok(c.text)) {
    ScanPause p(Pause::Paused);
    ok = program_save(c.text.c_str());
  }
  if (ok) return reply_ok(c.slot);
  reply_fail(c.slot);
}

void cmd_load(HmiCommand& c) {
  if (!file_name_ok(c.text)) return reply_fail(c.slot);
  structural(c, [&] { return program_load(c.text.c_str(), c.slot); });
}

void cmd_extract(HmiCommand& c) {
  if (c.text.empty() || !client_name_ok(c.text)) return reply_fail(c.slot);
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(c.text.c_str(), "rb"), &std::fclose);
  if (!f) return reply_fail(c.slot);
  std::string name;
  if (c.n[0] == 0) {
    // List the file's modules; the program is not touched.
    if (!find_first_module(f.get(), nullptr)) return reply_fail(c.slot);
    while (move_next_module(f.get(), name) && !name.empty()) send_HMI_response(c.slot, name);
    send_HMI_term(c.slot);
    return;
  }
  STR_PTR list;
  if (!find_first_module(f.get(), &list)) return reply_fail(c.slot);
  for (u32 i = 0; i < c.n[0]; ++i)
    if (!move_next_module(f.get(), name) || name.empty()) return reply_fail(c.slot);
  // Importing changes the program structure: the scan pauses as for every
  // structural edit.
  structural(c, [&] { return module_insert(f.get(), &list, c.slot); });
}
