#include "instructions/statistics.h"

#include <algorithm>
#include <cmath>

#include "core/registry.h"
#include "instructions/common.h"

namespace stats {

namespace {
constexpr float DEG_PER_RAD = 57.29578f;
constexpr float RAD_PER_DEG = 0.01745329f;
}  // namespace

void Accum::add(float x, bool angles) {
  ++n;
  const float nf = static_cast<float>(n);
  const float delta = x - mean;
  mean += delta / nf;
  m2 += delta * delta * (nf - 1.0f) / nf;
  max = std::max(max, x);
  min = std::min(min, x);
  total += x;
  if (!angles) return;
  const float r = x * RAD_PER_DEG;
  const float s = std::sin(r), c = std::cos(r);
  sin += s;
  cos += c;
  sin2 += s * s;
  cos2 += c * c;
}

float Accum::result(u8 calc) const {
  const float nf = static_cast<float>(n);
  switch (calc) {
    case Average:
      return mean;
    case StdDev:
      return n > 1 ? std::sqrt(m2 / (nf - 1.0f)) : 0.0f;
    case Maximum:
      return max;
    case Minimum:
      return min;
    case Difference:
      return max - min;
    case Total:
      return total;
    case CircAvg: {
      float a = std::atan2(sin, cos) * DEG_PER_RAD;
      return a < 0.0f ? a + 360.0f : a;
    }
    case CircStdDev: {
      if (n <= 1) return 0.0f;
      const float vs = (sin2 - sin * sin / nf) / (nf - 1.0f);
      const float vc = (cos2 - cos * cos / nf) / (nf - 1.0f);
      float r = vs + vc;
      if (!(r > 0.0f)) r = 0.0f;
      r = std::min(std::sqrt(r), 1.0f);
      return std::asin(r) * DEG_PER_RAD;
    }
    case NumValid:
      return nf;
    default:
      return 0.0f;
  }
}

}  // namespace stats

using namespace stats;

namespace {

// A group row of Circbuf's calculations holding a count capped at the
// buffer length.
template <auto M>
Row<Circbuf> capped_count(const char* label) {
  return rows::custom<Circbuf>(
      label, ptype::Dec,
      [](Circbuf& o, u16 g, Iparam& p, const Row<Circbuf>&) { p.value = o.calc(g).*M; },
      [](Circbuf& o, u16 g, const Iparam& p, const Row<Circbuf>&) {
        o.calc(g).*M = static_cast<u16>(std::min<u32>(p.value, o.length()));
        return true;
      });
}

}  // namespace

// ---- Circbuf -------------------------------------------------------------

const RowTable<Circbuf> Circbuf::rows{
    {
        inst::block_ref<&Circbuf::input_, 1>("Input"),
        rows::ref<&Circbuf::results_>("Results", [](Circbuf& o, u16) { o.revalidate_results(); }),
        rows::ref<&Circbuf::control_>("Control"),
        rows::num<&Circbuf::max_valid_>("Max valid status", ptype::Hex),
        rows::num<&Circbuf::length_>("Circular buffer length", ptype::Dec, 0, 65535,
                                     [](Circbuf& o, u16) { o.make_ring(); }),
    },
    {
        rows::gnum<&Circbuf::calcs_, &Calc::type>(
            "Calc type~Disable~Average~Std Dev~Maximum~Minimum~Difference~Total~Circ avg~Circ "
            "std dev~# valid",
            ptype::Select, 0, NumValid),
        capped_count<&Calc::count>("Number in calc"),
        capped_count<&Calc::min_valid>("Minimum valid"),
    }};

Circbuf::Circbuf(Control* prev, const char* desc, u16 n) : WithRows(prev, desc) { resize(n); }

bool Circbuf::resize(u16 n) {
  calcs_.resize(std::clamp<u16>(n, 1, MAX_CALCS));
  revalidate_results();
  return true;
}

void Circbuf::revalidate_results() {
  if (results_.var) revalidate_block(results_, static_cast<u16>(2 * calcs_.size() - 1));
}

void Circbuf::make_ring() {
  ring_.assign(length_, Sample{});
  ring_.shrink_to_fit();
  write_ = 0;
}

void Circbuf::clear_ring() {
  std::fill(ring_.begin(), ring_.end(), Sample{});
  write_ = 0;
}

