// Editing the program in memory, always relative to the cursor: insertion,
// renaming, block selection, and the block operations delete, copy and move.
// Structural edits run on the main thread with the scan stopped (lock(3)).
#pragma once
#include "core/control.h"

// Inserts a new instruction after the cursor (a module: after the last
// instruction of the cursor's module) and puts the cursor on it.
bool program_instruction(u16 type, const char* desc, u16 size);
// Gives the cursor instruction a new description; clears the block. The
// five standard modules keep their names.
bool program_rename(const char* desc);

// Starts a block at the cursor (clearing any previous block).
bool program_blockstart();
// Closes the block at the cursor. An instruction block holds instructions
// of one module; a module block holds whole modules. Neither contains a
// standard module. An invalid block is cleared.
bool program_block();
// Validates the block against target (null: no target) for a copy or, with
// moving, a move: 0 refused, 1 instruction block, 2 module block. For a
// module block the cursor goes to the last instruction of its module.
int bcheck(Control* target, bool moving);

// Deletes the block; the cursor goes to the instruction before it.
bool program_delete();
// Copies the block after the cursor, references re-resolved by name in the
// target's scopes. False if anything could not be copied.
bool program_copy();
// Moves the block after the cursor: relinked within a loop (and, for an
// instruction block, within its module), otherwise copied and deleted.
bool program_move();
