// OWconfig (type 28): a table of up to 64 1-Wire devices, published every
// execution into a variable as four floats per device (each field an
// integer of at most 24 bits, exact in a float), followed by 65535.0 when
// the table has fewer than 64 devices.
#pragma once
#include <string>
#include <vector>

#include "core/rows.h"

inline constexpr u16 TYPE_OWCONFIG = 28;
inline constexpr u16 OW_DEVICES_MAX = 64;
inline constexpr float OW_END_MARK = 65535.0f;

class OWconfig : public WithRows<OWconfig> {
 public:
  struct Device {
    std::string description;  // at most 30 characters
    // A: type bits 0-7, bus 8-9, retries 10-11, power 12, read delay 13-15.
    // B: ID high bits 31-8. C: ID high bits 7-0 in 15-8, ID low bits 23-16
    // in 7-0. D: ID low bits 15-0.
    u32 a = 1024, b = 0, c = 0, d = 0;
  };
  pIdata config{};
  std::vector<Device> devices;

  OWconfig(Control* prev, const char* desc, u16 n);
  u16 num() const override { return TYPE_OWCONFIG; }
  Control* execute() override;
  bool resize(u16 n) override;
  u16 group_count() const { return u16(devices.size()); }
  // Cells the published table takes.
  u16 cells() const { return u16(4 * devices.size() + (devices.size() < OW_DEVICES_MAX ? 1 : 0)); }

  static const RowTable<OWconfig> rows;

 private:
  friend struct OWRows;
  void regrow() { revalidate_block(config, u16(cells() - 1)); }
};
