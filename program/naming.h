// Naming rules for instruction descriptions, module names and new names.
#pragma once

// Printable ASCII 32..126 except "|" (the field separator of the HMI protocol).
bool valid_char(char c);
// Every character of s is valid (an empty name is valid).
bool valid_name(const char* s);
// False for a null name and for the reserved names "Loop_1".."Loop_4",
// "End" and "System".
bool check_reserved(const char* s);
// Not null, not reserved, only valid characters.
bool check_desc(const char* s);
