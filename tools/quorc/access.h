// One parameter list as quorc sees it, whatever owns it: an instruction or
// module, a configuration page, or a screen object.
#pragma once
#include <functional>
#include <string>

#include "core/control.h"
#include "core/module.h"
#include "program/hmi_io.h"
#include "tools/quorc/quorc.h"

namespace quorc {

struct Access {
  std::function<bool(Ilparam*)> lparam;
  std::function<const char*()> dparam;
  std::function<bool(Iparam*, u16, u16)> gparam, sparam;

  static Access of(Control* c) {
    return {[c](Ilparam* s) { return c->lparam(s); }, [c] { return c->dparam(); },
            [c](Iparam* p, u16 g, u16 r) { return c->gparam(p, g, r); },
            [c](Iparam* p, u16 g, u16 r) { return c->sparam(p, g, r); }};
  }
  // The configuration page must be selected (gen_sel) while it is used.
  static Access page();
  static Access of(HMI_object* o) {
    auto& h = hmi_file_hooks;
    return {[o, &h](Ilparam* s) { return h.lparam && h.lparam(o, s); },
            [o]() -> const char* { return object_info.dparam ? object_info.dparam(o) : nullptr; },
            [o, &h](Iparam* p, u16 g, u16 r) {
              p->user = 0;
              return h.gparam && h.gparam(o, p, g, r);
            },
            [o, &h](Iparam* p, u16 g, u16 r) {
              p->user = 0;
              return h.sparam && h.sparam(o, p, g, r);
            }};
  }
};

// The name of a screen object type as the text writes it.
std::string object_type_text(u16 type);

}  // namespace quorc
