// Name services: variable names to cell references and back, renaming, the
// pool of formula constants and the formula scratch cells.
//
// A name's first character picks its scope: "!" the system scope (the list
// of "Loop_1"), "#" the loop scope (the list of the first module of the
// loop being edited), anything else the module being edited. An optional
// "[n]" selects cell n (0..65534).
#pragma once
#include <span>
#include <string>

#include "core/variable.h"

// The formula scratch cells "!Exp_tmp" (128 cells) and the constant pool
// "!Exp_con". Both are created by the first compilation and forgotten by
// program_new.
inline pIdata Exp_tmp{};
inline pIdata Exp_con{};

inline constexpr u16 EXP_TMP_CELLS = 128;

// Resolves name into *ref (cleared first). With create, a missing variable
// is appended to its scope list and a too small one grows to the index.
// "Null" gives true with an empty reference; reserved names, bad syntax,
// a missing scope or (without create) a missing variable or cell give false.
bool var_name(const char* name, pIdata* ref, bool create);

// Text form of a reference: "Null", "x" (cell 0) or "v[3]". var_name of the
// text gives the same reference back (in the same scope).
std::string var_pointer(const pIdata& ref);
// The same into a caller's buffer; false (and an empty text) when the text
// and its terminator do not fit.
bool var_pointer(const pIdata* ref, std::span<char> out);

// Renames a variable. The new name must be a valid description that is not
// reserved, and a name never changes scope ("!" and "#" stay what they
// are). False when the old name does not resolve or the variable refuses.
bool var_rename(const char* old_name, const char* new_name);

// ref = the pool cell holding value (exact comparison); the pool grows by
// one cell for a new value. ref stays empty if the pool cannot be made.
void make_constant(float value, pIdata* ref);

// The names of the program skeleton, which are never variables:
// "Loop_1".."Loop_4", "End" and "System".
bool reserved_name(std::string_view name);

// Forgets the scratch cells and the pool (their variables belong to the
// "!System" list and go with it).
void names_reset();
// The formula subsystem's hook entries: names_reset on program_new.
void expr_install_hooks();
