// Instruction: an instruction of the object's own module, shown to
// operators with a descriptor taken from the format list of its type.
#include "core/module.h"
#include "hmi/hmi_rows.h"
#include "hmi/hmi_types.h"

namespace {
// Low 16 bits: the instruction's position after the object's module; bits
// 16 and up: the format's position in the list of the instruction's type.
void get_shown(Instruction& o, u16, Iparam& p, const Row<Instruction>&) {
  p.value = 0;
  if (!o.inst) return;
  p.value = u32(hmi_inst_index(o.module, o.inst)) | (u32(hmi_format_index(o.inst->num(), o.screen_format)) << 16);
}

bool set_shown(Instruction& o, u16, const Iparam& p, const Row<Instruction>&) {
  Control* c = hmi_inst_ptr(o.module, u16(p.value & 0xFFFF));
  hmi_format* f = c ? hmi_format_ptr(c->num(), u16((p.value >> 16) & 0xFF)) : nullptr;
  // An instruction without its format is shown by nobody.
  o.inst = f ? c : nullptr;
  o.screen_format = f;
  return true;
}
}  // namespace

const RowTable<Instruction> Instruction::rows{hrows::with_base<Instruction>(
    "Security View (1-255)",
    {
        rows::custom<Instruction>("Instruction", ptype::InstFormat, &get_shown, &set_shown),
        hrows::small<Instruction, &HMI_object::write_security>("Security Write (1-255)", ptype::Dec, 0, 255),
    })};

bool Instruction::gexec(Iparam* p) {
  p->value = 0;
  p->type = ptype::InstFormat;
  p->ref.index = 0;
  p->text = nullptr;
  return true;
}
