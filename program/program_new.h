// The new-program operation and the program-wide state it resets.
#pragma once
#include <string>

#include "core/control.h"

// Name of the program in memory ("None" for the empty default program).
inline std::string current_prog;

// Block selection and the HMI listing base, set by the editing operations.
inline Control* block_start = nullptr;
inline Control* block_end = nullptr;
inline u16 block_len = 0;
inline u16 block_loop = 0;                    // cursor's loop at block start
inline Control* block_module_start = nullptr;  // cursor's module at block start
inline Control* block_module_end = nullptr;    // last module of a module block
inline Control* HMI_basei = nullptr;
inline Control* HMI_basem = nullptr;
inline u16 HMI_basel = 0;
inline u16 HMI_row = 0;

// Empties the program; unless loading, builds the empty standard program
// ("Loop_1".."Loop_4", "End"). Resets the general configuration.
bool program_new(bool loading);

// Subsystems reset their own program-wide state here. Detach resets run
// before the instructions are destroyed (I/O links, alarm notification),
// clear resets after (constant pool, mail records, format lists).
// Registered by the subsystems' install functions (install_hooks); a reset
// registered twice runs once. Resets run where program_new runs: on the
// main thread, with the scan stopped (lock(3)) or before the execution
// thread starts.
enum class ResetPhase { Detach, Clear };
void on_program_new(ResetPhase phase, void (*reset)());
