// Alarm: watches a block of alarm cells and drives one master alarm cell.
// The master goes to 1 when any alarm newly becomes active and to 0 when
// none is active; an operator may clear it while alarms persist, and only a
// new alarm raises it again.
#pragma once
#include <vector>

#include "core/rows.h"

class Alarm : public WithRows<Alarm> {
 public:
  Alarm(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 27; }
  Control* execute() override;
  static const RowTable<Alarm> rows;  // "Master}Alarm}Number of alarms"

 private:
  // Keeps the alarm block inside its variable and forgets what was seen,
  // so alarms already active count as new on the next scan.
  static void recheck(Alarm& a, u16);

  pIdata master_;
  pIdata first_;  // first of count_ consecutive alarm cells
  u8 count_ = 1;
  std::vector<Idata> previous_;
};
