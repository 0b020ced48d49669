// The program listing shown to clients and the cursor moves it is built
// on: one line per instruction, pages of 50 lines from the cursor.
#pragma once
#include "program/refs.h"
#include <cstdint>
#include <string>

#include "core/control.h"
#include "program/cursor.h"
#include "program/refs.h"

inline constexpr int PAGE_LINES = 50;
using i16 = std::int16_t;

// The editing cursor as one value, to save and restore it.
struct CursorPos {
  Control* inst;
  Control* mod;
  u16 loop;
};
CursorPos cursor_save();
void cursor_restore(const CursorPos& p);


// Listing line of one instruction (indented by kind); " " for none.
std::string instruction_and_caption(const Control* c);
// Type name, " ", description, without indent.
std::string type_and_desc(const Control* c);
// Sends up to n listing lines from the cursor and the terminator; the page
// base becomes the cursor and HMI_row 0. The cursor does not move.
void list_prog(int slot, int n);
// Listing-walk state. The saved cursor is cleared whenever instructions
// may have been destroyed (a structural edit, a new or loaded program), so
// that it never names a freed instruction.
inline CursorPos list_save{};
inline u8 list_flag = 3;  // 0 module, 1 loop, 2 program, 3 finished
void forget_walk();
// The command interpreter's hook entries: forget_walk on program_new.
void hmi_install_hooks();
// position_instruction for any distance: the signed number of steps made.
int move_instructions(int n);
