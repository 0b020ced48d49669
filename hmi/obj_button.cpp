// Button: switches the operator's screen to a named one.
#include "hmi/hmi_rows.h"
#include "hmi/hmi_types.h"

namespace {
u8 window_of(const Button& b) { return b.control >> 4; }
u8 loop_of_button(const Button& b) { return b.control & 0x0F; }

// Window control and loop share one byte: high and low nibble.
template <int Shift, u32 Max>
Row<Button> nibble(const char* label) {
  return rows::custom<Button>(
      label, ptype::Select, [](Button& b, u16, Iparam& p, const Row<Button>&) { p.value = (b.control >> Shift) & 0x0F; },
      [](Button& b, u16, const Iparam& p, const Row<Button>&) {
        if (p.value > Max) return false;
        b.control = u8((b.control & ~(0x0F << Shift)) | (p.value << Shift));
        return true;
      });
}
}  // namespace

const RowTable<Button> Button::rows{hrows::with_base<Button>(
    "Security level (1-255)", {
                                  nibble<4, 2>("Window control~Leave alone~Hide~Close"),
                                  nibble<0, 4>("Select loop~Loop 1~Loop 2~Loop 3~Loop 4~End"),
                                  hrows::text<Button, &Button::target>("Select HMI", ptype::ScreenName),
                              })};

bool Button::gexec(Iparam* p) {
  p->value = loop_of_button(*this);
  p->type = ptype::ScreenName;
  p->ref.index = window_of(*this);
  return true;
}

bool Button::gexeci(Iparam* p) {
  p->text = target.empty() ? nullptr : target.c_str();
  return gexec(p);
}
