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
