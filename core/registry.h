// The instruction registry: type number -> name, resize prompt, selection
// sets, and creation/destruction by type number.
#pragma once
#include "core/control.h"

struct hmi_format;  // a named text of an HMI format list

inline constexpr u16 INST_TYPES = 33;  // type numbers 0..32

struct inst_def {
  const char* name;
  const char* prompt;        // "none" when the type has no repeated groups
  hmi_format* selection_sets; // head of the type's selection-set list
};

// Table indexed by type number, filled by inst_build().
inline inst_def inst_def_use[INST_TYPES]{};

// Creates an instance linked after prev with caption desc and n groups.
using InstFactory = Control* (*)(Control* prev, const char* desc, u16 n);
// Factories of the classes that exist; a null entry creates nothing.
inline InstFactory inst_factory[INST_TYPES]{};

void inst_build();
// Null for a type number above 32 or a class without a factory. A module
// (type 0) is always created with size 0.
Control* inst_create(u16 type, Control* prev, const char* desc, u16 n);
// Destroys c (which unlinks itself). Null c or a type above 32 does nothing.
void inst_delete(u16 type, Control* c);

// Registers a class's factory at static initialisation:
//   QUOR_REGISTER_INSTRUCTION(20, Expression);
template <class C>
Control* make_instruction(Control* prev, const char* desc, u16 n) {
  return new C(prev, desc, n);
}
struct InstRegistration {
  InstRegistration(u16 type, InstFactory f) { inst_factory[type] = f; }
};
#define QUOR_REGISTER_INSTRUCTION(TYPE, CLASS) \
  static const InstRegistration quor_reg_##CLASS{TYPE, &make_instruction<CLASS>}
