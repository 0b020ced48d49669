// Correct: a field calibration (offset, or offset and gain) found by
// capturing the averaged input while known low and high references are
// applied.
#pragma once
#include <vector>

#include "core/rows.h"

class Correct : public WithRows<Correct> {
 public:
  static constexpr u16 MIN_AVERAGE = 2, MAX_AVERAGE = 128;

  Correct(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 19; }
  Control* execute() override;

  using Control::resize;
  // Re-makes the averaging buffer: n zeros, write index 0.
  void resize();
  // Offset and gain from the expected block (low, high) into the captured
  // block (low, high, offset, gain).
  void update_cal(const pIdata& expected, const pIdata& captured);
  // Mean of the whole buffer; entries never written count as 0.
  float calc_avg() const;

  static const RowTable<Correct> rows;

 private:
  pIdata input_, result_;
  pIdata expected_;  // block of 2: expected low, expected high
  pIdata captured_;  // block of 4: captured low, captured high, offset, gain
  pIdata capture_;   // capture command, compared with the match codes
  pIdata type_;      // optional: 0 none, 1 offset, 2 offset and gain
  float low_match_ = 49.0f, high_match_ = 81.0f;
  u16 average_ = MIN_AVERAGE;
  std::vector<float> ring_;
  u16 write_ = 0;
};
