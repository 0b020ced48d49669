#include "instructions/correct.h"

#include <algorithm>

#include "core/registry.h"
#include "instructions/common.h"

namespace {

// A float held by the instruction but exchanged as a Hex integer: read
// back truncated, set from the unsigned value.
template <auto M>
Row<Correct> hex_float(const char* label) {
  return rows::custom<Correct>(
      label, ptype::Hex,
      [](Correct& o, u16, Iparam& p, const Row<Correct>&) { p.value = saturate<u32>(o.*M); },
      [](Correct& o, u16, const Iparam& p, const Row<Correct>&) {
        o.*M = static_cast<float>(p.value);
        return true;
      });
}

}  // namespace

const RowTable<Correct> Correct::rows{{
    rows::ref<&Correct::input_>("Uncorrected input"),
    rows::ref<&Correct::result_>("Corrected result"),
    inst::block_ref<&Correct::expected_, 1>("Expected cal response"),
    inst::block_ref<&Correct::captured_, 3>("Captured cal response"),
    rows::ref<&Correct::capture_>("Cal capture control"),
    rows::ref<&Correct::type_>("Correction type"),
    hex_float<&Correct::low_match_>("Low capture match"),
    hex_float<&Correct::high_match_>("High capture match"),
    rows::num<&Correct::average_>("Number average elements", ptype::Dec, MIN_AVERAGE, MAX_AVERAGE,
                                  [](Correct& o, u16) { o.resize(); }),
}};

Correct::Correct(Control* prev, const char* desc, u16) : WithRows(prev, desc) { resize(); }

void Correct::resize() {
  ring_.assign(average_, 0.0f);
  write_ = 0;
}

float Correct::calc_avg() const {
  float sum = 0.0f;
  for (float v : ring_) sum += v;
  return sum / static_cast<float>(ring_.size());
}

void Correct::update_cal(const pIdata& expected, const pIdata& captured) {
  const float eL = expected.get(0), eH = expected.get(1);
  const float cL = captured.get(0), cH = captured.get(1);
  float offset = 0.0f, gain = 1.0f;
  if (eL != eH && cL != cH) {
    offset = eL - cL;
    const float d = cH + offset - eL;
    if (d == 0.0f)
      offset = 0.0f;
    else
      gain = (eH - eL) / d;
  }
  captured.set(2, offset);
  captured.set(3, gain);
}

Control* Correct::execute() {
  if (!input_.var || !result_.var || !expected_.var || !captured_.var || !capture_.var) return next;
  const float eL = expected_.get(0);
  if (inst::first_scan()) {
    captured_.set(0, eL);
    captured_.set(1, expected_.get(1));
    captured_.set(2, 0.0f);
    captured_.set(3, 1.0f);
  }
  const u32 type = type_.var ? std::min<u32>(saturate<u32>(type_.get()), 2) : 0;

  float v = input_.get();
  if (++write_ >= ring_.size()) write_ = 0;
  ring_[write_] = v;

  const float command = capture_.get();
  if (command == low_match_) {
    captured_.set(0, calc_avg());
    update_cal(expected_, captured_);
  }
  if (command == high_match_) {
    captured_.set(1, calc_avg());
    update_cal(expected_, captured_);
  }
  if (type >= 1) v += captured_.get(2);
  if (type == 2) v = (v - eL) * captured_.get(3) + eL;
  result_.set(v);
  return next;
}

QUOR_REGISTER_INSTRUCTION(19, Correct);
