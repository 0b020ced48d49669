// The formula compiler. A formula is read once, left to right (there is no
// operator precedence; parentheses group), into a flat list of steps. Step
// j computes math_operation(arg1, arg2, op) into scratch cell j of
// "!Exp_tmp"; an operand that is the result of an earlier step k is the
// reference (Exp_tmp, k). Names are resolved (and variables created or
// grown) and literals placed in the constant pool while compiling, so the
// scan only runs the steps.
#pragma once
#include <span>

#include "core/variable.h"

struct Mstep {
  pIdata arg1;  // first operand cell
  pIdata arg2;  // second operand cell; a copy of arg1 for a function
  u16 op = 0;   // operator code (expr/math.h); 0 copies arg1
};

// Scratch space a compilation may use, and the limits of a formula.
inline constexpr int PARSE_STEPS = 256;
inline constexpr int MAX_STEPS = 128;  // one per "!Exp_tmp" cell
inline constexpr int MAX_DEPTH = 126;  // parentheses open at once

// Compiles text into steps. Returns n > 0 steps, or -p <= 0 where p is the
// 0-based position at which compilation failed (0 also when the scratch
// variable cannot be made). Reads nothing past the terminator and writes
// nothing past the 256 steps.
int expression_parse(std::span<Mstep, PARSE_STEPS> steps, const char* text);

// Reads one operand at the start of text: a constant (*ref = its pool
// cell), a variable name (*ref = the cell, the variable made or grown as
// needed), or a one-argument function name with its "(" (*func = its code,
// *ref empty). Returns the characters consumed, 0 on error.
int parse_cvf(const char* text, pIdata* ref, int* func);

// Moves steps at..at+count-1 up to at+1..at+count and clears step at.
// Does nothing when that would leave the array.
void step_shift(std::span<Mstep> steps, int at, int count);
