// The operator table of the formula language: math_operation(a, b, op) and
// the conversions it uses. Results are single precision; library functions
// are computed in double precision. No operation yields a NaN or an
// infinity: where there is no defined result the overflow value (3.0e38)
// is returned instead.
#pragma once
#include <bit>
#include <cmath>

#include "core/convert.h"
#include "core/types.h"

// Operator codes. 1..21 are written between operands, 22..34 are the
// quoted two-argument functions (a 'min' b), 129..160 the one-argument
// functions (sin(x)); 0 copies the first operand.
namespace op {
inline constexpr u16 Copy = 0, Add = 1, Sub = 2, Mul = 3, Div = 4, Mod = 5, Or = 6, And = 7,
                     Xor = 8, FuzzyOr = 9, FuzzyAnd = 10, FuzzyXor = 11, Shr = 12, Shl = 13,
                     LogOr = 14, LogAnd = 15, Eq = 16, Ne = 17, Lt = 18, Le = 19, Gt = 20,
                     Ge = 21;
inline constexpr u16 Orider = 22, Oridel = 23, Min = 24, Max = 25, Pow = 26, Atan2 = 27,
                     Outb = 28, Out2b = 29, Loopz = 30, Loopnz = 31, If = 32, Vpd = 33, Dp = 34;
inline constexpr u16 Logical = 129, Bool = 130, Fuzzy = 131, Compl = 132, Compb = 133,
                     Compf = 134, Abs = 135, Neg = 136, Inv = 137, Ceil = 138, Floor = 139,
                     Sqrt = 140, Exp = 141, Log = 142, Log10 = 143, Sin = 144, Cos = 145,
                     Tan = 146, Asin = 147, Acos = 148, Atan = 149, Year = 150, Month = 151,
                     Day = 152, Dow = 153, Hour = 154, Minute = 155, Second = 156, Hbit = 157,
                     Lbit = 158, Inb = 159, In2b = 160;
}  // namespace op

// Values of at least this are "missing" for orider.
inline constexpr float MISSING_FROM = 3.0e38f;

// Clamp to 0..2^24-1 and truncate: the operand of bitwise, date and time
// operators. NaN gives 0.
inline u32 make_binary(float x) { return saturate<u32>(x, 0, 16777215u); }
// Clamp to 0.0..1.0 (NaN gives 0.0).
inline float make_fuzzy(float x) {
  if (!(x > 0.0f)) return 0.0f;
  return x < 1.0f ? x : 1.0f;
}
// Saturation vapour pressure in kPa at T degrees Celsius (clamped to
// -100..100), Tetens equation.
double es(double t);
// Actual vapour pressure for saturation pressure e and relative humidity rh
// percent (clamped to 0.1..100).
double ea(double e, double rh);
// Year (mode 0), month (1) or day of month (2) of a day number, day 0 being
// 1 January 2000.
u32 dateymd(u32 day, int mode);

// The rarer operators, out of line; finite results like math_operation.
float math_rare(float a, float b, u16 code);

inline float bool_value(bool c) { return c ? 1.0f : 0.0f; }
// v, or the overflow value for an infinity or a NaN.
inline float finite_or_overflow(float v) {
  // The exponent bits are all set only for infinities and NaNs.
  if (__builtin_expect(float_bits(v) << 1 >= 0xFF000000u, 0)) return OVERFLOW_VALUE;
  return v;
}

inline float math_operation(float a, float b, u16 code) {
  float r;
  switch (code) {
    // Results that are finite whatever the operands.
    case op::Or: return float(make_binary(a) | make_binary(b));
    case op::And: return float(make_binary(a) & make_binary(b));
    case op::Xor: return float(make_binary(a) ^ make_binary(b));
    case op::LogOr: return bool_value(a != 0.0f || b != 0.0f);
    case op::LogAnd: return bool_value(a != 0.0f && b != 0.0f);
    case op::Eq: return bool_value(a == b);
    case op::Ne: return bool_value(a != b);
    case op::Lt: return bool_value(a < b);
    case op::Le: return bool_value(a <= b);
    case op::Gt: return bool_value(a > b);
    case op::Ge: return bool_value(a >= b);
    case op::Logical: return bool_value(a != 0.0f);
    case op::Compl: return bool_value(a == 0.0f);
    default: return math_rare(a, b, code);  // checks its own results
    // Results that an overflow, or a NaN a client wrote into an operand,
    // could make non-finite.
    case op::Add: r = a + b; break;
    case op::Sub: r = a - b; break;
    case op::Mul: r = a * b; break;
    case op::Div: r = b == 0.0f ? OVERFLOW_VALUE : a / b; break;
    case op::Orider: r = b < MISSING_FROM ? b : a; break;
    case op::Min: r = b < a ? b : a; break;
    case op::Max: r = b > a ? b : a; break;
    case op::Abs: r = std::fabs(a); break;
    case op::Neg: r = -a; break;
    case op::Copy:
    case op::If: r = a; break;
  }
  return finite_or_overflow(r);
}
