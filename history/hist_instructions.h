// The two history instructions.
#pragma once
#include "core/rows.h"

// Histper (type 15): writes the Data block to a periodic file on every
// boundary of the file's record interval.
class Histper : public WithRows<Histper> {
 public:
  Histper(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 15; }
  Control* execute() override;
  static const RowTable<Histper> rows;

 private:
  void schedule(u32 now, int f);

  pIdata data_, status_;
  u8 file_ = 0;          // 0 disabled, 1..4
  u32 next_time_ = 0;    // next record boundary, seconds
};

// Histevt (type 16): writes an event record while bit 0 of its Status is
// set, and optionally one at every midnight.
class Histevt : public WithRows<Histevt> {
 public:
  Histevt(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 16; }
  Control* execute() override;
  static const RowTable<Histevt> rows;

 private:
  pIdata data_, status_;
  u8 file_ = 0;     // 0 disabled, 1..4
  u16 event_ = 1;   // 1..1024
  u8 midnight_ = 0;  // force a record at midnight
};
