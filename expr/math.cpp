#include "expr/math.h"

#include <algorithm>

#include "net/ioport.h"

double es(double t) {
  t = std::clamp(t, -100.0, 100.0);
  return 0.61078 * std::exp(17.269 * t / (t + 237.3));
}

double ea(double e, double rh) {
  if (!(rh >= 0.1)) rh = 0.1;  // also NaN
  if (rh > 100.0) rh = 100.0;
  return e * rh / 100.0;
}

u32 dateymd(u32 day, int mode) {
  u32 cycle = day / 1461, d = day % 1461, y;
  if (d >= 1096) {
    y = 3;
    d -= 1096;
  } else if (d >= 731) {
    y = 2;
    d -= 731;
  } else if (d > 365) {
    y = 1;
    d -= 366;
  } else {
    y = 0;
  }
  if (mode == 0) return 2000 + 4 * cycle + y;
  static const u8 kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  u32 m = 0;
  for (; m < 11; ++m) {
    u32 len = kDays[m] + (m == 1 && y == 0 ? 1 : 0);
    if (d < len) break;
    d -= len;
  }
  return mode == 1 ? m + 1 : d + 1;
}

namespace {

float in_range(double x, double lo, double hi, double (*f)(double)) {
  return (x >= lo && x <= hi) ? float(f(x)) : OVERFLOW_VALUE;
}

u32 high_bit(u32 v) {
  u32 n = 24;
  for (; n > 0; --n, v <<= 1)
    if (v & 0x800000u) return n;
  return 0;
}

u32 low_bit(u32 v) {
  for (u32 n = 1; n <= 24; ++n, v >>= 1)
    if (v & 1u) return n;
  return 0;
}

}  // namespace

namespace {
float rare(float a, float b, u16 code) {
  double x = a;
  switch (code) {
    case op::Mod: {
      // Negative operands convert as the two's-complement pattern.
      u32 d = wrap<u32>(b);
      return d == 0 ? OVERFLOW_VALUE : float(wrap<u32>(a) % d);
    }
    case op::FuzzyOr: return std::max(make_fuzzy(a), make_fuzzy(b));
    case op::FuzzyAnd: return std::min(make_fuzzy(a), make_fuzzy(b));
    case op::FuzzyXor: return std::fabs(make_fuzzy(a) - make_fuzzy(b));
    case op::Shr: {
      u32 n = make_binary(b);
      return (n >= 1 && n <= 23) ? float(make_binary(a) >> n) : a;
    }
    case op::Shl: {
      u32 n = make_binary(b);
      return (n >= 1 && n <= 23) ? float((make_binary(a) << n) & 0xFFFFFFu) : a;
    }
    case op::Oridel: return (b >= 0.0f && b <= 1.0f) ? b : a;
    case op::Pow: {
      double e = b;
      if (a == 0.0f && b < 0.0f) return OVERFLOW_VALUE;
      if (a < 0.0f) e = b > 0.0f ? std::ceil(e) : std::floor(e);
      return float(std::pow(x, e));
    }
    case op::Atan2: return float(std::atan2(x, double(b)));
    case op::Outb: return foutb(a, b);
    case op::Out2b: return fout2b(a, b);
    case op::Loopz: return loop(a, b, true);
    case op::Loopnz: return loop(a, b, false);
    case op::Vpd: {
      double e = es(x);
      return float(17.269 * (e - ea(e, b)));
    }
    case op::Dp: {
      double e = std::max(ea(es(x), b), 1e-6);
      double l = std::log(e / 0.61078);
      return float(237.3 * l / (17.269 - l));
    }
    case op::Bool: return bool_value(a >= 0.5f);
    case op::Fuzzy: return make_fuzzy(a);
    case op::Compb: return float(~make_binary(a));
    case op::Compf: return 1.0f - make_fuzzy(a);
    case op::Inv: return a == 0.0f ? OVERFLOW_VALUE : 1.0f / a;
    case op::Ceil: return std::ceil(a);
    case op::Floor: return std::floor(a);
    case op::Sqrt: return a < 0.0f ? OVERFLOW_VALUE : float(std::sqrt(x));
    case op::Exp: return float(std::exp(x));
    case op::Log: return a <= 0.0f ? OVERFLOW_VALUE : float(std::log(x));
    case op::Log10: return a <= 0.0f ? OVERFLOW_VALUE : float(std::log10(x));
    case op::Sin: return float(std::sin(x));
    case op::Cos: return float(std::cos(x));
    case op::Tan: return (x > -1.570796 && x < 1.570796) ? float(std::tan(x)) : OVERFLOW_VALUE;
    case op::Asin: return in_range(x, -1.0, 1.0, [](double v) { return std::asin(v); });
    case op::Acos: return in_range(x, -1.0, 1.0, [](double v) { return std::acos(v); });
    case op::Atan: return float(std::atan(x));
    case op::Year: return float(dateymd(make_binary(a), 0));
    case op::Month: return float(dateymd(make_binary(a), 1));
    case op::Day: return float(dateymd(make_binary(a), 2));
    case op::Dow: return float((make_binary(a) + 5) % 7);
    case op::Hour: return float(make_binary(a) / 3600);
    case op::Minute: return float(make_binary(a) / 60 % 60);
    case op::Second: return float(make_binary(a) % 60);
    case op::Hbit: return float(high_bit(make_binary(a)));
    case op::Lbit: return float(low_bit(make_binary(a)));
    case op::Inb: return finb(a);
    case op::In2b: return fin2b(a);
    default: return a;
  }
}
}  // namespace

float math_rare(float a, float b, u16 code) { return finite_or_overflow(rare(a, b, code)); }
