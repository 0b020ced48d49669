// Modem dial-out: when the alarm word ("!System" cell 255) rises, the PPP
// daemon is stopped and the numbers "Alarm phone 1".."Alarm phone 2" of the
// address list are called in turn; after each number DTMF digit groups tell
// which of the four alarm bits are set. Stepped once per user port pass
// (main thread), timed by a seconds countdown of the execution thread.
#pragma once
#include <atomic>
#include <string>

#include "core/types.h"

inline constexpr u16 ALARM_WORD_CELL = 255;

// 0 idle, 1 stop PPP, 2 wake the modem, 3 dial, 4 hang up, 5 next number.
inline u8 alarm_state_index = 0;
inline u16 alarm_phone_index = 0;  // 1-based entry of the address list
inline u8 alarm_current_value = 0, alarm_last_value = 0;
inline std::atomic<u8> alarm_timer{0};  // seconds to the next step
inline u16 alarm_timer_call = 0;        // steps to the next state action
inline int alarm_fd = 0;                // the modem line while a series runs

// One step. Main thread.
void dial_alarm();
// "Cell" alarms: no sender exists for them; does nothing.
void sms_alarm();
// The dial text of a number for an alarm word: "atdt", the number, twice
// ",,,," and the groups "1," "55," "777," "9999," of bits 0..3, the last
// character replaced by a carriage return.
std::string dial_text(const std::string& number, u8 word);
// A number the modem can dial: digits, "*", "#" and "," only (spaces, "-",
// "(" and ")" are dropped); empty when it is not one.
std::string dial_number(const std::string& entry);
// Ends a series in progress (hang up, close the line, restart the PPP
// daemon) and goes idle.
void modem_end_series();
