// Parameter rows described once, as data. A class lists its fixed rows and
// the rows of one repeated group in a RowTable; the table implements
// lparam/dparam/gparam/sparam and generates the descriptor string from the
// same labels, so labels, row order and type codes cannot drift apart.
//
//   const RowTable<Alarm> Alarm::rows{{
//       rows::ref<&Alarm::master_>("Master"),
//       rows::ref<&Alarm::first_>("Alarm", &Alarm::recheck),
//       rows::num<&Alarm::count_>("Number of alarms", ptype::Dec, 1, 255, &Alarm::recheck),
//   }};
#pragma once
#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "core/control.h"
#include "core/convert.h"
#include "core/scan_pause.h"

template <class T>
struct Row {
  const char* label;  // label, optionally followed by "~choice~choice..."
  u16 type;           // code given by get and required by set
  u16 alt;            // a second code set accepts (equal to type when none)
  void (*get)(T&, u16 g, Iparam&, const Row&);
  bool (*set)(T&, u16 g, const Iparam&, const Row&);
  double lo = 0, hi = 0;  // clamp range of numbers (none when lo == hi);
                          // the longest text for text rows
  void (*after)(T&, u16 g) = nullptr;  // side effect of an accepted set
  bool cut = false;                    // text rows: cut instead of refusing
};

template <class T>
class RowTable {
 public:
  RowTable(std::vector<Row<T>> fixed, std::vector<Row<T>> group = {})
      : fixed_(std::move(fixed)), group_(std::move(group)) {
    bool first = true;  // labels may be empty: "}}Attributes" is three rows
    for (const auto* list : {&fixed_, &group_})
      for (const auto& r : *list) {
        if (!first) desc_ += '}';
        first = false;
        desc_ += r.label;
      }
  }

  const char* descriptor() const { return desc_.c_str(); }
  u16 fixed_rows() const { return static_cast<u16>(fixed_.size()); }
  u16 group_rows() const { return static_cast<u16>(group_.size()); }

  bool lparam(const T& o, Ilparam* s) const {
    s->rows = fixed_rows();
    s->group_rows = group_rows();
    s->groups = groups_of(o);
    return true;
  }
  bool get(T& o, Iparam* p, u16 group, u16 row) const {
    const Row<T>* r = find(o, group, row);
    if (!r) return false;
    p->type = r->type;
    r->get(o, group, *p, *r);
    return true;
  }
  bool set(T& o, Iparam* p, u16 group, u16 row) const {
    const Row<T>* r = find(o, group, row);
    if (!r || (p->type != r->type && p->type != r->alt)) return false;
    if (!r->set(o, group, *p, *r)) return false;
    if (r->after) r->after(o, group);
    return true;
  }

 private:
  static u16 groups_of(const T& o) {
    if constexpr (requires { o.group_count(); })
      return static_cast<u16>(o.group_count());
    else
      return 0;
  }
  const Row<T>* find(const T& o, u16 group, u16 row) const {
    if (group == 0) return row < fixed_.size() ? &fixed_[row] : nullptr;
    if (group > groups_of(o) || row >= group_.size()) return nullptr;
    return &group_[row];
  }
  std::vector<Row<T>> fixed_, group_;
  std::string desc_;
};

// A class with a RowTable named `rows` gets the protocol from this mixin:
//   class Alarm : public WithRows<Alarm> { ... static const RowTable<Alarm> rows; };
template <class T, class Base = Control>
class WithRows : public Base {
 public:
  using Base::Base;
  bool lparam(Ilparam* s) override { return T::rows.lparam(self(), s); }
  const char* dparam() override { return T::rows.descriptor(); }
  // An instruction's rows are the scan's state: the main thread reads and
  // writes them with the scan paused.
  bool gparam(Iparam* p, u16 g, u16 r) override {
    scan_requires(Pause::Paused);
    return T::rows.get(self(), p, g, r);
  }
  bool sparam(Iparam* p, u16 g, u16 r) override {
    scan_requires(Pause::Paused);
    return T::rows.set(self(), p, g, r);
  }

 private:
  T& self() { return static_cast<T&>(*this); }
  const T& self() const { return static_cast<const T&>(*this); }
};

