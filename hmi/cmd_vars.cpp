// Variable commands: list, read and write cells by name, and the cells of
// the system variable. Cell values travel as the signed decimal text of
// their 32-bit pattern.
#include <cstdint>
#include <string>

#include "core/engine.h"
#include "core/module.h"
#include "core/scan_pause.h"
#include "expr/names.h"
#include "hmi/commands.h"
#include "hmi/listing.h"

namespace {

std::string cell_text(float v) { return std::to_string(i32(float_bits(v))); }

bool resolve(const std::string& name, pIdata* ref) { return var_name(name.c_str(), ref, false) && ref->var; }

void list_scope(int slot, Control* m, char first) {
  if (!m) return;
  for (Ivar* v = m->rvar(); v; v = v->next)
    if (!first || (!v->name.empty() && v->name[0] == first)) send_HMI_response(slot, v->name);
}

}  // namespace

void cmd_lvar(HmiCommand& c) {
  list_scope(c.slot, current_module, 0);
  Control* loop_head = current_loop < 5 ? loop_start[current_loop] : nullptr;
  if (loop_head != current_module) list_scope(c.slot, loop_head, '#');
  if (loop_start[0] != current_module) list_scope(c.slot, loop_start[0], '!');
  send_HMI_term(c.slot);
}

void cmd_livar(HmiCommand& c) {
  Control* i = current_instruction;
  if (!i) return reply_fail(c.slot);
  ScanPause pause(Pause::Paused);
  Ilparam shape;
  if (!i->lparam(&shape)) return reply_fail(c.slot);
  int lines = 0;
  auto row = [&](u16 g, u16 r) {
    Iparam p;
    p.user = u16(c.slot);
    if (i->gparam(&p, g, r) && p.type == ptype::Ref && p.ref.valid()) {
      send_HMI_response(c.slot, ref_text(p.ref) + "|" + cell_text(p.ref.get()));
      ++lines;
    }
  };
  for (u16 r = 0; r < shape.rows; ++r) row(0, r);
  for (u16 g = 1; g <= shape.groups; ++g)
    for (u16 r = 0; r < shape.group_rows; ++r) row(g, r);
  if (!lines) return reply_fail(c.slot);
  send_HMI_term(c.slot);
}

void cmd_svar(HmiCommand& c) {
  pIdata ref;
  if (!resolve(c.text, &ref)) return reply_fail(c.slot);
  ref.set(bits_float(c.n[0]));
  reply_ok(c.slot);
}

void cmd_rvar(HmiCommand& c) {
  pIdata ref;
  if (!resolve(c.text, &ref)) return reply_fail(c.slot);
  u32 last = c.n[0] == 0 ? ref.index : ref.var->size;
  for (u32 k = ref.index, n = 0; k <= last && n < 128; ++k, ++n) send_HMI_response(c.slot, cell_text(ref.var->get(u16(k))));
  send_HMI_term(c.slot);
}

void cmd_mivar(HmiCommand& c) {
  pIdata ref;
  if (!resolve(c.text, &ref)) return reply_fail(c.slot);
  reply_one(c.slot, std::to_string(ref.var->size));
}

void cmd_rsys(HmiCommand& c) {
  Ivar* sys = system_var();
  u32 first = c.n[0], count = c.n[1];
  if (!sys || count > 128 || std::uint64_t(first) + count > sys->size) return reply_fail(c.slot);
  for (u32 k = first; k <= first + count; ++k) send_HMI_response(c.slot, cell_text(sys_get(u16(k))));
  send_HMI_term(c.slot);
}

void cmd_ssys(HmiCommand& c) {
  Ivar* sys = system_var();
  u32 first = c.n[0], count = c.n[1];
  if (!sys || count > 15 || first < 24 || std::uint64_t(first) + count > sys->size) return reply_fail(c.slot);
  for (u32 k = 0; k <= count; ++k) sys_set(u16(first + k), bits_float(c.n[2 + k]));
  reply_ok(c.slot);
}
