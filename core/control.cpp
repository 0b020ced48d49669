#include "core/control.h"

Control::Control(Control* p, const char* d) : prev(p), desc(d ? d : "") {
  if (prev) {
    next = prev->next;
    prev->next = this;
    if (next) next->prev = this;
  }
  program_shape_changed();
}

Control::~Control() {
  if (prev) prev->next = next;
  if (next) next->prev = prev;
  program_shape_changed();
}

void Control::new_desc(const char* text) {
  if (text) desc = text;
}

bool Control::lparam(Ilparam* shape) {
  *shape = Ilparam{};
  return true;
}

bool Control::gparam(Iparam*, u16, u16) { return false; }
bool Control::sparam(Iparam*, u16, u16) { return false; }
bool Control::resize(u16) { return false; }
