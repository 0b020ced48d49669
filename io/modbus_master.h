// Modbus (type 11, "Modmaster"): one Modbus request to one slave device,
// over a serial line (RTU framing with CRC) or TCP (6-byte header). It reads
// coils, discrete inputs or registers into a block of variable cells, or
// writes the block out, each value scaled by A x value + B.
#pragma once
#include <vector>

#include "core/rows.h"
#include "io/io_base.h"

// Outcome codes written to the Status variable.
namespace mb_status {
inline constexpr u8 Armed = 0;
inline constexpr u8 Ok = 1;
inline constexpr u8 Timeout = 2;          // nothing received
inline constexpr u8 TimeoutNoUnit = 3;    // bytes, none equal to the unit address
inline constexpr u8 TimeoutPartial = 4;   // reply started but incomplete
inline constexpr u8 CrcError = 5;
inline constexpr u8 WrongFunction = 6;    // includes exception replies
inline constexpr u8 NotConfigured = 7;
}  // namespace mb_status

// Command choices (index -> function code) and register types.
inline constexpr u8 MB_COMMANDS = 8;
inline constexpr u8 mb_function_of[MB_COMMANDS] = {1, 2, 3, 4, 5, 6, 15, 16};
namespace mb_reg {
inline constexpr u8 Float = 0;
inline constexpr u8 Unsigned = 1;
inline constexpr u8 TwosComp = 2;
inline constexpr u8 IntSign = 3;
inline constexpr u8 Bcd = 4;
inline constexpr u8 FloatSwapped = 5;
}  // namespace mb_reg

// CRC-16/MODBUS (initial 0xFFFF, reflected polynomial 0xA001, no final XOR).
u16 modbus_crc(const u8* bytes, u32 length);
// The same over the first length bytes of the port's frame.
u16 general_crc(int length, const IO_def* port);
// The register image of one (already scaled) value, and a value back from
// its registers; the float types use two registers, the others one (hi is
// then unused).
void mb_encode(u8 reg_type, float value, u16* first, u16* second);
float mb_decode(u8 reg_type, u16 first, u16 second);

class Modbus : public WithRows<Modbus, IO_base> {
 public:
  struct Coef {
    float a = 1.0f;
    float b = 0.0f;
  };

  u8 count = 1;
  u8 retries = 1;
  u8 status = mb_status::NotConfigured;
  pIdata enable{};
  pIdata status_var{};
  pIdata transfer{};
  u8 unit = 1;
  u8 command = 3;
  u8 reg_type = mb_reg::Unsigned;
  u16 timeout = 50;      // 10-ms ticks
  u32 reg_address = 0;   // wire address (shown 1-based)
  std::vector<Coef> coef;

  Modbus(Control* prev, const char* desc, u16 n);

  u16 num() const override { return TYPE_MODBUS; }
  Control* execute() override;
  bool resize(u16 n) override;
  void start(IO_def* port) override;
  void end(IO_def* port) override;

  // Block value i scaled for sending, and a received value stored scaled.
  float get_float(u16 i) const;
  void save_float(u16 i, float x);
  // CRC of the first length frame bytes for a serial instruction; 0 for an
  // Ethernet one.
  u16 crc(int length, const IO_def* port) const;
  u16 group_count() const { return u16(coef.size()); }

  static const RowTable<Modbus> rows;

 private:
  friend struct ModbusRows;
  void regrow() { revalidate_block(transfer, u16(count - 1)); }
  // Builds the request after unit address and function code; returns its
  // length, or 0 when the request cannot be expressed.
  u32 build_request(u8* f) const;
  void finish(IO_def* port);
  void send_tcp(IO_def* port);
  void decode(const IO_def* port);
  void give_up(u8 code);
};
