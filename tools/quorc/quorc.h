// quorc: programs as text. Builds a program file from its text form and
// dumps a program file as text, driven entirely by the controller's own
// registries and parameter rows: the compiler knows no instruction, page or
// screen object by itself.
//
// Both directions run on the calling thread with no execution thread
// started (host tool): they replace the program in memory.
#pragma once
#include <string>
#include <vector>

#include "core/types.h"

class HMI_object;

namespace quorc {

// One message about the text: "FILE:LINE:COL: text".
struct Diag {
  int line = 0, col = 0;
  std::string msg;
};
std::string format_diag(const std::string& file, const Diag& d);

// Builds the program described by text and returns the bytes of its program
// file in *out. False with the errors in *errs (at most `max_errors`).
bool build(const std::string& text, std::string* out, std::vector<Diag>* errs, size_t max_errors = 50);

// build, with the errors as "FILE:LINE:COL: ..." lines in *report (file names
// the text in them).
bool build_reported(const std::string& text, const std::string& file, std::string* out, std::string* report);

// The text form of a program file's bytes; false (and a reason in *err)
// when the controller would not load the file.
bool dump(const std::string& bytes, std::string* out, std::string* err);

// What quorc needs to know about screen objects beyond the file hooks:
// the name of an object type and an object's descriptor string. Empty
// entries: types are written by number and rows by position.
struct ObjectInfo {
  const char* (*type_name)(u16 type) = nullptr;
  u16 types = 0;
  const char* (*dparam)(HMI_object* o) = nullptr;
};
inline ObjectInfo object_info;

// Sets the controller library up as a host tool in the current directory:
// hooks installed, nothing that would reach a serial line, a listener, the
// watchdog or history files; the empty standard program.
void host_setup();
// Fills object_info from the controller's screen objects.
void use_screens();
// Makes the hook entries that act on the machine harmless (used by
// host_setup and by tests).
void quiet_hooks();

}  // namespace quorc
