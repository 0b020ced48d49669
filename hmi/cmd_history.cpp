// History commands: status, headers, searches and records of the periodic
// ("sper", "hper", "tper", "dper") and event ("sevt", "hevt", "tevt",
// "devt", "pevt") history files. Every command reads the file as it stands
// on disk; long record lists go out in steps (slot_continue).
#include <algorithm>
#include <memory>
#include <string>

#include "core/config.h"
#include "core/config_pages.h"
#include "hmi/commands.h"
#include "history/hist_format.h"
#include "history/history.h"
#include "net/user_port.h"

using hist::Ring;

namespace {

// Records per step of a long reply: about 64 KiB of text.
constexpr u32 kStepBytes = 64 * 1024;

std::string u(unsigned long long v) { return std::to_string(v); }

std::unique_ptr<hist_par> status_of(HistKind k, u32 f) {
  auto p = std::make_unique<hist_par>();
  p->file = f;
  if (f >= HIST_FILES || !(k == HistKind::Periodic ? status_periodic(p.get()) : status_event(p.get())))
    return nullptr;
  return p;
}

// First slot of "dper" and "devt": mode 1 after the newest (the oldest of a
// full file), mode 0 the last `count` records, mode 2 the slot given.
bool first_slot(u32 mode, const hist_par& s, u32 count, u32 start, u32* slot) {
  switch (mode) {
    case 0: {
      long long v = (long long)s.latest + 1 - count;
      *slot = u32(v < 0 ? v + s.records : v);
      return true;
    }
    case 1:
      *slot = s.latest + 1;
      return true;
    case 2:
      *slot = start;
      return start < s.records;
    default:
      return false;
  }
}

void end_records(int slot) {
  send_HMI_term(slot);
  port_timeout[slot] = 120;
}

std::string event_line(u32 slot, const u8* rec) {
  return u(slot) + "|" + u(hist::get32(rec)) + "|" + std::to_string(i32(hist::get32(rec + 4))) + "|" +
         std::to_string(i32(hist::get32(rec + 8))) + "|" + u(hist::get16(rec + 12));
}

bool read_event_slot(const Ring& r, u32 record, u8* rec) {
  return record < r.records() && r.read_slot(r.first + record, 0, rec, hist::EVT_SLOT);
}

// "dper" in steps: count records from slot, step apart.
struct PeriodicList {
  int f;
  u32 records, slot, step, left;
  bool chosen;
  u32 pick[5];

  bool operator()(int hmi_slot) {
    Ring r;
    if (!r.open(HistKind::Periodic, f, false)) left = 0;
    const u32 per_step = std::max<u32>(1, kStepBytes / (12 * (r.n + 2)));
    u8 rec[4 * (HIST_MAX_N + 1)];
    for (u32 k = 0; left && k < per_step; ++k, --left) {
      if (slot >= records) slot -= records;
      if (slot < r.records() && r.read_slot(r.first + slot, 0, rec, r.slot)) {
        std::string line = u(slot) + "|" + u(hist::get32(rec));
        const u32 values = chosen ? std::min<u32>(r.n, 5) : r.n;
        for (u32 j = 0; j < values; ++j) {
          u32 bin = chosen ? (pick[j] == 0 || pick[j] > r.n ? 0 : pick[j] - 1) : j;
          line += "|" + std::to_string(i32(hist::get32(rec + 4 + 4 * bin)));
        }
        send_HMI_response(hmi_slot, line);
      }
      slot += step;
    }
    port_timeout[hmi_slot] = 120;
    if (left) return true;
    end_records(hmi_slot);
    return false;
  }
};

// "devt" in steps: count consecutive records from slot.
struct EventList {
  int f;
  u32 records, slot, left;

  bool operator()(int hmi_slot) {
    Ring r;
    if (!r.open(HistKind::Event, f, false)) left = 0;
    u8 rec[hist::EVT_SLOT];
    for (u32 k = 0; left && k < kStepBytes / 40; ++k, --left) {
      if (slot >= records) slot = 0;
      if (read_event_slot(r, slot, rec)) send_HMI_response(hmi_slot, event_line(slot, rec));
      ++slot;
    }
    port_timeout[hmi_slot] = 120;
    if (left) return true;
    end_records(hmi_slot);
    return false;
  }
};

// Runs a stepped reply: the first step now, the rest in later passes.
template <class Producer>
void stream(int slot, Producer p) {
  if (p(slot)) slot_continue(slot, std::move(p));
}

}  // namespace

void cmd_sper(HmiCommand& c) {
  auto s = status_of(HistKind::Periodic, c.n[0]);
  if (!s) return reply_fail(c.slot);
  const u32 f = c.n[0];
  reply_one(c.slot, u(s->n) + "|" + u(s->records) + "|" + u(s->latest) + "|" + u(s->oldest_time) + "|" +
                        u(s->latest_time) + "|" + u(per_interval[f]) + "|" + u(s->oldest) + "|" +
                        u(gen_pages::selection_position(per_vformat[f])));
}

