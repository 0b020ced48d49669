// The byte layout of a history file, shared by the writers, the readers,
// creation and the searches.
//
// Header at offset 0 (32-bit little-endian): next, first, last, n; then n
// format bytes and n 48-byte names. Slot i starts at i * S; the header
// occupies slots 0 .. first-1 and records fill first .. last.
//   periodic: S = 4 (n + 1), a record is time (u32) and n values (float);
//             empty: time 0, values 0x7F61B1E6.
//   event:    S = 14, a record is time (u32), data (float), status (float),
//             event number (u16); empty: 0, 0.0, 16777215.0, 0xFFFF.
#pragma once
#include <sys/types.h>

#include "history/history.h"

namespace hist {

inline constexpr u32 HEADER_FIXED = 16;
inline constexpr u32 EVT_SLOT = 14;
inline constexpr u32 EVT_EMPTY_STATUS = 0x4B7FFFFFu;  // 16777215.0
inline constexpr u16 EVT_EMPTY_EVENT = 0xFFFF;

inline void put32(u8* p, u32 v) {
  p[0] = u8(v);
  p[1] = u8(v >> 8);
  p[2] = u8(v >> 16);
  p[3] = u8(v >> 24);
}
inline u32 get32(const u8* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24; }
inline void put16(u8* p, u16 v) {
  p[0] = u8(v);
  p[1] = u8(v >> 8);
}
inline u16 get16(const u8* p) { return u16(p[0] | p[1] << 8); }

inline u32 slot_size(HistKind k, u32 n) { return k == HistKind::Periodic ? 4 * (n + 1) : EVT_SLOT; }
inline u32 header_bytes(u32 n) { return HEADER_FIXED + 49 * n; }
inline u32 first_slot(HistKind k, u32 n) {
  u32 s = slot_size(k, n);
  return (header_bytes(n) + s - 1) / s;
}

// Fills buf (slot_size bytes) with one empty record.
void empty_record(HistKind k, u32 n, u8* buf);

// One history file opened for a call: its descriptor and validated header.
class Ring {
 public:
  Ring() = default;
  ~Ring();
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;

  // Opens file f and reads the header. False when the index is bad, the file
  // is missing, or the header does not describe a file of this size: n
  // 1..1024, first where n puts it, first <= next <= last, and every slot
  // inside the file.
  bool open(HistKind k, int f, bool write);
  void close();
  // Reads and checks the header again (the file may have changed).
  bool reload();
  // Maps the header of a file opened for writing, so that write_next is a
  // store into the shared page cache instead of a second system call.
  // Without the mapping write_next writes with pwrite. close() unmaps.
  void map_header();

  HistKind kind = HistKind::Periodic;
  int fd = -1;
  u8* head = nullptr;  // the mapped header page, or null
  u32 next = 0, first = 0, last = 0, n = 0, slot = 0;

  u32 records() const { return last - first + 1; }
  off_t offset(u32 slot_index) const { return off_t(slot_index) * slot; }
  // The slot after s, wrapping from last to first.
  u32 succ(u32 s) const { return s >= last ? first : s + 1; }
  // Reads len bytes of slot s from byte `at` within it; writes a whole record.
  bool read_slot(u32 s, u32 at, void* buf, u32 len) const;
  bool write_slot(u32 s, const void* buf, u32 len) const;
  bool slot_time(u32 s, u32* t) const;
  // Publishes value as the header word next (after the record it covers).
  bool write_next(u32 value) const;
  // Reads the format bytes and names into p (n, format, names).
  bool read_labels(hist_par* p) const;

  // The ring: whether it has wrapped, the oldest and latest record numbers
  // and how many records hold data (0 for a file never written).
  struct State {
    bool wrapped = false;
    u32 oldest = 0, latest = 0, span = 0;
  };
  bool state(State* s) const;
  // Record number of the i-th valid record counted from the oldest.
  u32 nth(const State& s, u32 i) const { return (s.oldest + i) % records(); }
  bool record_time(u32 record, u32* t) const { return slot_time(first + record, t); }
};

}  // namespace hist
