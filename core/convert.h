// Cell values to integers and bit patterns. C++ leaves a float-to-integer
// conversion undefined outside the target's range, and a cell may hold
// anything (a NaN or an infinity a client wrote, the overflow value), so
// every conversion here is defined for every input. There are two kinds:
//
//   saturate<T>(v [, lo, hi])  truncates toward zero and clamps to lo..hi
//                              (T's whole range by default); NaN counts as 0.
//                              For counts, indices, choices and register
//                              values that must stay inside a range.
//   wrap<T>(v [, otherwise])   truncates toward zero and keeps the low bits of
//                              the integer's two's-complement pattern, as a
//                              conversion through a wide integer would
//                              (-1 gives all ones, 2^32 + 5 gives 5); exact
//                              for every finite value, `otherwise` (0 unless
//                              given) for a NaN or an infinity. For bit
//                              patterns: formula remainders, port bytes,
//                              integer-typed parameter values.
#pragma once
#include <cmath>
#include <concepts>
#include <limits>

#include "core/types.h"

template <std::integral T>
constexpr T saturate(double v, T lo = std::numeric_limits<T>::min(),
                     T hi = std::numeric_limits<T>::max()) {
  if (v != v) v = 0.0;  // NaN
  // lo and hi are whole numbers, so comparing before the truncating cast
  // clamps exactly as truncating first would.
  if (v <= double(lo)) return lo;
  if (v >= double(hi)) return hi;
  return static_cast<T>(v);
}

template <std::unsigned_integral T>
T wrap(double v, T otherwise = 0) {
  static_assert(sizeof(T) <= 4, "the low bits of a double's integer part");
  if (!std::isfinite(v)) return otherwise;
  constexpr double kModulus = double(std::numeric_limits<T>::max()) + 1.0;
  double t = std::fmod(std::trunc(v), kModulus);  // exact, with the sign of v
  if (t < 0) t += kModulus;
  return static_cast<T>(t);
}