namespace rows {

template <class M>
struct member_of;
template <class C, class F>
struct member_of<F C::*> {
  using cls = C;
  using field = F;
};

// Where a row's value lives: a member of the object, or a member of the
// g-th element (1-based) of a vector member.
template <auto M>
struct Fixed {
  using T = typename member_of<decltype(M)>::cls;
  using F = typename member_of<decltype(M)>::field;
  static F& at(T& o, u16) { return o.*M; }
};
template <auto V, auto M>
struct InGroup {
  using T = typename member_of<decltype(V)>::cls;
  using F = typename member_of<decltype(M)>::field;
  static F& at(T& o, u16 g) { return (o.*V)[g - 1].*M; }
};

template <class T>
using After = void (*)(T&, u16);

template <class A>
Row<typename A::T> ref_row(const char* label, After<typename A::T> after = nullptr) {
  using T = typename A::T;
  return Row<T>{label, ptype::Ref, ptype::Ref,
                [](T& o, u16 g, Iparam& p, const Row<T>&) { p.ref = A::at(o, g); },
                [](T& o, u16 g, const Iparam& p, const Row<T>&) {
                  A::at(o, g) = p.ref;
                  return true;
                },
                0, 0, after};
}

// Numbers: float members travel as float bits (type 0), integer members as
// unsigned values of the given type code. Out-of-range values are clamped.
template <class A>
Row<typename A::T> num_row(const char* label, u16 type, double lo = 0, double hi = 0,
                           After<typename A::T> after = nullptr, u16 alt = 0xFFFF) {
  using T = typename A::T;
  using F = typename A::F;
  Row<T> r{label, type, alt == 0xFFFF ? type : alt,
           [](T& o, u16 g, Iparam& p, const Row<T>&) {
             if constexpr (std::is_floating_point_v<F>)
               p.value = float_bits(static_cast<float>(A::at(o, g)));
             else
               p.value = static_cast<u32>(A::at(o, g));
           },
           [](T& o, u16 g, const Iparam& p, const Row<T>& r) {
             if constexpr (std::is_floating_point_v<F>) {
               float v = p.type == ptype::Float ? p.f() : static_cast<float>(p.value);
               if (r.lo < r.hi) v = std::clamp<float>(v, float(r.lo), float(r.hi));
               A::at(o, g) = v;
             } else {
               double v = p.type == ptype::Float ? std::trunc(double(p.f())) : double(p.value);
               if (std::isnan(v)) v = 0;
               if (r.lo < r.hi) v = std::clamp(v, r.lo, r.hi);
               A::at(o, g) = saturate<F>(v);  // rows without bounds too
             }
             return true;
           },
           lo, hi, after};
  return r;
}

// Texts held as std::string; longer than `max` is refused, or cut when `cut`.
// A null text is refused.
template <class A>
Row<typename A::T> text_row(const char* label, size_t max = 255, bool cut = false,
                            After<typename A::T> after = nullptr) {
  using T = typename A::T;
  Row<T> r{label, ptype::Text, ptype::Text,
           [](T& o, u16 g, Iparam& p, const Row<T>&) { p.text = A::at(o, g).c_str(); },
           [](T& o, u16 g, const Iparam& p, const Row<T>& r) {
             if (!p.text) return false;
             size_t n = std::strlen(p.text);
             if (n > size_t(r.hi)) {
               if (!r.cut) return false;
               n = size_t(r.hi);
             }
             A::at(o, g).assign(p.text, n);
             return true;
           },
           0, double(max), after, cut};
  return r;
}

// Shorthands for members of the object itself and of its repeated groups.
template <auto M>
auto ref(const char* label, After<typename Fixed<M>::T> after = nullptr) {
  return ref_row<Fixed<M>>(label, after);
}
template <auto M>
auto num(const char* label, u16 type, double lo = 0, double hi = 0,
         After<typename Fixed<M>::T> after = nullptr, u16 alt = 0xFFFF) {
  return num_row<Fixed<M>>(label, type, lo, hi, after, alt);
}
template <auto M>
auto text(const char* label, size_t max = 255, bool cut = false,
          After<typename Fixed<M>::T> after = nullptr) {
  return text_row<Fixed<M>>(label, max, cut, after);
}
template <auto V, auto M>
auto gref(const char* label, After<typename InGroup<V, M>::T> after = nullptr) {
  return ref_row<InGroup<V, M>>(label, after);
}
template <auto V, auto M>
auto gnum(const char* label, u16 type, double lo = 0, double hi = 0,
          After<typename InGroup<V, M>::T> after = nullptr, u16 alt = 0xFFFF) {
  return num_row<InGroup<V, M>>(label, type, lo, hi, after, alt);
}
template <auto V, auto M>
auto gtext(const char* label, size_t max = 255, bool cut = false,
           After<typename InGroup<V, M>::T> after = nullptr) {
  return text_row<InGroup<V, M>>(label, max, cut, after);
}

// Anything irregular: the class supplies get and set itself.
template <class T>
Row<T> custom(const char* label, u16 type, void (*get)(T&, u16, Iparam&, const Row<T>&),
              bool (*set)(T&, u16, const Iparam&, const Row<T>&), u16 alt = 0xFFFF) {
  return Row<T>{label, type, alt == 0xFFFF ? type : alt, get, set};
}

}  // namespace rows
