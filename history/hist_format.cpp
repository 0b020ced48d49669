#include "history/hist_format.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <vector>

namespace hist {

void empty_record(HistKind k, u32 n, u8* buf) {
  if (k == HistKind::Periodic) {
    put32(buf, 0);
    for (u32 i = 0; i < n; ++i) put32(buf + 4 + 4 * i, OVERFLOW_BITS);
  } else {
    put32(buf, 0);
    put32(buf + 4, 0);
    put32(buf + 8, EVT_EMPTY_STATUS);
    put16(buf + 12, EVT_EMPTY_EVENT);
  }
}

Ring::~Ring() { close(); }

void Ring::close() {
  if (head) ::munmap(head, HEADER_FIXED);
  head = nullptr;
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool Ring::open(HistKind k, int f, bool write) {
  close();
  if (f < 0 || f >= HIST_FILES) return false;
  kind = k;
  fd = ::open(hist_file_name(k, f).c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  return fd >= 0 && reload();
}

bool Ring::reload() {
  u8 h[HEADER_FIXED];
  if (::pread(fd, h, sizeof h, 0) != ssize_t(sizeof h)) return false;
  next = get32(h);
  first = get32(h + 4);
  last = get32(h + 8);
  n = get32(h + 12);
  if (n == 0 || n > HIST_MAX_N) return false;
  slot = slot_size(kind, n);
  if (first != first_slot(kind, n) || last < first || next < first || next > last) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size < off_t(last) * slot + slot) return false;
  return true;
}

void Ring::map_header() {
  if (fd < 0 || head) return;
  void* m = ::mmap(nullptr, HEADER_FIXED, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  head = m == MAP_FAILED ? nullptr : static_cast<u8*>(m);
}

bool Ring::read_slot(u32 s, u32 at, void* buf, u32 len) const {
  return ::pread(fd, buf, len, offset(s) + at) == ssize_t(len);
}

bool Ring::write_slot(u32 s, const void* buf, u32 len) const {
  return ::pwrite(fd, buf, len, offset(s)) == ssize_t(len);
}

bool Ring::slot_time(u32 s, u32* t) const {
  u8 b[4];
  if (!read_slot(s, 0, b, 4)) return false;
  *t = get32(b);
  return true;
}

bool Ring::write_next(u32 value) const {
  u8 b[4];
  put32(b, value);
  if (head) {
    // next is the first word of a page-aligned mapping: one aligned 32-bit
    // store of the little-endian bytes, so a reader never sees half of it.
    // The record's pwrite has returned, so the record is in the page cache
    // before next points past it.
    u32 word;
    std::memcpy(&word, b, 4);
    std::atomic_ref<u32>(*reinterpret_cast<u32*>(head)).store(word, std::memory_order_release);
    return true;
  }
  return ::pwrite(fd, b, 4, 0) == 4;
}

bool Ring::read_labels(hist_par* p) const {
  std::vector<u8> b(size_t(n) * 49);
  if (::pread(fd, b.data(), b.size(), HEADER_FIXED) != ssize_t(b.size())) return false;
  p->n = n;
  std::memcpy(p->format, b.data(), n);
  std::memcpy(p->names, b.data() + n, size_t(n) * HIST_NAME_LEN);
  return true;
}

// The ring has wrapped once the slot at next holds a record. A record being
// written at next before next moves on (a concurrent reader, or a write torn
// by a crash) would look like a wrap; the slot after it tells the two apart,
// since after a wrap that one holds a record too.
bool Ring::state(State* s) const {
  u32 tn = 0, ta = 0;
  if (!slot_time(next, &tn)) return false;
  if (tn != 0 && records() > 1 && !slot_time(succ(next), &ta)) return false;
  s->wrapped = tn != 0 && (records() == 1 || ta != 0);
  s->oldest = s->wrapped ? next - first : 0;
  s->latest = next == first ? records() - 1 : next - first - 1;
  s->span = s->wrapped ? records() : next - first;
  return true;
}

}  // namespace hist