Control* Circbuf::execute() {
  if (!input_.var || !results_.var || ring_.empty()) return next;
  const u32 c = control_.var ? saturate<u32>(control_.get()) : SampleCompute;
  if (c == Idle) return next;

  const u16 L = static_cast<u16>(ring_.size());
  const u16 newest = write_;
  ring_[newest] = Sample{input_.get(0), input_.get(1)};
  if (c != Overwrite && ++write_ >= L) write_ = 0;
  if (c == SampleOnly) return next;

  for (u16 i = 0; i < calcs_.size(); ++i) {
    const Calc& calc = calcs_[i];
    if (calc.type == Disable) continue;
    Accum a;
    u32 valid_bits = 0, invalid_bits = 0;
    bool any_invalid = false;
    // The count was capped when set, but the buffer may have shrunk since.
    const u16 count = std::min(calc.count, L);
    const bool angles = circular(calc.type);
    u16 k = newest;
    for (u16 j = 0; j < count; ++j) {
      const Sample& s = ring_[k];
      const u32 bits = status_bits(s.status);
      if (bits <= max_valid_) {
        a.add(s.value, angles);
        valid_bits |= bits;
      } else if (bits != NO_DATA) {
        invalid_bits |= bits;
        any_invalid = true;
      }
      k = k == 0 ? static_cast<u16>(L - 1) : static_cast<u16>(k - 1);
    }
    const u16 at = static_cast<u16>(2 * i);
    if (a.n > 0 || calc.type == NumValid) results_.set(at, a.result(calc.type));
    const u32 status = a.n >= calc.min_valid ? valid_bits : any_invalid ? invalid_bits : NO_DATA;
    results_.set(static_cast<u16>(at + 1), static_cast<float>(status));
  }
  if (c == Clear) clear_ring();
  return next;
}

QUOR_REGISTER_INSTRUCTION(14, Circbuf);

// ---- Stat ----------------------------------------------------------------

const RowTable<Stat> Stat::rows{
    {
        inst::block_ref<&Stat::input_, 1>("Input"),
        rows::ref<&Stat::results_>("Results", [](Stat& o, u16) { o.revalidate_results(); }),
        rows::ref<&Stat::control_>("Control"),
        rows::num<&Stat::max_valid_>("Max valid status", ptype::Hex),
        rows::num<&Stat::min_valid_>("Minimum valid", ptype::Dec, 0, 65535),
    },
    {
        rows::gnum<&Stat::calcs_, &Stat::Calc::type>(
            "Calc type~Disable~Average~Std Dev~Maximum~Minimum~Difference~Total~Circ avg~Circ "
            "std dev",
            ptype::Select, 0, CircStdDev),
    }};

Stat::Stat(Control* prev, const char* desc, u16 n) : WithRows(prev, desc) { resize(n); }

bool Stat::resize(u16 n) {
  calcs_.resize(std::clamp<u16>(n, 1, MAX_CALCS));
  revalidate_results();
  reset_pending_ = true;
  return true;
}

void Stat::revalidate_results() {
  if (results_.var) revalidate_block(results_, static_cast<u16>(2 * calcs_.size() - 1));
}

void Stat::reset() {
  acc_ = Accum{};
  valid_bits_ = 0;
  invalid_bits_ = NO_DATA;
  reset_pending_ = false;
}

Control* Stat::execute() {
  if (!input_.var || !results_.var || !control_.var) return next;
  const u32 c = saturate<u32>(control_.get());
  if (reset_pending_ || c == Clear) reset();
  if (c == Idle) return next;

  const u32 bits = status_bits(input_.get(1));
  if (bits <= max_valid_) {
    valid_bits_ |= bits;
    // Every calculation reads the same sums, and a calc type may change
    // while they accumulate: the angle sums are always kept.
    acc_.add(input_.get(0), true);
  } else {
    invalid_bits_ = invalid_bits_ == NO_DATA ? bits : invalid_bits_ | bits;
  }
  if (c == SampleOnly) return next;

  const u32 status = acc_.n >= min_valid_ ? valid_bits_ : invalid_bits_;
  for (u16 i = 0; i < calcs_.size(); ++i) {
    const u16 at = static_cast<u16>(2 * i);
    if (acc_.n > 0) results_.set(at, acc_.result(calcs_[i].type));
    results_.set(static_cast<u16>(at + 1), static_cast<float>(status));
  }
  return next;
}

QUOR_REGISTER_INSTRUCTION(24, Stat);
