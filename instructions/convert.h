// Convert: raw value to engineering units through a polynomial, optionally
// in log-10 or natural-log space, with a least-squares fit over
// calibration pairs (on a client edit or commanded by the program).
#pragma once
#include <vector>

#include "core/rows.h"

class Convert : public WithRows<Convert> {
 public:
  enum Function : u8 { Normal = 0, Log10 = 1, LogE = 2 };
  static constexpr u16 MIN_PAIRS = 2, MAX_PAIRS = 20, MAX_DEGREE = 7;
  static constexpr u16 BLOCK = 20;  // cells of the data blocks

  struct Pair {
    float c = 0;  // coefficient of t^i
    float x = 0;  // raw value
    float y = 0;  // converted value
  };

  Convert(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 1; }
  Control* execute() override;
  bool resize(u16 n) override;
  virtual float conversion(float v);

  // Least-squares fit of the coefficients over the pairs.
  void coeff();
  u16 group_count() const { return static_cast<u16>(pairs_.size()); }
  u8 degree() const { return degree_; }
  const std::vector<Pair>& pairs() const { return pairs_; }
  static const RowTable<Convert> rows;

 private:
  static bool set_function(Convert& o, u16, const Iparam& p, const Row<Convert>&);
  static bool set_degree(Convert& o, u16, const Iparam& p, const Row<Convert>&);
  static void refit(Convert& o, u16) { o.coeff(); }
  void clamp_degree();
  void commanded_fit();

  pIdata input_, result_;
  u8 function_ = Normal;
  u8 degree_ = 1;
  pIdata raw_, converted_, coefficients_, errors_;  // blocks of 20 cells
  pIdata control_;           // command, degree, pairs, function, maximum error
  std::vector<Pair> pairs_;  // capacity MAX_PAIRS: a commanded resize never allocates
};
