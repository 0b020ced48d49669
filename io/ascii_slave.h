// The ASCII slave: "R a,n" and "W a,x,v..." lines from outside masters on
// serial lines of kind "Ascii slave" and on the connections of the ASCII
// slave listener, served from register windows of "!System"; and
// Asciislave (type 32), which copies blocks between a window and variables.
#pragma once
#include <string>
#include <string_view>

#include "core/rows.h"
#include "io/io_def.h"

// Register windows (registers 1-1024): the "!System" cell of register 1.
inline constexpr u16 ASCII_TCP_BASE = 6656;
inline constexpr u16 ASCII_SERIAL_BASE = 7680;
inline constexpr u16 ASCII_WINDOW = 1024;
inline u16 ascii_window_base(u8 com) {
  return com == 0 ? ASCII_TCP_BASE : u16(ASCII_SERIAL_BASE + (com - 1) * ASCII_WINDOW);
}
// Longest request line; a longer one is dropped.
inline constexpr size_t ASCII_LINE_MAX = 299;

// Answers one request line (without its line end) from the window at
// "!System" cell base: the reply, or "" for a line that gets none.
// Execution thread.
std::string ascii_answer(std::string_view line, u16 base);

// One step of the slave on a kind-5 port (execution thread).
void Ascii_rec_proc(IO_def* port);

inline constexpr u16 TYPE_ASCIISLAVE = 32;

class Asciislave : public WithRows<Asciislave> {
 public:
  pIdata enable{};
  pIdata transfer{};
  u8 com_type = 0;   // 0 Ethernet window, 1-4 serial line window
  u16 address = 0;   // first register, stored minus 1
  u16 length = 0;    // values, stored minus 1
  u8 direction = 0;  // 0 window -> variables, 1 variables -> window

  Asciislave(Control* prev, const char* desc, u16 n);
  u16 num() const override { return TYPE_ASCIISLAVE; }
  Control* execute() override;

  static const RowTable<Asciislave> rows;
};