void cmd_sevt(HmiCommand& c) {
  auto s = status_of(HistKind::Event, c.n[0]);
  if (!s) return reply_fail(c.slot);
  reply_one(c.slot, u(s->n) + "|" + u(s->records) + "|" + u(s->latest) + "|" + u(s->oldest_time) + "|" +
                        u(s->latest_time) + "|" + u(s->oldest) + "|" +
                        u(gen_pages::selection_position(evt_vformat[c.n[0]])));
}

void cmd_hper(HmiCommand& c) {
  auto h = std::make_unique<hist_par>();
  h->file = c.n[0];
  if (c.n[0] >= HIST_FILES || !get_periodic_header(h.get())) return reply_fail(c.slot);
  const auto& bins = per_ptr[c.n[0]];
  for (u32 j = 0; j < h->n; ++j) {
    // The status bin is the configuration's; a stored 255 reads as none.
    u32 status = j < bins.size() ? bins[j].status : 0;
    if (status == 255) status = 32767;
    send_HMI_response(c.slot, u(h->format[j]) + "|" + std::string(h->names[j], strnlen(h->names[j], 45)) + "|" +
                                  u(status));
  }
  send_HMI_term(c.slot);
}

void cmd_hevt(HmiCommand& c) {
  auto h = std::make_unique<hist_par>();
  h->file = c.n[0];
  if (c.n[0] >= HIST_FILES || !get_event_header(h.get())) return reply_fail(c.slot);
  for (u32 j = 0; j < h->n; ++j)
    send_HMI_response(c.slot, u(h->format[j]) + "|" + std::string(h->names[j], strnlen(h->names[j], 47)));
  send_HMI_term(c.slot);
}

void cmd_tper(HmiCommand& c) {
  u32 rec = 0;
  if (c.n[0] >= HIST_FILES || !date_periodic(int(c.n[0]), c.n[1], &rec)) return reply_fail(c.slot);
  reply_one(c.slot, u(rec));
}

void cmd_tevt(HmiCommand& c) {
  u32 rec = 0;
  if (c.n[0] < HIST_FILES && date_event(int(c.n[0]), c.n[1], &rec, int(c.n[2]))) return reply_one(c.slot, u(rec));
  auto s = status_of(HistKind::Event, c.n[0]);
  if (!s) return reply_fail(c.slot);
  reply_one(c.slot, u(s->latest));
}

void cmd_dper(HmiCommand& c) {
  auto s = status_of(HistKind::Periodic, c.n[0]);
  if (!s) return reply_fail(c.slot);
  const u32 step = c.n[4] ? c.n[4] : 1, count = c.n[2] ? c.n[2] : 1;
  if ((unsigned long long)step * count > s->records) return reply_fail(c.slot);
  PeriodicList list{int(c.n[0]), s->records, 0, step, count, c.n[5] != 0, {}};
  if (!first_slot(c.n[1], *s, count, c.n[3], &list.slot)) return reply_fail(c.slot);
  for (int j = 0; j < 5; ++j) list.pick[j] = c.n[5 + j];
  stream(c.slot, list);
}

void cmd_devt(HmiCommand& c) {
  auto s = status_of(HistKind::Event, c.n[0]);
  if (!s) return reply_fail(c.slot);
  const u32 count = c.n[2] == 0 ? 1 : std::min(c.n[2], s->records);
  EventList list{int(c.n[0]), s->records, 0, count};
  if (!first_slot(c.n[1], *s, count, c.n[3], &list.slot)) return reply_fail(c.slot);
  stream(c.slot, list);
}

// The latest events of up to five kinds within the day of record N2,
// searching back from it at most 1000 records.
void cmd_pevt(HmiCommand& c) {
  auto s = status_of(HistKind::Event, c.n[0]);
  if (!s) return reply_fail(c.slot);
  const u32* kinds = &c.n[2];
  bool found[5]{};
  Ring r;
  u8 rec[hist::EVT_SLOT];
  const u32 start = c.n[1];
  if (start != s->oldest && r.open(HistKind::Event, int(c.n[0]), false) && read_event_slot(r, start, rec)) {
    const u32 day = hist::get32(rec) / 86400 * 86400;
    u32 slot = start;
    for (int k = 0; day != 0 && k < 1000; ++k) {
      if (!read_event_slot(r, slot, rec) || hist::get32(rec) < day) break;
      bool all_done = true;
      for (int j = 0; j < 5; ++j) all_done = all_done && (kinds[j] == 0 || found[j]);
      if (all_done) break;
      for (int j = 0; j < 5; ++j)
        if (kinds[j] != 0 && !found[j] && kinds[j] == hist::get16(rec + 12)) {
          found[j] = true;
          send_HMI_response(c.slot, event_line(slot, rec));
          break;
        }
      if (slot == s->oldest) break;  // the oldest has been looked at
      slot = slot == 0 || slot > s->records ? s->records - 1 : slot - 1;
    }
  }
  for (int j = 0; j < 5; ++j)
    if (!found[j]) send_HMI_response(c.slot, "-1|0|0|0|" + u(kinds[j]));
  end_records(c.slot);
}
