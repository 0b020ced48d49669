// What the instruction families share: block reference rows, time-count
// rows, the per-loop engine values an instruction reads while it executes,
// and safe conversions between cell floats and unsigned counts.
#pragma once
#include <cmath>

#include "core/engine.h"
#include "core/rows.h"

namespace inst {

// ---- Conversions ------------------------------------------------------
// C++ leaves float-to-integer conversion undefined outside the target
// range; cells can hold anything, so every conversion saturates.

// Truncates toward zero; NaN and negatives give 0, values beyond the range
// give 0xFFFFFFFF.
inline u32 to_u32(double v) {
  if (!(v > 0.0)) return 0;  // also NaN
  if (v >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<u32>(v);
}
// Truncates toward zero, saturating at the i32 range; NaN gives 0.
inline i32 to_i32(double v) {
  if (std::isnan(v)) return 0;
  if (v <= -2147483648.0) return INT32_MIN;
  if (v >= 2147483647.0) return INT32_MAX;
  return static_cast<i32>(v);
}
// The low 16 bits of v truncated to an integer, as a two's complement
// machine would give them (-1 gives 0xFFFF). Exact for every finite float;
// non-finite values give 0xFFFF.
inline u16 low16(double v) {
  if (!std::isfinite(v)) return 0xFFFFu;
  double m = std::fmod(std::trunc(v), 65536.0);  // exact, sign of v
  if (m < 0) m += 65536.0;
  return static_cast<u16>(m);
}

// ---- Engine values of the loop that is executing ----------------------

inline int exec_loop() { return current_loop_exec < 4 ? current_loop_exec : 0; }
// True during the first scan after a run starts.
inline bool first_scan() { return first_pass[exec_loop()] == 0; }
// The loop's period in milliseconds.
inline u32 loop_period() { return gen_loop_int[exec_loop()].load(std::memory_order_relaxed); }
// Clock-aligned features work only in loops of one second or slower.
inline bool clock_aligned() { return loop_period() > 999; }
// The loop's current date and time in whole controller seconds.
inline u32 loop_date() { return run_date[exec_loop()]; }

// ---- Rows --------------------------------------------------------------

// A reference to the first of K + 1 consecutive cells: a set lowers the
// index so that the block ends at 65535 at the latest and grows the
// variable so that every cell of the block exists.
template <class A, u16 K>
Row<typename A::T> block_ref_row(const char* label, rows::After<typename A::T> after) {
  using T = typename A::T;
  return Row<T>{label, ptype::Ref, ptype::Ref,
                [](T& o, u16 g, Iparam& p, const Row<T>&) { p.ref = A::at(o, g); },
                [](T& o, u16 g, const Iparam& p, const Row<T>&) {
                  A::at(o, g) = p.ref;
                  revalidate_block(A::at(o, g), K);
                  return true;
                },
                0, 0, after};
}
template <auto M, u16 K>
auto block_ref(const char* label, rows::After<typename rows::Fixed<M>::T> after = nullptr) {
  return block_ref_row<rows::Fixed<M>, K>(label, after);
}
template <auto V, auto M, u16 K>
auto gblock_ref(const char* label, rows::After<typename rows::InGroup<V, M>::T> after = nullptr) {
  return block_ref_row<rows::InGroup<V, M>, K>(label, after);
}

// A count of executions (u32 member): reported as a decimal integer,
// accepted as one or as a time in seconds, clamped to [lo, hi].
template <auto M>
auto count_row(const char* label, double lo = 0, double hi = 4294967295.0,
               rows::After<typename rows::Fixed<M>::T> after = nullptr) {
  return rows::num<M>(label, ptype::Dec, lo, hi, after, ptype::Time);
}
// A duration in seconds (u32 member), exchanged as Time only.
template <auto M>
auto seconds_row(const char* label, rows::After<typename rows::Fixed<M>::T> after = nullptr) {
  return rows::num<M>(label, ptype::Time, 0, 4294967295.0, after);
}

}  // namespace inst
