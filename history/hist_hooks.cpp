// How the history subsystem meets the rest: the "Create file" rows of the
// configuration pages, the check after a program load, and the program
// reset of the mail markers.
#include "core/config.h"
#include "core/hooks.h"
#include "history/history.h"
#include "program/program_new.h"

namespace {

void check_all() {
  for (int f = 0; f < HIST_FILES; ++f) {
    check_periodic(f);
    check_event(f);
  }
}

void forget_mail() {
  for (auto& m : per_mail_rec) m.store(-1);
  for (auto& m : evt_mail_rec) m.store(-1);
}

}  // namespace

void history_install_hooks() {
  static bool installed = false;
  // Main thread, from the configuration page's set (scan stopped).
  config_hooks.create_periodic = &create_periodic;
  config_hooks.create_event = &create_event;
  // Main thread, at the end of a program load (scan stopped).
  engine_hooks.program_loaded = &check_all;
  if (!installed) on_program_new(ResetPhase::Clear, &forget_mail);
  installed = true;
}

