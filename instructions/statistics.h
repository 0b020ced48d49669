// Statistics over a measured value that carries a quality status (a value
// and status pair): Circbuf over the newest samples of a ring, Stat over
// everything accumulated since its last reset.
#pragma once
#include <cstdint>
#include <vector>

#include "core/convert.h"
#include "core/rows.h"

namespace stats {

inline constexpr u32 NO_DATA = 16777215;  // status: all 24 condition bits
inline constexpr u16 MAX_CALCS = 128;

// Control codes.
enum Code : u32 { Idle = 0, SampleCompute = 1, SampleOnly = 2, Clear = 3, Overwrite = 4 };

// Calculation types; # valid exists for Circbuf only.
enum Calc : u8 {
  Disable = 0,
  Average,
  StdDev,
  Maximum,
  Minimum,
  Difference,
  Total,
  CircAvg,
  CircStdDev,
  NumValid
};

// A status as its 24 condition bits: clamped to 0..16777215 and truncated.
// A NaN status says nothing valid: no data.
inline u32 status_bits(float s) { return s != s ? NO_DATA : saturate<u32>(s, 0, NO_DATA); }

// Running sums over valid samples, shared by both instructions.
struct Accum {
  std::uint64_t n = 0;
  float mean = 0, m2 = 0;  // Welford mean and sum of squared deviations
  float max = -3e38f, min = 3e38f, total = 0;
  float sin = 0, cos = 0, sin2 = 0, cos2 = 0;

  // Adds a valid sample; the sine and cosine sums only when `angles` (the
  // circular calculations are the only ones that read them).
  void add(float x, bool angles);
  // The result of a calculation type over what was added.
  float result(u8 calc) const;
};

inline bool circular(u8 calc) { return calc == CircAvg || calc == CircStdDev; }

}  // namespace stats

// Keeps the last L samples in a ring and computes one statistic per
// calculation over the newest N of them on every scan.
class Circbuf : public WithRows<Circbuf> {
 public:
  struct Sample {
    float value = 0;
    float status = float(stats::NO_DATA);
  };
  struct Calc {
    u8 type = stats::Disable;
    u16 count = 0;      // number of newest samples in the calculation
    u16 min_valid = 0;  // valid samples needed for the valid status
  };

  Circbuf(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 14; }
  Control* execute() override;
  bool resize(u16 n) override;
  u16 group_count() const { return static_cast<u16>(calcs_.size()); }
  u16 write_index() const { return write_; }
  u16 length() const { return length_; }
  Calc& calc(u16 g) { return calcs_[g - 1]; }  // group g >= 1
  static const RowTable<Circbuf> rows;

 private:
  void revalidate_results();
  void make_ring();
  void clear_ring();

  pIdata input_;    // value and status pair
  pIdata results_;  // value and status per calculation
  pIdata control_;  // optional: unset means sample and compute
  u32 max_valid_ = 0;
  u16 length_ = 0;
  std::vector<Sample> ring_;
  u16 write_ = 0;
  std::vector<Calc> calcs_;
};

// Accumulates valid samples since its last reset, without storing them.
class Stat : public WithRows<Stat> {
 public:
  Stat(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 24; }
  Control* execute() override;
  bool resize(u16 n) override;
  u16 group_count() const { return static_cast<u16>(calcs_.size()); }
  std::uint64_t count() const { return acc_.n; }
  static const RowTable<Stat> rows;

  struct Calc {
    u8 type = stats::Disable;
  };

 private:
  void revalidate_results();
  void reset();

  pIdata input_, results_, control_;
  u32 max_valid_ = 0;
  u16 min_valid_ = 0;
  std::vector<Calc> calcs_;
  stats::Accum acc_;
  u32 valid_bits_ = 0, invalid_bits_ = stats::NO_DATA;
  bool reset_pending_ = true;
};
