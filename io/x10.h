// X10 (type 25): one command (On, Off, Dim...) to one house and unit code
// through a serial X10 interface, with the interface's handshake; and the
// receive side, which mirrors On and Off traffic seen on the power line into
// "!System" cells 256-511.
#pragma once
#include "core/rows.h"
#include "io/io_base.h"

// The four-bit X10 codes of houses A-P and of units 1-16.
inline constexpr u8 X10_CODES[16] = {6, 14, 2, 10, 1, 9, 5, 13, 7, 15, 3, 11, 0, 8, 4, 12};
// The function byte of commands 0-6 (Off, On, Dim, Bright, All lights off,
// All lights on, All units off).
inline constexpr u8 X10_FUNCTIONS[7] = {0x47, 0x45, 0x49, 0x4B, 0x4D, 0x43, 0x41};
inline constexpr u16 X10_MIRROR = 256;  // "!System" cell of house A, unit 1

// Handshake states of a port (its progress byte).
namespace x10_state {
inline constexpr u8 Acked = 3;      // the interface acknowledged 0x02
inline constexpr u8 Sent = 4;       // the command is out; waiting for its echo
inline constexpr u8 Addressed = 5;  // the address was echoed
inline constexpr u8 Done = 6;       // the function was echoed
inline constexpr u8 Mismatch = 1;
inline constexpr u8 Waiting = 2;
inline constexpr u8 Begin = 255;
}  // namespace x10_state
// Attempts of one command before it is dropped.
inline constexpr u32 X10_ATTEMPTS = 7;

class X10 : public WithRows<X10, IO_base> {
 public:
  pIdata enable{};
  pIdata command{};
  u8 house = 0x40 + 6;  // house byte (A)
  u8 unit = 0x40 + 12;  // unit byte (1)
  u32 repeat = 0;       // seconds
  u8 last_command = 0xFF;
  u32 last_time = 0;

  X10(Control* prev, const char* desc, u16 n);
  u16 num() const override { return TYPE_X10; }
  Control* execute() override;
  void start(IO_def* port) override;
  void end(IO_def* port) override;

  static const RowTable<X10> rows;

 private:
  friend struct X10Rows;
  u8 function_ = 0x47;  // function byte of the armed command
  void finish(IO_def* port);
};

// One step of the receive side of a kind-3 port (execution thread).
void X10_rec_proc(IO_def* port);
