// HMI format lists: 33 lists of named texts, one per instruction type.
// The list of an instruction type holds the alternative descriptors with
// which an Instruction object may present an instruction of that type; the
// list of type 0 holds the selection sets of Variable objects and of the
// periodic and event files. Each list hangs from the third column of the
// instruction type table (inst_def_use[t].selection_sets).
//
// Positions count from 1; 0 means none. A list holds at most 255 entries
// (positions travel in 8 bits in object rows and in the program file).
//
// Main thread only: the scan never reads the lists.
#pragma once
#include <string>

#include "core/types.h"

inline constexpr u16 HMI_FORMAT_LIST_COUNT = 33;
inline constexpr u16 HMI_FORMAT_MAX_ENTRIES = 255;

struct hmi_format {
  hmi_format* next = nullptr;
  std::string text;  // empty: no text

  // Replaces the text (an empty or null text leaves none).
  void new_name(const char* t) { text = t ? t : ""; }
  // The text, or null when there is none.
  const char* name() const { return text.empty() ? nullptr : text.c_str(); }
};

// Adds text to a list and returns its position; with the same text already
// there ("{null}" never counts as the same), the existing position. 0 when
// the text fails check_desc, the list is above 32 or the list is full.
u16 HMI_format_insert(u16 list, const char* text);
// Appends text as it stands (no merging with an equal entry): what a
// whole-program load does, so that positions in the file stay valid. An
// empty or null text makes an entry without text. 0 when the list is above
// 32 or full.
u16 HMI_format_append(u16 list, const char* text);
// Removes entry n. Whatever points at it (objects, history selection sets)
// lets go first. False for 0, a missing entry or a list above 32.
bool HMI_format_delete(u16 list, u16 n);
// Entry n of a list, or null (n 0, a missing entry or a list above 32).
hmi_format* hmi_format_ptr(u16 list, u16 n);
// 1-based position of entry f in a list, 0 when f is null or not there.
u16 hmi_format_index(u16 list, const hmi_format* f);
// Number of entries of a list (0 for a list above 32).
u16 hmi_format_count(u16 list);
// Destroys every entry of every list (a new program).
void hmi_formats_clear();
