// Per-slot screen state shared by the screen commands and the parameter
// targets, and the screen switch requested by a level-1 operator.
#pragma once
#include <string>

#include "hmi/hmi_object.h"
#include "hmi/session.h"

// A screen switch asked for with "ehmiw": the screen name and its loop
// (0..4); loop 255 = nothing pending. Reported once, by the next "rhmi"
// with N1 != 0 from any client. Main thread.
inline std::string remote_HMI_select;
inline u8 remote_HMI_select_loop = 255;

// The slot keeps its current screen (or none) but has no current object.
inline void hmi_slot_no_object(int slot) {
  current_hmi_obj[slot] = nullptr;
  current_hmi_index[slot] = 0;
}
// The slot starts afresh: no screen, no object.
inline void hmi_slot_reset(int slot) {
  current_hmi_mod[slot] = nullptr;
  hmi_slot_no_object(slot);
}
