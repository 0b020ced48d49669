#include "core/module.h"

#include <cstring>

#include "core/engine.h"

Module::Module(Control* p, const char* name, u16 size) : Control(p, name) {
  if (desc == "Loop_1")
    vars = new Ivar(nullptr, "!System", SYSTEM_CELLS - 1);
  else
    vars = new Ivar(nullptr, "Module", size);

  if (next) {
    // Inserted directly before another module.
    auto* after = static_cast<Module*>(next);
    next_module = after;
    prev_module = after->prev_module;
    after->prev_module = this;
    if (prev_module) prev_module->next_module = this;
  } else if (prev) {
    Control* c = prev;
    while (c && c->num() != 0) c = c->prev;
    prev_module = static_cast<Module*>(c);
    if (prev_module) prev_module->next_module = this;
  }
}

Module::~Module() {
  destroy_var_list(vars);
  if (objects && hmi_destroy_objects) hmi_destroy_objects(objects);
  if (prev_module) prev_module->next_module = next_module;
  if (next_module) next_module->prev_module = prev_module;
}

Control* Module::execute() {
  u16 L = current_loop_exec;
  if (L < 4) {
    for (auto& s : if_status[L]) s = 0;
    if_index[L] = 0;
  }
  return next;
}

void Module::new_hmi_desc(const char* text) {
  screen_title = (text && *text) ? text : "";
}

bool Module::lparam(Ilparam* s) {
  *s = Ilparam{4, 0, 0};
  return true;
}

bool Module::gparam(Iparam* p, u16 group, u16 row) {
  if (group != 0 || row > 3) return false;
  if (row == 0) {
    p->type = ptype::Text;
    p->text = screen_title.empty() ? nullptr : screen_title.c_str();
  } else {
    p->set_uint(ptype::Dec, screen_settings[row - 1]);
  }
  return true;
}

bool Module::sparam(Iparam* p, u16 group, u16 row) {
  if (group != 0 || row > 3) return false;
  if (row == 0) {
    if (p->type != ptype::Text) return false;
    new_hmi_desc(p->text);
  } else {
    if (p->type != ptype::Dec) return false;
    screen_settings[row - 1] = p->value;
  }
  return true;
}

Ivar* system_var() { return loop_start[0] ? loop_start[0]->rvar() : nullptr; }

Module* module_of(Control* c) {
  while (c && c->num() != 0) c = c->prev;
  return static_cast<Module*>(c);
}

u16 loop_of(Control* c) {
  for (; c; c = c->prev)
    for (u16 L = 0; L < 5; ++L)
      if (c == loop_start[L]) return L;
  return 0;
}
