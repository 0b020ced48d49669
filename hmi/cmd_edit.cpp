// Program editing: new program, captions, block marking, variable renaming.
// Structural edits pause the scan at level 3 (release then restarts it).
#include <string>

#include "core/engine.h"
#include "core/module.h"
#include "expr/names.h"
#include "hmi/commands.h"
#include "hmi/listing.h"
#include "program/program_new.h"

void cmd_new(HmiCommand& c) {
  lock(3);
  program_new(false);
  release();
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
  if (var_rename(c.text.c_str(), c.text2.c_str())) return reply_ok(c.slot);
  reply_fail(c.slot);
}

// The editing operations on the program structure and the program file
// come with the program editing subsystem; until it is part of the build
// these commands refuse.
void cmd_insert(HmiCommand& c) {
  run_inst_update = 0;
  reply_fail(c.slot);
}
void cmd_ren(HmiCommand& c) { reply_fail(c.slot); }
void cmd_blocks(HmiCommand& c) { reply_fail(c.slot); }
void cmd_blocke(HmiCommand& c) { reply_fail(c.slot); }
void cmd_del(HmiCommand& c) { reply_fail(c.slot); }
void cmd_copy(HmiCommand& c) { reply_fail(c.slot); }
void cmd_move(HmiCommand& c) { reply_fail(c.slot); }
void cmd_extract(HmiCommand& c) { reply_fail(c.slot); }
void cmd_save(HmiCommand& c) { reply_fail(c.slot); }
void cmd_load(HmiCommand& c) { reply_fail(c.slot); }
