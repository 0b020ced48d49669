// Row builders shared by the screen object types. Every row reads and
// writes a member of the object (M may be a member of a base class of T).
#pragma once
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/rows.h"
#include "hmi/hmi_object.h"

namespace hrows {

// What a number above the row's upper bound does.
enum class Fit {
  Clamp,   // stored as the bound
  Refuse,  // the write is refused
  Flag,    // any non-zero value stores 1
  Zero,    // stored as 0
};

template <class T, auto M, Fit F = Fit::Clamp>
Row<T> small(const char* label, u16 type, u32 lo, u32 hi, u16 alt = 0xFFFF) {
  Row<T> r{label, type, alt == 0xFFFF ? type : alt,
           [](T& o, u16, Iparam& p, const Row<T>&) { p.value = u32(o.*M); },
           [](T& o, u16, const Iparam& p, const Row<T>& r) {
             u32 v = p.value;
             if constexpr (F == Fit::Refuse) {
               if (v > u32(r.hi)) return false;
             } else if constexpr (F == Fit::Flag) {
               v = v != 0;
             } else if constexpr (F == Fit::Zero) {
               if (v > u32(r.hi)) v = 0;
             } else {
               v = std::clamp(v, u32(r.lo), u32(r.hi));
             }
             using V = std::remove_reference_t<decltype(o.*M)>;
             o.*M = V(v);
             return true;
           }};
  r.lo = lo;
  r.hi = hi;
  return r;
}

// A whole 32-bit word, stored as it comes (signed members keep the pattern).
template <class T, auto M>
Row<T> word(const char* label, u16 type) {
  return Row<T>{label, type, type,
                [](T& o, u16, Iparam& p, const Row<T>&) { p.value = u32(o.*M); },
                [](T& o, u16, const Iparam& p, const Row<T>&) {
                  using V = std::remove_reference_t<decltype(o.*M)>;
                  o.*M = V(p.value);
                  return true;
                }};
}

// A float travelling as its bits (type 0).
template <class T, auto M>
Row<T> real(const char* label) {
  return Row<T>{label, ptype::Float, ptype::Float,
                [](T& o, u16, Iparam& p, const Row<T>&) { p.value = float_bits(o.*M); },
                [](T& o, u16, const Iparam& p, const Row<T>&) {
                  o.*M = bits_float(p.value);
                  return true;
                }};
}

template <class T, auto M>
Row<T> ref(const char* label) {
  return Row<T>{label, ptype::Ref, ptype::Ref,
                [](T& o, u16, Iparam& p, const Row<T>&) { p.ref = o.*M; },
                [](T& o, u16, const Iparam& p, const Row<T>&) {
                  o.*M = p.ref;
                  return true;
                }};
}

// A text of at most 255 characters (cut); a null or empty text is accepted
// and changes nothing. Reads give null for an empty text.
template <class T, auto M>
Row<T> text(const char* label, u16 type = ptype::Text) {
  return Row<T>{label, type, type,
                [](T& o, u16, Iparam& p, const Row<T>&) {
                  const std::string& s = o.*M;
                  p.text = s.empty() ? nullptr : s.c_str();
                },
                [](T& o, u16, const Iparam& p, const Row<T>&) {
                  if (p.text && *p.text) (o.*M).assign(p.text, strnlen(p.text, 255));
                  return true;
                }};
}

// The four rows every type starts with: x, y, attributes, security
// (0 stores 1, above 255 stores 255), then the type's own rows.
template <class T>
std::vector<Row<T>> with_base(const char* security_label, std::vector<Row<T>> own = {}) {
  std::vector<Row<T>> v{
      word<T, &HMI_object::x>("", ptype::XPos),
      word<T, &HMI_object::y>("", ptype::YPos),
      word<T, &HMI_object::attributes>("Attributes", ptype::Attributes),
      small<T, &HMI_object::security>(security_label, ptype::Dec, 1, 255),
  };
  v.insert(v.end(), own.begin(), own.end());
  return v;
}

}  // namespace hrows
