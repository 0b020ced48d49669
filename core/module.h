// Modules and the program structure: four scan loops and "End", each loop a
// chain of modules, each module a section of instructions with its own
// variable scope and operator screen.
#pragma once
#include <string>

#include "core/control.h"

class HMI_object;

class Module : public Control {
 public:
  Module* prev_module = nullptr;
  Module* next_module = nullptr;
  Ivar* vars = nullptr;  // head of the module's scope list, owned
  HMI_object* objects = nullptr;  // first object of the screen, owned
  std::string screen_title;       // empty: none
  u32 screen_settings[3]{};

  // Head variable: "!System" of 11776 cells for "Loop_1", else "Module".
  Module(Control* prev, const char* name, u16 size);
  ~Module() override;

  Control* execute() override;
  Ivar* rvar() const override { return vars; }
  bool lparam(Ilparam* shape) override;
  bool gparam(Iparam* p, u16 group, u16 row) override;
  bool sparam(Iparam* p, u16 group, u16 row) override;
  virtual void new_hmi_desc(const char* text);
};

// Destroys a module's screen objects; installed by the screens subsystem's
// install function. Main thread, scan stopped (lock(3)) or before the
// execution thread starts: the module is being destroyed.
inline void (*hmi_destroy_objects)(HMI_object* first) = nullptr;

// Program structure: loop_start[0..3] are "Loop_1".."Loop_4", [4] is "End".
inline Control* loop_start[5]{};
// The editing cursor.
inline u16 current_loop = 0;
inline Control* current_module = nullptr;
inline Control* current_instruction = nullptr;

inline constexpr u16 SYSTEM_CELLS = 11776;

// "!System": the head variable of "Loop_1" (null without a program).
Ivar* system_var();
// The module that contains element c (c itself for a module).
Module* module_of(Control* c);
// The loop (0..3, or 4 for "End") that contains element c.
u16 loop_of(Control* c);
