// References by name, as the program file and the block copy carry them:
// the text form of var_pointer, resolved again with var_name in the scopes
// current at that moment (creating or growing the variable when needed).
#pragma once
#include <string>

#include "core/variable.h"

std::string ref_text(const pIdata& r);
// False leaves a null reference.
bool ref_resolve(const char* text, pIdata* r);
