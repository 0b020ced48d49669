// HMI format lists for clients: add, list and rename entries, and delete an
// entry only when nothing uses it (else report who does).
#include <string>

#include "core/config.h"
#include "core/module.h"
#include "core/scan_pause.h"
#include "hmi/commands.h"
#include "hmi/hmi_object.h"

namespace {

// The users of format f in program order: first the history files, else
// the objects of the first module whose screen uses it. True when any line
// was sent (the reply then ends).
bool report_users(int slot, const hmi_format* f) {
  bool sent = false;
  for (int k = 0; k < 4; ++k) {
    if (per_vformat[k] == f) send_HMI_response(slot, "Periodic file " + std::to_string(k)), sent = true;
    if (evt_vformat[k] == f) send_HMI_response(slot, "Event file " + std::to_string(k)), sent = true;
  }
  if (sent) return true;
  for (Control* c = loop_start[0]; c; c = c->next) {
    if (c->num() != 0) continue;
    for (HMI_object* o = static_cast<Module*>(c)->objects; o; o = o->next) {
      const char* what = o->num() == 2 ? "Variable Object " : o->num() == 3 ? "Instruction Object " : nullptr;
      if (!what || o->format() != f) continue;
      if (!sent) send_HMI_response(slot, "Module " + c->desc);
      send_HMI_response(slot, what + o->name);
      sent = true;
    }
    if (sent) return true;
  }
  return false;
}

}  // namespace

void cmd_ihmis(HmiCommand& c) {
  if (c.n[0] >= HMI_FORMAT_LIST_COUNT) return reply_fail(c.slot);
  reply_one(c.slot, std::to_string(HMI_format_insert(u16(c.n[0]), c.text.c_str())));
}

void cmd_lhmis(HmiCommand& c) {
  if (c.n[0] >= HMI_FORMAT_LIST_COUNT) return reply_fail(c.slot);
  u16 list = u16(c.n[0]), count = hmi_format_count(list);
  if (!count) return reply_fail(c.slot);
  for (u16 n = 1; n <= count; ++n) {
    const hmi_format* f = hmi_format_ptr(list, n);
    send_HMI_response(c.slot, f && f->name() ? f->name() : "None");
  }
  send_HMI_term(c.slot);
}

void cmd_shmis(HmiCommand& c) {
  if (c.n[0] >= HMI_FORMAT_LIST_COUNT || c.n[1] > HMI_FORMAT_MAX_ENTRIES) return reply_fail(c.slot);
  hmi_format* f = hmi_format_ptr(u16(c.n[0]), u16(c.n[1]));
  if (!f) return reply_fail(c.slot);
  f->new_name(c.text.c_str());
  reply_ok(c.slot);
}

void cmd_dhmis(HmiCommand& c) {
  if (c.n[0] >= HMI_FORMAT_LIST_COUNT || c.n[1] > HMI_FORMAT_MAX_ENTRIES) return reply_fail(c.slot);
  u16 list = u16(c.n[0]), n = u16(c.n[1]);
  // A missing entry is not "unused": nothing would be found to use it.
  const hmi_format* f = hmi_format_ptr(list, n);
  if (!f) return reply_fail(c.slot);
  if (report_users(c.slot, f)) return send_HMI_term(c.slot);
  if (c.n[2] == 0) return reply_one(c.slot, "Selection set or Override not used");
  // Reporting is for everybody; deleting is the programmer's.
  if (priority[c.slot] != 0) return reply_fail(c.slot);
  bool ok;
  {
    ScanPause p(Pause::Paused);
    ok = HMI_format_delete(list, n);
  }
  if (ok) return reply_ok(c.slot);
  reply_fail(c.slot);
}
