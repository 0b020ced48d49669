// Program editing: new program, captions, block marking, variable renaming;
// with N1 != 0, "name", "ren", "blocks", "copy" and "move" act on the
// slot's current screen object instead.
// Structural edits pause the scan at level 3 (release then restarts it).
#include <cstdio>
#include <memory>
#include <string>

#include "core/engine.h"
#include "core/module.h"
#include "core/scan_pause.h"
#include "expr/names.h"
#include "hmi/commands.h"
#include "hmi/hmi_object.h"
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
  if (c.n[0] != 0) {
    HMI_object* o = current_hmi_obj[c.slot];
    if (!o) return reply_fail(c.slot);
    return reply_one(c.slot, o->name.empty() ? "none" : o->name);
  }
  if (!current_instruction) return reply_fail(c.slot);
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
  if (c.n[0] != 0) {
    if (hmi_rename(c.text.c_str(), c.slot)) return reply_ok(c.slot);
    return reply_fail(c.slot);
  }
  run_inst_update = 0;
  if (program_rename(c.text.c_str())) return reply_ok(c.slot);
  reply_fail(c.slot);
}

void cmd_blocks(HmiCommand& c) {
  if (c.n[0] == 0 ? program_blockstart() : HMI_block(c.slot)) return reply_ok(c.slot);
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
  if (c.n[0] != 0) {
    bool ok;
    {
      // The copy's references are resolved again in the receiving module,
      // which may create variables there.
      ScanPause p(Pause::Stopped);
      ok = HMI_copy(c.slot);
    }
    if (ok) return reply_ok(c.slot);
    return reply_fail(c.slot);
  }
  structural(c, [] { return program_copy(); });
}

void cmd_move(HmiCommand& c) {
  run_inst_update = 0;
  if (c.n[0] != 0) {
    if (HMI_move(c.slot)) return reply_ok(c.slot);
    return reply_fail(c.slot);
  }
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
    // Saving borrows slot 0's screen to write each module's objects; the
    // programmer keeps the screen and object being edited.
    Module* mod = current_hmi_mod[0];
    HMI_object* obj = current_hmi_obj[0];
    i32 index = current_hmi_index[0];
    ScanPause p(Pause::Paused);
    ok = program_save(c.text.c_str());
    current_hmi_mod[0] = mod;
    current_hmi_obj[0] = obj;
    current_hmi_index[0] = index;
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
