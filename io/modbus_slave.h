// The Modbus slave: requests from outside masters on serial lines of kind
// "Modbus slave" (RTU framing) and on the connections of the Modbus slave
// listener (TCP framing), served from register windows of "!System"; and
// Modslave (type 30), which copies blocks between a window and variables.
#pragma once
#include "core/rows.h"
#include "io/io_def.h"

// Register windows: the first "!System" cell and the number of registers.
inline constexpr u16 MBS_TCP_BASE = 512;
inline constexpr u16 MBS_TCP_SIZE = 2048;
inline constexpr u16 MBS_SERIAL_BASE = 2560;
inline constexpr u16 MBS_SERIAL_SIZE = 1024;
inline u16 mbs_window_base(u8 com) {
  return com == 0 ? MBS_TCP_BASE : u16(MBS_SERIAL_BASE + (com - 1) * MBS_SERIAL_SIZE);
}
inline u16 mbs_window_size(u8 com) { return com == 0 ? MBS_TCP_SIZE : MBS_SERIAL_SIZE; }

// Serves one request: pdu is the unit address followed by the function code
// and its data (no CRC, no TCP header), length bytes in all. Reads or writes
// the window of size registers at "!System" cell base and builds the reply
// (unit address and reply data) in reply, which holds at least IO_FRAME
// bytes. Returns the reply length, or 0 for a request that is refused
// (unknown function, malformed, outside the window): it gets no reply.
// Execution thread.
u32 mbs_process(const u8* pdu, u32 length, u16 base, u16 size, u8* reply);

// One step of the request handling of a kind-2 port: a serial line or a
// slave TCP connection (execution thread).
void modbus_rec_proc(IO_def* port);

inline constexpr u16 TYPE_MODSLAVE = 30;

class Modslave : public WithRows<Modslave> {
 public:
  pIdata enable{};
  pIdata transfer{};
  u8 direction = 0;   // 0 window -> variables, 1 variables -> window
  u8 com_type = 0;    // 0 Ethernet window, 1-4 serial line window
  u8 reg_type = 0;    // register types of the Modbus master
  u16 length = 0;     // values, stored minus 1
  u16 address = 0;    // first register, stored minus 1

  Modslave(Control* prev, const char* desc, u16 n);
  u16 num() const override { return TYPE_MODSLAVE; }
  Control* execute() override;

  static const RowTable<Modslave> rows;

 private:
  friend struct ModslaveRows;
};
