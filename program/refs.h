// References by name, as the program file and the block copy carry them.
#pragma once
#include <string>

#include "core/variable.h"

// Text form of a reference: "Null", "x", "v[3]".
std::string ref_text(const pIdata& r);
// Resolves a text form in the current scopes (system, the cursor's loop,
// the current module), creating or growing the variable when needed.
// False leaves a null reference.
bool ref_resolve(const char* text, pIdata* r);
