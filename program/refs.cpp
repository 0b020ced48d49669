#include "program/refs.h"

#include "expr/names.h"

std::string ref_text(const pIdata& r) { return var_pointer(r); }

bool ref_resolve(const char* text, pIdata* r) { return var_name(text, r, true); }
