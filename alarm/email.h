// E-mail notification: new history records and the controller's public
// address, mailed through the configured SMTP server. One connection and one
// message at a time, advanced one step per user port pass (main thread) and
// timed by countdowns that the execution thread decrements.
#pragma once
#include <atomic>
#include <string>
#include <string_view>

#include "core/types.h"

// Connection state: 0 idle, 1 compose the next command, 2 send it,
// 3 collect the server's reply.
inline u8 mail_connect = 0;
inline u8 mail_seq = 0;   // dialogue step 0..9
// Job: 0..3 periodic file 1..4, 4..7 event file 1..4, 8 the address check,
// 9 the address check awaiting the reply to its greeting, 10 "New IP
// address" mail.
inline u8 mail_file = 0;
inline u16 mail_to = 0;  // current index into the address list (0-based)
inline bool mail_addr_found = false;
inline bool mail_rec = false;  // bytes arrived since the last command
inline int mail_sockfd = 0;
inline std::string mail_msg;  // the command or lines being sent
// Countdowns of the execution thread: the reply limit in seconds, the
// silence after a reply in 10 ms ticks, the wait before a failed job is
// tried again in seconds.
inline std::atomic<u8> mail_timer{0};
inline std::atomic<u8> mail_timer10ms{0};
inline std::atomic<u16> mail_backoff{0};

inline constexpr u8 MAIL_REPLY_S = 30;
inline constexpr u16 MAIL_RETRY_S = 60;

// One step of the mail machine. Does nothing unless a mail server and
// "IP Email 1" are set. Main thread.
void email();
// Chooses the next job (idle state); false when nothing is due.
bool check_mail();
// Closes the connection and goes idle; with drop the current file's pending
// records are given up (marker -1).
void close_mail(bool drop);
// Base64 of NUL, user name, NUL, password, then CR LF.
std::string get_auth_string();
// Base64 (standard alphabet, "=" padding) of bytes, any length.
std::string encode64(std::string_view bytes);
// A configuration or program text made safe for a command or header line:
// control characters removed.
std::string mail_clean(std::string_view text);
// Forgets the job in progress and every countdown (tests, new program).
void mail_reset();
