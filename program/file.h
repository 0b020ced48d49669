// The program file: the whole program (HMI format lists, the eleven
// configuration pages, every module with its instructions and screen
// objects) as one little-endian byte stream without padding:
//
//   "QUOR\0"
//   u16 lists; per list its lines as strings, then "\x01\0"
//   u8 pages; per page one parameter block
//   per module: its record, its instructions' records, and when it has
//     screen objects: u16 0xFFFF, the object records, u16 0xFFFF
//
//   record: u16 type, string desc (objects: name), parameter block
//   parameter block: u16 rows, u16 groups, u16 group_rows, then for each
//     group 0..groups and row: u16 type code, then a string when the code
//     has bit 0x100 (references in their text form), else the u32 value
//
// A string is its bytes and one 0x00 byte.
#pragma once
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "core/types.h"

inline constexpr const char* PROGRAM_FILE = "quor.qrn";

// Reader limits, checked on every parameter block and string.
inline constexpr u16 FILE_MAX_ROWS = 30;
inline constexpr u16 FILE_MAX_GROUPS = 128;       // instructions and objects
inline constexpr u16 FILE_MAX_PAGE_GROUPS = 1024;  // configuration pages
inline constexpr u16 FILE_MAX_GROUP_ROWS = 10;
inline constexpr int FILE_MAX_STRING = 255;
inline constexpr int FILE_MAX_FORMAT = 14000;
inline constexpr int FILE_MAX_FORMAT_LINES = 300;

// 1 while the program in memory is the one in "quor.qrn" (set when that
// file is saved or loaded; structural edits clear it). Set and cleared on
// the main thread, read by the scan (a Constant capturing into the file).
inline std::atomic<u8> run_inst_update{0};

// The program subsystem's hook entries: the start-up load of the stored
// program (or its backup) and the listing base that follows a break point.
void program_install_hooks();

// One HMI format line collected from a file for module import. The last
// node of a list is empty.
struct STR_PTR {
  std::unique_ptr<STR_PTR> next;
  int group = 0;
  std::string text;
  STR_PTR() = default;
  ~STR_PTR();  // iterative, so long lists do not recurse deeply
  STR_PTR(const STR_PTR&) = delete;
  STR_PTR& operator=(const STR_PTR&) = delete;
};

// Saves the program; an empty or null name means "quor.qrn". The new file
// is written under a temporary name first; the previous versions are kept
// as name + ".bkup" (newest) .. ".bkup4" (oldest).
bool program_save(const char* name);
// Replaces the program by a file's (null name: "quor.qrn"); screen objects
// go in through HMI session `session`. A file that cannot be opened or has
// a wrong header changes nothing; any later failure leaves the empty
// default program. Both give false.
bool program_load(const char* name, int session);

// program_load from an open stream (fuzzing and tests).
bool program_load_stream(FILE* f, const char* name, int session);

// Writes s (nothing when null) and a 0x00 byte.
bool fwrite_string_space(FILE* f, const char* s);
// Reads up to and including a 0x00 byte into buf, keeping at most max
// characters (buf holds max + 1); false and an empty buf at the end of
// the file.
bool fread_string_space(FILE* f, char* buf, int max);

// Module import from an open program file, one module per pass:
// find_first_module checks the header, collects the format lines into list
// (when given), skips the configuration pages and reads the first module's
// type word. move_next_module reads that module's name ("" for "End", no
// more modules) and skips to past the next module's type word.
// module_insert inserts the module at the file position after the cursor's
// module; false for a standard module name or a file that ends inside a
// record (the partly inserted module is removed again).
bool find_first_module(FILE* f, STR_PTR* list);
bool move_next_module(FILE* f, std::string& name);
bool module_insert(FILE* f, STR_PTR* list, int session);
