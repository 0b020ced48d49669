// What the program file and the block operations need from the operator
// screens: the 33 HMI format lists, the objects of a module's screen and
// the per-session insertion slots. The screens subsystem fills these hooks
// in its install function (see core/hooks.h); while they are empty, modules
// have no objects and the format lists are empty: files that carry objects
// or formats still load (what has no home is skipped) and save without them.
//
// Every entry runs on the main thread: while a program is loaded, imported
// or edited, with the scan stopped (lock(3)) or before the execution thread
// starts; while it is saved, with the scan at least paused (lock(1)).
#pragma once
#include "core/control.h"

class HMI_object;
class Module;

inline constexpr u16 HMI_FORMAT_LISTS = 33;

struct HmiFileHooks {
  // Line n (1-based) of format list `list`: true and its text (null when
  // empty) when the line exists.
  bool (*format_get)(u16 list, u16 n, const char** text) = nullptr;
  // Adds a line (or finds the same text); its position, 0 when refused.
  u16 (*format_insert)(u16 list, const char* text) = nullptr;
  // Appends a line as it stands (a whole-program load: positions in the
  // file stay valid); its position, 0 when refused. Falls back to
  // format_insert when empty.
  u16 (*format_append)(u16 list, const char* text) = nullptr;

  // A screen's objects in list order: the first of module m, then each next.
  HMI_object* (*first)(Module* m) = nullptr;
  HMI_object* (*next)(HMI_object* o) = nullptr;
  u16 (*num)(HMI_object* o) = nullptr;
  const char* (*name)(HMI_object* o) = nullptr;
  bool (*lparam)(HMI_object* o, Ilparam* shape) = nullptr;
  bool (*gparam)(HMI_object* o, Iparam* p, u16 group, u16 row) = nullptr;
  bool (*sparam)(HMI_object* o, Iparam* p, u16 group, u16 row) = nullptr;

  // Insertion slot of a session: select sets its current screen to m (null:
  // none) with no current object; insert adds an object after the slot's
  // current object (hmi_insert) and returns it, or null when refused.
  void (*select)(int session, Module* m) = nullptr;
  HMI_object* (*insert)(int session, u16 type, const char* name, u16 groups) = nullptr;
  // Clears the insertion slots of all sessions.
  void (*clear_sessions)() = nullptr;

  // Instruction c of module m is about to be deleted: Instruction objects of
  // m that show it lose their instruction and format.
  void (*instruction_deleted)(Module* m, Control* c) = nullptr;
  // Module m is about to be deleted with its screen: sessions whose current
  // screen it is lose it.
  void (*module_deleted)(Module* m) = nullptr;
};
inline HmiFileHooks hmi_file_hooks;

// Session slots the block copy uses for its target screen.
inline constexpr int HMI_COPY_SESSION = 0;
