// What the instruction families share: block reference rows, time-count
// rows, and the per-loop engine values an instruction reads while it
// executes. Cell values become integers through core/convert.h.
#pragma once
#include "core/convert.h"
#include "core/engine.h"
#include "core/rows.h"

namespace inst {

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
