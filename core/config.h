// General configuration: controller-wide settings presented to clients as
// eleven parameter pages, selected by gen_sel.
#pragma once
#include "core/control.h"
#include "core/engine.h"

inline u8 gen_sel = 0;  // selected page, 0..10

// Clears every configuration text and list so later resets can release them.
void gen_startup();
// Resets the whole configuration to its defaults.
void gen_init();

namespace gen {
// The parameter protocol for the selected page.
bool lparam(Ilparam* shape);
const char* dparam();
bool gparam(Iparam* p, u16 group, u16 row);
bool sparam(Iparam* p, u16 group, u16 row);
}  // namespace gen
// Sets the number of repeated groups of the selected page.
u32 gen_resize(u16 n);
