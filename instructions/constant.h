// Constant (type 3): a table of values written into a block of
// consecutive cells, on every scan (Normal), on the first scan of a run
// (Startup), or as captured values that follow operator changes of the
// cells and are written back into the program file in place (Capture).
#pragma once
#include <span>
#include <string>
#include <vector>

#include "core/rows.h"

struct ConstRow {
  float value = 0.0f;
  std::string description;  // "" for none, at most 64 characters
};

class Constant : public WithRows<Constant> {
 public:
  enum Mode : u8 { Normal = 0, Startup = 1, Capture = 2, Disable = 3 };
  static constexpr u16 MAX_ROWS = 128;
  static constexpr size_t MAX_DESCRIPTION = 64;

  Constant(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 3; }
  Control* execute() override;
  bool gparam(Iparam* p, u16 group, u16 row) override;
  bool sparam(Iparam* p, u16 group, u16 row) override;
  bool resize(u16 n) override;

  u16 group_count() const { return u16(table_.size()); }
  // "Variable}Data type~Float~Date~Time~Dec integer~Hex integer}
  //  Mode~Normal~Startup~Capture~Disable}Value}Description"
  static const RowTable<Constant> rows;

 private:
  static void revalidate(Constant& c, u16);
  static void get_description(Constant& c, u16 g, Iparam& p, const Row<Constant>&);
  static bool set_description(Constant& c, u16 g, const Iparam& p, const Row<Constant>&);
  // The value as exchanged for the current data type.
  u32 wire_value(float v) const;
  void capture_to_file(bool changed);

  pIdata variable_;  // first of count cells
  u8 data_type_ = 0;  // equals its type code: Float 0, Date 1, Time 2, Dec 3, Hex 4
  u8 mode_ = Normal;
  std::vector<ConstRow> table_;
  bool capture_pending_ = false;  // captured values the file has not taken yet
  u32 capture_tried_ = 0;         // second of the last write attempt
};

// Writes captured values into a Constant's record of a program file in
// place. pos is the record's parameter block (or its first parameter); the
// stored types must match: a reference, two choices, then per row a value
// of data_type and a description. Nothing else changes. The record is
// checked whole before anything is written: on a mismatch the file stays
// as it was. False on a mismatch, on a file that cannot be opened for
// writing, and on a short or failed write.
bool constant_capture_write(const char* path, u32 pos, u8 data_type,
                            std::span<const u32> values);
