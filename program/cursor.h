// The editing cursor: moves by loops, modules and instructions, keeping
// current_module and current_loop in step with current_instruction.
#pragma once
#include "core/types.h"

// Cursor on the first module of loop n (0..3); false if n > 3 or the loop
// does not exist.
bool position_loop(u16 n);
// Moves n modules along the module chain (back when negative). Returns the
// signed number of modules moved. Reaching "End" stops (current_loop 4),
// reaching "Loop_1" backwards stops (loop 0); moving past either end resets
// the cursor to "Loop_1" and returns 0.
int position_module(short n);
// Moves n instructions (back when negative). Returns the signed number of
// steps made; stops on "End" (current_loop stays 3) and on "Loop_1".
int position_instruction(short n);
// 0-based position of the cursor counted from "Loop_1".
u32 instruction_index_pos();
// current_module = the module at or before the cursor; the HMI listing
// starts at the cursor.
void update_module_pointer();
