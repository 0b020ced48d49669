// Basic value types shared by every subsystem.
#pragma once
#include <atomic>
#include <bit>
#include <cstdint>

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using i32 = std::int32_t;

// One variable cell. Every process value is a 32-bit float.
using Idata = float;

// What formulas and port functions give instead of NaN or infinity
// (about 3.0e38), and the empty value of history records.
inline constexpr u32 OVERFLOW_BITS = 0x7F61B1E6u;
inline const Idata OVERFLOW_VALUE = std::bit_cast<float>(OVERFLOW_BITS);

inline u32 float_bits(float f) { return std::bit_cast<u32>(f); }
inline float bits_float(u32 b) { return std::bit_cast<float>(b); }

// Cells are shared by the execution thread and the main thread without a
// lock. Whole-word relaxed atomic access makes that defined behaviour and
// compiles to plain loads and stores on the target.
inline Idata cell_load(const Idata* p) {
  return std::atomic_ref<Idata>(*const_cast<Idata*>(p)).load(std::memory_order_relaxed);
}
inline void cell_store(Idata* p, Idata v) {
  std::atomic_ref<Idata>(*p).store(v, std::memory_order_relaxed);
}
