// Variable: one cell shown with a display format and a widget, which an
// operator may write inside the object's write security.
#include <cmath>

#include "core/engine.h"
#include "hmi/hmi_rows.h"
#include "hmi/hmi_types.h"
#include "hmi/session.h"
#include "net/clock.h"

namespace {
void get_selection(Variable& o, u16, Iparam& p, const Row<Variable>&) { p.value = hmi_format_index(0, o.selection); }
bool set_selection(Variable& o, u16, const Iparam& p, const Row<Variable>&) {
  o.selection = hmi_format_ptr(0, u16(p.value & 0xFF));
  return true;
}
}  // namespace

const RowTable<Variable> Variable::rows{hrows::with_base<Variable>(
    "Security (1-255)",
    {
        hrows::ref<Variable, &Variable::var>("Variable"),
        hrows::small<Variable, &HMI_object::write_security>("Write security (0-255)", ptype::Dec, 0, 255),
        hrows::small<Variable, &Variable::fmt>("Format~0 Decimal Place (DP)~1 Decimal Place (DP)~2 DP~3 DP~4 DP~5 DP~"
                                               "Float~Time~Decimal int~Hex int~Selection set~Date~Date/Time",
                                               ptype::Select, 0, FmtDateTime),
        rows::custom<Variable>("Selection set", ptype::SelSet, &get_selection, &set_selection),
        hrows::small<Variable, &Variable::override_, hrows::Fit::Flag>("Override~No~Yes", ptype::Select, 0, 1),
        hrows::real<Variable, &Variable::min>("Min val"),
        hrows::real<Variable, &Variable::max>("Max val"),
        hrows::small<Variable, &Variable::widget>("Type~Box~LED~Slide switch~Toggle switch~Slider~Bar~Knob~Meter~"
                                                  "Button~Check box~Radio button",
                                                  ptype::Select, 0, 11),
        hrows::word<Variable, &Variable::style>("Style", ptype::Style),
    })};

u32 hmi_cell_to_u32(float v) {
  if (std::isnan(v)) return 0;
  if (v >= 4294967296.0f) return 0xFFFFFFFFu;
  if (v >= 0) return u32(v);
  if (v <= -2147483648.0f) return 0x80000000u;
  return u32(i32(v));
}

u16 Variable::display_type() const {
  static const u16 kTypes[] = {ptype::Time, ptype::Dec, ptype::Hex, ptype::Select, ptype::Date, ptype::DateTime};
  return fmt <= FmtFloat ? ptype::Float : kTypes[fmt - FmtTime];
}

bool Variable::gexec(Iparam* p) {
  p->text = nullptr;
  p->value = 0;
  p->type = display_type();
  p->ref.index = fmt <= FmtFloat ? fmt : 0;
  p->count = 1;
  p->arr[0] = widget;
  return true;
}

bool Variable::gexeci(Iparam* p) {
  gexec(p);
  if (selection) p->text = selection->name();
  int slot = p->user < HMI_SLOTS ? p->user : -1;
  bool may_write = slot >= 0 && write_security != 0 && priority[slot] != 255 && priority[slot] <= write_security;
  p->arr[0] = may_write;
  p->arr[1] = override_;
  p->arr[2] = float_bits(min);
  p->arr[3] = float_bits(max);
  p->arr[4] = style;
  p->count = 5;
  return true;
}

bool Variable::gexecv(Iparam* p) {
  p->text = nullptr;
  p->ref.index = 0;
  if (fmt == FmtDateTime) {
    p->value = timec.load(std::memory_order_relaxed);
    return true;
  }
  if (!var.valid()) {
    p->value = 0;
    return true;
  }
  float v = var.get();
  p->value = fmt >= FmtTime ? hmi_cell_to_u32(v) : float_bits(v);
  return true;
}

bool Variable::sexec(Iparam* p, int slot) {
  if (!hmi_can_write(slot, write_security) || p->type != display_type()) return false;
  if (fmt == FmtDateTime) {
    // The clock moves the schedule and the run dates the scan keeps.
    ScanPause stop(Pause::Stopped);
    sdate(p->value, true);
    return true;
  }
  if (!var.valid()) return false;
  float v;
  if (fmt <= FmtFloat) {
    v = bits_float(p->value);
    if (!std::isfinite(v)) return false;
  } else if (fmt == FmtDecInt) {
    v = float(i32(p->value));  // a decimal field takes negative values
  } else {
    v = float(p->value);
  }
  if (min != max && fmt <= FmtHexInt) {
    if (v < min) v = min;
    if (v > max) v = max;
  }
  var.set(v);
  return true;
}
