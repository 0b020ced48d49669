// HMI sessions: the per-slot levels and login state, the command line
// syntax, the reply framing and the command dispatch.
#pragma once
#include <string>
#include <string_view>

#include "core/types.h"
#include "program/file.h"

class Module;
class HMI_object;

inline constexpr int HMI_SLOTS = 10;
inline constexpr int HMI_NUMBERS = 18;
// Text fields are read no further than this position of the command.
inline constexpr size_t HMI_TEXT_LIMIT = 4000;

// Levels of a slot's user: [priority, priority_hi]; 255 = not logged in,
// 0 = programmer.
inline u8 priority[HMI_SLOTS] = {255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
inline u8 priority_hi[HMI_SLOTS] = {255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
inline u8 authorize_index[HMI_SLOTS]{};
inline u8 authorize_number[HMI_SLOTS][16]{};
// The slot holds a challenge from "mvar" that no "auth" has answered yet.
inline bool authorize_pending[HMI_SLOTS]{};
// Where the random bytes of a login challenge come from (main thread, from
// "mvar"): the system's random source, so that nobody who knows the clock
// can foresee a challenge. A replaying fuzz target installs
// challenge_from_clock, which draws them from the standard generator seeded
// with the controller's seconds and so repeats for the same clock.
using ChallengeSource = void (*)(u8* bytes, size_t n);
void challenge_from_system(u8* bytes, size_t n);
void challenge_from_clock(u8* bytes, size_t n);
inline ChallengeSource challenge_source = challenge_from_system;
// The slot's current screen, screen object and its 1-based position.
inline Module* current_hmi_mod[HMI_SLOTS]{};
inline HMI_object* current_hmi_obj[HMI_SLOTS]{};
inline i32 current_hmi_index[HMI_SLOTS]{};
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

// One parsed command: keyword|T|N1|N2|...
struct HmiCommand {
  int slot = 0;
  std::string keyword;
  std::string text;   // T, up to the first "~" (unless it begins with "{")
  std::string text2;  // after the last "~"; the whole field without one
  u32 n[HMI_NUMBERS]{};  // N1 is n[0]; signed fields hold their bit pattern

  i32 si(int i) const { return i32(n[i]); }
};

// Parses a command line. False when the keyword is longer than 11 characters.
bool parse_HMI(std::string_view line, HmiCommand& out);
// Executes one command of a slot and sends its reply.
void proc_HMI(int slot, std::string_view command);

// Reply framing: a line is text and a line feed, a block ends with a lone
// carriage return. Only a slot with a session receives anything; each
// block leaves in one write.
void send_HMI_response(int slot, std::string_view text);
void send_HMI_term(int slot);
// Common endings. They never touch the engine: a command's pause is a
// ScanPause that ends with the handler's scope.
void reply_ok(int slot);
void reply_fail(int slot);
void reply_one(int slot, std::string_view text);  // one line and the terminator


// Reads one row of a general configuration page, leaving the selected page
// as it was.
bool gen_row(u8 page, u16 group, u16 row, struct Iparam* p);
// The site title, or null.
const char* site_title();
// Login nibble encoding: two characters per byte, high nibble first, each
// 0x30 + nibble; decoding keeps the low four bits of each character.
std::string nibble_encode(const u8* bytes, size_t n);
size_t nibble_decode(std::string_view text, u8* out, size_t max);
