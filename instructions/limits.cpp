#include "instructions/limits.h"

#include <algorithm>
#include <type_traits>

#include "core/registry.h"
#include "instructions/common.h"

namespace {

// Row storage in element I of an array member.
template <auto M, std::size_t I>
struct Elem {
  using T = typename rows::member_of<decltype(M)>::cls;
  using F = std::remove_extent_t<typename rows::member_of<decltype(M)>::field>;
  static F& at(T& o, u16) { return (o.*M)[I]; }
};
template <auto M, std::size_t I>
auto elem_float(const char* label) {
  return rows::num_row<Elem<M, I>>(label, ptype::Float);
}

}  // namespace

// ---- Limit ---------------------------------------------------------------

const RowTable<Limit> Limit::rows{{
    rows::ref<&Limit::input_>("Input"),
    rows::ref<&Limit::result_>("Result"),
    inst::block_ref<&Limit::limit_, 3>("Limit"),
    elem_float<&Limit::out_, 0>("High"),
    elem_float<&Limit::out_, 1>("Went high"),
    elem_float<&Limit::out_, 2>("Window"),
    elem_float<&Limit::out_, 3>("Went window"),
    elem_float<&Limit::out_, 4>("Low"),
    elem_float<&Limit::out_, 5>("Went low"),
    elem_float<&Limit::lim_, 0>("High limit"),
    elem_float<&Limit::lim_, 1>("High clear"),
    elem_float<&Limit::lim_, 2>("Low clear"),
    elem_float<&Limit::lim_, 3>("Low limit"),
}};

Limit::Limit(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

Control* Limit::execute() {
  if (!input_.var || !result_.var) return next;
  if (limit_.var)
    for (u16 i = 0; i < 4; ++i) lim_[i] = limit_.get(i);
  // Thresholds never increase from High limit down to Low limit.
  lim_[1] = std::min(lim_[1], lim_[0]);
  lim_[2] = std::min(lim_[2], lim_[1]);
  lim_[3] = std::min(lim_[3], lim_[2]);

  const Idata x = input_.get();
  int k = 2 * zone_;
  if (x >= lim_[0]) {
    k = zone_ == High ? 0 : 1;
    zone_ = High;
  } else if (x >= lim_[2] && x <= lim_[1]) {
    k = zone_ == Window ? 2 : 3;
    zone_ = Window;
  } else if (x <= lim_[3]) {
    k = zone_ == Low ? 4 : 5;
    zone_ = Low;
  }  // otherwise inside a hysteresis band: the zone stays
  result_.set(out_[k]);
  return next;
}

QUOR_REGISTER_INSTRUCTION(4, Limit);

// ---- Fuzin ---------------------------------------------------------------

const RowTable<Fuzin> Fuzin::rows{{
    rows::ref<&Fuzin::input_>("Input"),
    rows::ref<&Fuzin::result_>("Result"),
    rows::num<&Fuzin::a_>("Activate", ptype::Float),
    rows::num<&Fuzin::b_>("Full activation", ptype::Float),
    rows::num<&Fuzin::c_>("De-activate", ptype::Float),
    rows::num<&Fuzin::d_>("Full de-activation", ptype::Float),
}};

Fuzin::Fuzin(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

Control* Fuzin::execute() {
  if (!input_.var || !result_.var) return next;
  b_ = std::max(b_, a_);
  c_ = std::max(c_, b_);
  d_ = std::max(d_, c_);
  const Idata x = input_.get();
  Idata r = 0.0f;  // also x <= a, x >= d and a NaN input
  if (x > a_ && x < b_)
    r = (x - a_) / (b_ - a_);
  else if (x >= b_ && x <= c_)
    r = 1.0f;
  else if (x > c_ && x < d_)
    r = (d_ - x) / (d_ - c_);
  result_.set(r);
  return next;
}

QUOR_REGISTER_INSTRUCTION(5, Fuzin);

// ---- Bounds --------------------------------------------------------------

const RowTable<Bounds> Bounds::rows{{
    rows::ref<&Bounds::input_>("Input"),
    rows::ref<&Bounds::result_>("Result"),
    rows::ref<&Bounds::alarm_>("Alarm"),
    rows::num<&Bounds::high_status_>("High alarm status", ptype::Float),
    rows::num<&Bounds::low_status_>("Low alarm status", ptype::Float),
    rows::num<&Bounds::high_alarm_>("High bound alarm", ptype::Float),
    rows::num<&Bounds::high_bound_>("High bound", ptype::Float),
    rows::num<&Bounds::low_bound_>("Low bound", ptype::Float),
    rows::num<&Bounds::low_alarm_>("Low bound alarm", ptype::Float),
}};

Bounds::Bounds(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

Control* Bounds::execute() {
  if (!input_.var || !result_.var) return next;
  const Idata x = input_.get();
  Idata r = x, s = 0.0f;
  // In this order, so that with crossed settings the low side wins.
  if (x > high_bound_) r = high_bound_;
  if (x > high_alarm_) s = high_status_;
  if (x < low_bound_) r = low_bound_;
  if (x < low_alarm_) s = low_status_;
  result_.set(r);
  if (alarm_.var) alarm_.set(s);
  return next;
}

QUOR_REGISTER_INSTRUCTION(10, Bounds);
