#include "core/convert.h"
#include "core/registry.h"
#include "history/hist_instructions.h"
#include "history/history.h"
#include "instructions/common.h"

const RowTable<Histevt> Histevt::rows{{
    rows::ref<&Histevt::data_>("Data"),
    rows::ref<&Histevt::status_>("Status"),
    rows::custom<Histevt>(
        "Event file~Disabled~1~2~3~4", ptype::Select,
        [](Histevt& o, u16, Iparam& p, const Row<Histevt>&) { p.value = o.file_; },
        [](Histevt& o, u16, const Iparam& p, const Row<Histevt>&) {
          o.file_ = p.value > 4 ? 0 : u8(p.value);
          return true;
        }),
    rows::num<&Histevt::event_>("Event number (1-1024)", ptype::Dec, 1, HIST_MAX_N),
    rows::num<&Histevt::midnight_>("Force midnight record~No~Yes", ptype::Select, 0, 1),
}};

Histevt::Histevt(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

Control* Histevt::execute() {
  if (file_ == 0 || !data_.var || !status_.var || !inst::clock_aligned()) return next;
  const float status = status_.get();
  u32 bits = saturate<u32>(status);
  if (bits > 16777215u) bits = 0;
  const u32 now = inst::loop_date();
  if ((bits & 1) || (midnight_ && now % 86400 == 0)) write_event(file_ - 1, now, data_.get(), status, event_);
  return next;
}

QUOR_REGISTER_INSTRUCTION(16, Histevt);
