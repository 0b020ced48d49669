// Operator screens: every module owns one screen, a list of HMI objects
// (frames, buttons, variable fields, instruction panels, resources and two
// kinds of graph). Clients design them through the same row protocol as
// instructions (lparam/dparam/gparam/sparam) and operators use them through
// the run-time view (lexec/gexec/gexeci/gexecv/sexec).
//
// Threads and levels. Screens, their objects, the slots' screen state and
// the format lists belong to the main thread; the scan never reads them.
// What an object does reach of the scan's world:
//   - cells (gexecv, gexeci, sexec): atomic cells, no pause needed;
//   - variable references resolved by name, which may create or grow a
//     variable: lock(3) (scan_requires(Pause::Stopped));
//   - the instruction an Instruction object shows: read under lock(1) by
//     whoever reads its parameters; the pointer itself only changes on the
//     main thread.
// Row writes that change no variable need lock(1) (scan_requires checks it).
#pragma once
#include <string>

#include "core/control.h"
#include "core/rows.h"
#include "hmi/hmi_format.h"

class Module;

inline constexpr u16 HMI_TYPES = 7;            // type numbers 0..6
inline constexpr u16 HMI_NO_DISPLAY = 65535;   // record type of "nothing to show"

// Screen record type codes beyond the instruction ones (core/control.h).
namespace ptype {
inline constexpr u16 InstFormat = 10;   // low 16 bits instruction, bits 16.. format
inline constexpr u16 Attributes = 12;
inline constexpr u16 XPos = 13;
inline constexpr u16 YPos = 14;
inline constexpr u16 Style = 16;
inline constexpr u16 GraphVars = 17;
inline constexpr u16 GraphBins = 18;
inline constexpr u16 ScreenName = 267;  // Button target
}  // namespace ptype

class HMI_object {
 public:
  HMI_object* next = nullptr;
  HMI_object* prev = nullptr;
  std::string name;            // empty: none
  i32 x = 0, y = 0;            // rows 0 and 1
  u32 attributes = 0;          // row 2, the client's
  u8 security = 1;             // row 3, 1..255
  u8 write_security = 0;       // Variable and Instruction objects
  Module* module = nullptr;    // the module whose screen holds the object

  // Linked directly after `after` (standing alone when null).
  HMI_object(HMI_object* after, const char* name);
  // Unlinks the object from its neighbours. Destroy through hmi_delete.
  virtual ~HMI_object();
  HMI_object(const HMI_object&) = delete;
  HMI_object& operator=(const HMI_object&) = delete;

  // The name; a null text changes nothing.
  virtual void new_desc(const char* text);
  virtual u16 num() const { return 0; }
  // Editing view: the rows of the type's table. gparam needs no pause;
  // sparam needs lock(1), or lock(3) for rows that resolve a name.
  virtual bool lparam(Ilparam* shape);
  virtual const char* dparam();
  virtual bool gparam(Iparam* p, u16 group, u16 row);
  virtual bool sparam(Iparam* p, u16 group, u16 row);
  virtual bool resize(u16) { return false; }
  // Run-time view. gexec: how to show the object; gexeci: the same with its
  // static extras; gexecv: its live value. p->user is the asking slot.
  virtual bool lexec(Ilparam* shape);
  virtual bool gexec(Iparam* p);
  virtual bool gexeci(Iparam* p) { return gexec(p); }
  virtual bool gexecv(Iparam* p);
  // An operator's write from `slot`; false when refused.
  virtual bool sexec(Iparam* p, int slot) { return false; }
  // The format entry the object points at (Variable: selection set,
  // Instruction: screen format), null for none.
  virtual hmi_format* format() const { return nullptr; }
  // Forgets format f and instruction c when the object points at them.
  virtual void forget(const hmi_format* f, const Control* c) {}

  // The name, or null.
  const char* name_or_null() const { return name.empty() ? nullptr : name.c_str(); }
  static const RowTable<HMI_object> rows;
};

// A record as the run-time view expects it: value 0, type 65535, index 0,
// no text, count 0, user = slot.
Iparam hmi_record(int slot);

// Security: may slot see (level in [priority, priority_hi]) or write (also
// logged in) at this level?
bool hmi_can_view(int slot, u8 level);
bool hmi_can_write(int slot, u8 level);

// Type table: name and resize prompt per type, filled by hmi_build().
struct hmi_def {
  const char* name;
  const char* prompt;
};
inline hmi_def hmi_def_use[HMI_TYPES]{};
void hmi_build();

// The one marked object of the controller (null: none).
inline HMI_object* hmi_block = nullptr;

// Creation and destruction by type number. hmi_create gives null for a type
// above 6; the size is not used by the seven types. The new object belongs
// to module m (set it on the object when made otherwise).
HMI_object* hmi_create(u16 type, HMI_object* after, const char* name, u16 size, Module* m = nullptr);
// Destroys o; nothing keeps pointing at it afterwards (slots, hmi_block).
// The screen's first-object field follows when o was first.
void hmi_delete(u16 type, HMI_object* o);

// Slot operations on the slot's current screen and object (hmi/session.h:
// current_hmi_mod, current_hmi_obj, current_hmi_index). Main thread.
//
// hmi_insert: name must pass check_desc and type be below 7; the slot needs
// a current screen. The new object follows the current object, or becomes
// the first of the screen when there is none; it becomes current.
bool hmi_insert(u16 type, const char* name, u16 size, int slot);
// Renames the current object (a null name, or one passing check_desc).
bool hmi_rename(const char* name, int slot);
// Deletes the current object; the next one (or else the previous one)
// becomes current.
bool hmi_delete(int slot);
// hmi_block <- the slot's current object; false when there is none.
bool HMI_block(int slot);
// Inserts a copy of hmi_block after the slot's current object; variable
// references are resolved again by name in the receiving screen's module
// (created when missing). hmi_block <- null. Needs lock(3).
bool HMI_copy(int slot);
// Moves hmi_block (which must be on the slot's screen) after the slot's
// current object (first when none); the slot then has no current object.
bool HMI_move(int slot);
// Deletes every object of m's screen, its name and its three settings.
void hmi_clear_screen(Module* m);

// The slot's screen and object state kept consistent: every slot whose
// current object or screen is gone forgets it; positions are recounted.
void hmi_forget_object(HMI_object* o);
void hmi_forget_module(Module* m);
// 1-based position of o in its screen (0 when null).
i32 hmi_position(const HMI_object* o);

// First object (from 0-based position start) of m's screen that shows the
// variable printed as name: a Variable object, or a Graph_vars object with
// it among its five variables. When start > 0 and none is found the search
// runs once more from 0. The 0-based position, or -1.
int hmi_var_use(Module* m, int start, const char* name);
// The n-th (from 1) instruction after module m, not past the next module;
// null for n 0 or too far.
Control* hmi_inst_ptr(Module* m, u16 n);
// 1-based position of c after module m; 0 when c is not in that module.
u16 hmi_inst_index(Module* m, const Control* c);

// Resolves name (empty: "Null") in the scope of module m's screen (m's
// variables, its loop for "#", the system for "!"), with create making or
// growing the variable when needed (which needs lock(3)). False leaves ref
// empty.
bool hmi_resolve(Module* m, const char* name, pIdata* ref, bool create = true);

// The screens subsystem's hook entries: the type table at start-up, the
// program file's screen and format hooks, the destruction of a module's
// screen, the format lists and slots on a new program.
void screens_install_hooks();
