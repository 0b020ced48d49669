// The program listing shown to clients and the cursor moves it is built
// on: one line per instruction, pages of 50 lines from the cursor.
#pragma once
#include "program/refs.h"
#include <cstdint>
#include <string>

#include "core/control.h"

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

namespace hmi {
// Cursor moves over the program: n instructions (backward when negative),
// stopping at "Loop_1" and on "End"; the signed number of steps made.
int position_instruction(int n);
// n modules along the module chain; past either end the cursor returns to
// "Loop_1" and 0 is returned.
int position_module(int n);
// Cursor to the first module of loop l (0..3).
bool position_loop(u16 l);
// 0-based position of the cursor counted from "Loop_1".
int instruction_index_pos();
// current_module from the cursor; the listing base follows the cursor.
void update_module_pointer();
}  // namespace hmi

// Listing line of one instruction (indented by kind); " " for none.
std::string instruction_and_caption(const Control* c);
// Type name, " ", description, without indent.
std::string type_and_desc(const Control* c);
// Sends up to n listing lines from the cursor and the terminator; the page
// base becomes the cursor and HMI_row 0. The cursor does not move.
void list_prog(int slot, int n);
// Listing-walk state.
inline CursorPos list_save{};
inline u8 list_flag = 3;  // 0 module, 1 loop, 2 program, 3 finished
