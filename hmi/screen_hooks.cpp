// The screens subsystem's entries in the hook tables: the program file,
// the block operations and the program reset reach screens only here.
#include "core/hooks.h"
#include "core/module.h"
#include "hmi/hmi_object.h"
#include "hmi/session.h"
#include "program/hmi_io.h"
#include "program/program_new.h"

namespace {

void select_screen(int session, Module* m) {
  if (session < 0 || session >= HMI_SLOTS) return;
  current_hmi_mod[session] = m;
  hmi_slot_no_object(session);
}

void clear_sessions() {
  for (int s = 0; s < HMI_SLOTS; ++s) select_screen(s, nullptr);
  hmi_block = nullptr;
}

// Instruction objects that show c lose it (only those of c's module may,
// but a walk over every screen costs little and proves it).
void instruction_deleted(Module*, Control* c) {
  for (Control* m = loop_start[0]; m; m = static_cast<Module*>(m)->next_module)
    for (HMI_object* o = static_cast<Module*>(m)->objects; o; o = o->next) o->forget(nullptr, c);
}

void destroy_objects(HMI_object* first) {
  while (first) {
    HMI_object* nx = first->next;
    hmi_forget_object(first);
    first->prev = nullptr;  // the rest of the list goes too: no relinking
    first->next = nullptr;
    Module* m = first->module;
    if (m && m->objects == first) m->objects = nx;
    delete first;
    first = nx;
  }
}

}  // namespace

void screens_install_hooks() {
  // Start-up, main thread, before the execution thread: the type table.
  startup_hooks.hmi_build = &hmi_build;
  // Main thread, scan stopped or before it starts: a module goes with its screen.
  hmi_destroy_objects = &destroy_objects;

  // Main thread; loading, import and block edits under lock(3), saving
  // under lock(1) (program/hmi_io.h).
  auto& h = hmi_file_hooks;
  h.format_get = [](u16 list, u16 n, const char** text) {
    hmi_format* f = hmi_format_ptr(list, n);
    if (!f) return false;
    *text = f->name();
    return true;
  };
  h.format_insert = &HMI_format_insert;
  h.format_append = &HMI_format_append;
  h.first = [](Module* m) { return m ? m->objects : nullptr; };
  h.next = [](HMI_object* o) { return o->next; };
  h.num = [](HMI_object* o) { return o->num(); };
  h.name = [](HMI_object* o) { return o->name_or_null(); };
  h.lparam = [](HMI_object* o, Ilparam* s) { return o->lparam(s); };
  h.gparam = [](HMI_object* o, Iparam* p, u16 g, u16 r) { return o->gparam(p, g, r); };
  h.sparam = [](HMI_object* o, Iparam* p, u16 g, u16 r) { return o->sparam(p, g, r); };
  h.select = &select_screen;
  h.insert = [](int s, u16 type, const char* name, u16 groups) -> HMI_object* {
    return hmi_insert(type, name, groups, s) ? current_hmi_obj[s] : nullptr;
  };
  h.clear_sessions = &clear_sessions;
  h.instruction_deleted = &instruction_deleted;
  h.module_deleted = &hmi_forget_module;

  // Main thread, scan stopped: a new program starts without formats.
  on_program_new(ResetPhase::Clear, &hmi_formats_clear);
}
