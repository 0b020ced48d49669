// Reading and writing records and headers of existing history files.
#include <unistd.h>

#include <cstring>
#include <vector>

#include "core/config.h"
#include "history/hist_format.h"

using hist::Ring;

std::string hist_file_name(HistKind kind, int f) {
  return "quor" + std::to_string(f + 1) + (kind == HistKind::Periodic ? ".per" : ".evt");
}

namespace {

bool status(HistKind k, hist_par* p) {
  Ring r;
  Ring::State s;
  if (!p || !r.open(k, int(p->file), false) || !r.state(&s)) return false;
  u32 to = 0, tl = 0;
  if (!r.record_time(s.oldest, &to) || !r.record_time(s.latest, &tl)) return false;
  p->latest = s.latest;
  p->oldest = s.oldest;
  p->records = r.records();
  p->n = r.n;
  p->oldest_time = to;
  p->latest_time = tl;
  return true;
}

bool get_header(HistKind k, hist_par* p) {
  Ring r;
  if (!p || !r.open(k, int(p->file), false) || !r.read_labels(p)) return false;
  p->records = r.last - r.first;
  return true;
}

bool write_header(HistKind k, hist_par* p) {
  Ring r;
  if (!p || !r.open(k, int(p->file), true) || r.n != p->n) return false;
  std::vector<u8> b(size_t(r.n) * 49);
  std::memcpy(b.data(), p->format, r.n);
  std::memcpy(b.data() + r.n, p->names, size_t(r.n) * HIST_NAME_LEN);
  return ::pwrite(r.fd, b.data(), b.size(), hist::HEADER_FIXED) == ssize_t(b.size());
}

// The record goes to slot next before next moves on, so a write cut short
// costs at most this record.
bool append(HistKind k, int f, const u8* rec, std::atomic<i32>* marks, u8 email1, Ring& r) {
  if (!r.write_slot(r.next, rec, r.slot)) return false;
  if (email1) {
    i32 none = -1;
    marks[f].compare_exchange_strong(none, i32(r.next - r.first));
  }
  return r.write_next(r.succ(r.next));
}

}  // namespace

bool status_periodic(hist_par* p) { return status(HistKind::Periodic, p); }
bool status_event(hist_par* p) { return status(HistKind::Event, p); }
bool get_periodic_header(hist_par* p) { return get_header(HistKind::Periodic, p); }
bool get_event_header(hist_par* p) { return get_header(HistKind::Event, p); }
bool write_periodic_header(hist_par* p) { return write_header(HistKind::Periodic, p); }
bool write_event_header(hist_par* p) { return write_header(HistKind::Event, p); }

bool write_periodic(int f, const float* values, u32 count, u32 time) {
  Ring r;
  if (!r.open(HistKind::Periodic, f, true)) return false;
  u8 rec[4 * (HIST_MAX_N + 1)];
  hist::put32(rec, time);
  for (u32 i = 0; i < r.n; ++i) hist::put32(rec + 4 + 4 * i, i < count ? float_bits(values[i]) : OVERFLOW_BITS);
  return append(HistKind::Periodic, f, rec, per_mail_rec, per_email1[f], r);
}

bool write_event(int f, u32 time, float data, float status_value, u16 event) {
  Ring r;
  if (!r.open(HistKind::Event, f, true)) return false;
  u8 rec[hist::EVT_SLOT];
  hist::put32(rec, time);
  hist::put32(rec + 4, float_bits(data));
  hist::put32(rec + 8, float_bits(status_value));
  hist::put16(rec + 12, event);
  return append(HistKind::Event, f, rec, evt_mail_rec, evt_email1[f], r);
}

bool read_periodic(int f, float* values, u32* time, u32 record) {
  Ring r;
  if (!r.open(HistKind::Periodic, f, false) || record >= r.records()) return false;
  u8 rec[4 * (HIST_MAX_N + 1)];
  if (!r.read_slot(r.first + record, 0, rec, r.slot)) return false;
  *time = hist::get32(rec);
  for (u32 i = 0; i < r.n; ++i) values[i] = bits_float(hist::get32(rec + 4 + 4 * i));
  return true;
}

bool read_event(int f, u32 record, u32* time, float* data, float* status_value, u16* event) {
  Ring r;
  if (!r.open(HistKind::Event, f, false) || record >= r.records()) return false;
  u8 rec[hist::EVT_SLOT];
  if (!r.read_slot(r.first + record, 0, rec, sizeof rec)) return false;
  *time = hist::get32(rec);
  *data = bits_float(hist::get32(rec + 4));
  *status_value = bits_float(hist::get32(rec + 8));
  *event = hist::get16(rec + 12);
  return true;
}
