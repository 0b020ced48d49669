#include "core/config.h"
#include "core/registry.h"
#include "history/hist_instructions.h"
#include "history/history.h"
#include "instructions/common.h"

namespace {

// "Periodic file" and "Event file": 0 disabled, 1..4; above 4 disabled.
template <class T, u8 T::*File>
Row<T> file_row(const char* label) {
  return rows::custom<T>(
      label, ptype::Select, [](T& o, u16, Iparam& p, const Row<T>&) { p.value = o.*File; },
      [](T& o, u16, const Iparam& p, const Row<T>&) {
        o.*File = p.value > 4 ? 0 : u8(p.value);
        return true;
      });
}

}  // namespace

const RowTable<Histper> Histper::rows{{
    inst::block_ref<&Histper::data_, HIST_MAX_N - 1>("Data"),
    rows::ref<&Histper::status_>("Status"),
    file_row<Histper, &Histper::file_>("Periodic file~Disabled~1~2~3~4"),
}};

Histper::Histper(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

// The first boundary after now: interval multiples shifted by the offset.
void Histper::schedule(u32 now, int f) {
  const long long interval = per_interval[f], offset = per_offset[f];
  long long d = (long long)now - offset;
  long long k = d >= 0 ? d / interval : -((-d + interval - 1) / interval);
  long long t = k * interval + interval + offset;
  next_time_ = t > 0xFFFFFFFFLL ? 0xFFFFFFFFu : u32(t < 0 ? 0 : t);
}

Control* Histper::execute() {
  if (file_ == 0 || !data_.var || !status_.var || !inst::clock_aligned()) return next;
  const int f = file_ - 1;
  const u32 interval = per_interval[f];
  if (interval == 0) return next;
  const u32 now = inst::loop_date();
  if (inst::first_scan()) next_time_ = 0xFFFFFFFFu;
  if ((long long)now + interval < next_time_) schedule(now, f);  // first pass, or the clock went back
  if (now < next_time_) {
    status_.set(0.0f);
    return next;
  }
  float values[HIST_MAX_N];
  for (u32 i = 0; i < HIST_MAX_N; ++i) values[i] = data_.get(u16(i));
  const bool written = write_periodic(f, values, HIST_MAX_N, next_time_);
  schedule(now, f);
  status_.set(written ? 1.0f : 0.0f);
  return next;
}

QUOR_REGISTER_INSTRUCTION(15, Histper);
