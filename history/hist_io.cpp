// Reading and writing records and headers of existing history files.
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
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

// Writers keep each file open with its header mapped between records, so a
// record costs one positioned write and a store of next into the mapping
// (two positioned writes where the header cannot be mapped). The file is looked at again (same file on
// disk, header still valid) once a second and whenever hist_files_changed
// says something replaced files.
std::atomic<u32> files_generation{0};

double seconds_now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
  return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

struct OpenFile {
  std::mutex m;
  Ring ring;
  dev_t dev = 0;
  ino_t ino = 0;
  u32 generation = 0;
  double checked = -1e9;
};
OpenFile open_files[2][HIST_FILES];

class Writer {
 public:
  Writer(HistKind k, int f) {
    if (f < 0 || f >= HIST_FILES) return;
    file_ = &open_files[k == HistKind::Periodic ? 0 : 1][f];
    lock_ = std::unique_lock(file_->m);
    const u32 g = files_generation.load(std::memory_order_acquire);
    const double now = seconds_now();
    if (file_->ring.fd >= 0 && file_->generation == g && now - file_->checked < 1.0) {
      ring = &file_->ring;
      return;
    }
    struct stat disk {}, held {};
    const std::string name = hist_file_name(k, f);
    bool same = file_->ring.fd >= 0 && file_->generation == g && ::stat(name.c_str(), &disk) == 0 &&
                ::fstat(file_->ring.fd, &held) == 0 && disk.st_dev == held.st_dev && disk.st_ino == held.st_ino;
    if (same ? !file_->ring.reload() : !file_->ring.open(k, f, true)) {
      file_->ring.close();
      return;
    }
    file_->ring.map_header();  // kept while the same file stays valid
    file_->generation = g;
    file_->checked = now;
    ring = &file_->ring;
  }
  // A failed write closes the file: the next one opens it afresh.
  void fail() {
    if (file_) file_->ring.close();
  }
  Ring* ring = nullptr;

 private:
  OpenFile* file_ = nullptr;
  std::unique_lock<std::mutex> lock_;
};

// The record goes to slot next before next moves on, so a write cut short
// costs at most this record.
bool append(int f, const u8* rec, std::atomic<i32>* marks, u8 email1, Writer& w) {
  Ring& r = *w.ring;
  if (!r.write_slot(r.next, rec, r.slot)) {
    w.fail();
    return false;
  }
  const u32 written = r.next;
  const u32 after = r.succ(r.next);
  if (!r.write_next(after)) {
    w.fail();
    return false;
  }
  r.next = after;
  // The mail marker is published only after the record it marks, so the
  // mailer that finds the marker set also finds the record.
  if (email1) {
    i32 none = -1;
    marks[f].compare_exchange_strong(none, i32(written - r.first));
  }
  return true;
}

}  // namespace

void hist_files_changed() { files_generation.fetch_add(1, std::memory_order_release); }

bool status_periodic(hist_par* p) { return status(HistKind::Periodic, p); }
bool status_event(hist_par* p) { return status(HistKind::Event, p); }
bool get_periodic_header(hist_par* p) { return get_header(HistKind::Periodic, p); }
bool get_event_header(hist_par* p) { return get_header(HistKind::Event, p); }
bool write_periodic_header(hist_par* p) { return write_header(HistKind::Periodic, p); }
bool write_event_header(hist_par* p) { return write_header(HistKind::Event, p); }

bool write_periodic(int f, const float* values, u32 count, u32 time) {
  Writer w(HistKind::Periodic, f);
  if (!w.ring) return false;
  Ring& r = *w.ring;
  u8 rec[4 * (HIST_MAX_N + 1)];
  hist::put32(rec, time);
  for (u32 i = 0; i < r.n; ++i) hist::put32(rec + 4 + 4 * i, i < count ? float_bits(values[i]) : OVERFLOW_BITS);
  return append(f, rec, per_mail_rec, per_email1[f], w);
}

bool write_event(int f, u32 time, float data, float status_value, u16 event) {
  Writer w(HistKind::Event, f);
  if (!w.ring) return false;
  u8 rec[hist::EVT_SLOT];
  hist::put32(rec, time);
  hist::put32(rec + 4, float_bits(data));
  hist::put32(rec + 8, float_bits(status_value));
  hist::put16(rec + 12, event);
  return append(f, rec, evt_mail_rec, evt_email1[f], w);
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
