// Small file services of the user port and the HMI file commands. Every
// file name a client supplies is checked by client_name_ok before use.
#pragma once
#include <string_view>

#include "core/types.h"

// True when name stays inside the working directory: not empty, not
// absolute, no ".." component, no control characters.
bool client_name_ok(std::string_view name);

// Size in bytes and last modification time of a file (lstat); both 0 when
// the file does not exist.
void flen(const char* name, unsigned long long* size, u32* mtime);
// unlink / rename; -1 on success, 0 on failure (names are checked).
int del_file(const char* name);
int ren_file(const char* from, const char* to);
// Sends every entry of the working directory as one HMI response line, then
// the terminator. -1, or 0 when the directory cannot be opened.
int get_dir(int slot);
