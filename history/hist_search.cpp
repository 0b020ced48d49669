// Searches by time. Records are found by their position counted from the
// oldest (0) to the latest (span - 1); times grow along the ring, so a
// binary search over the positions needs about log2(records) reads.
#include "core/config.h"
#include "history/hist_format.h"

using hist::Ring;

namespace {

// The first position in [lo, hi) whose time is above the target (strictly,
// or at least equal when `or_equal`); hi when none is.
bool bound(const Ring& r, const Ring::State& s, u32 target, bool or_equal, u32 lo, u32 hi, u32* out) {
  while (lo < hi) {
    u32 mid = lo + (hi - lo) / 2;
    u32 t;
    if (!r.record_time(r.nth(s, mid), &t)) return false;
    if (t > target || (or_equal && t == target))
      hi = mid;
    else
      lo = mid + 1;
  }
  *out = lo;
  return true;
}

}  // namespace

// The record whose time equals the target; else the earliest later one; the
// latest when the target is at or after it, the oldest when it is before.
// Fails for a file without records.
bool date_periodic(int f, u32 target, u32* record) {
  Ring r;
  Ring::State s;
  if (!r.open(HistKind::Periodic, f, false) || !r.state(&s) || s.span == 0) return false;
  u32 t;
  if (!r.record_time(s.latest, &t)) return false;
  if (t <= target) {
    *record = s.latest;
    return true;
  }
  // With records a whole interval apart the record is usually where the
  // interval puts it.
  u32 interval = per_interval[f];
  if (interval != 0) {
    u32 k = (t - target) / interval;
    if (k < s.span) {
      u32 guess = r.nth(s, s.span - 1 - k), tg;
      if (!r.record_time(guess, &tg)) return false;
      if (tg == target) {
        *record = guess;
        return true;
      }
    }
  }
  u32 i;
  if (!bound(r, s, target, true, 0, s.span - 1, &i)) return false;
  *record = r.nth(s, i);
  return true;
}

// Direction 0: the oldest record with the target time, else the latest one
// before it (the oldest when none is). Any other direction: the newest
// record with the target time, else the earliest one after it. Fails for a
// file without records or a target after the latest record.
bool date_event(int f, u32 target, u32* record, int direction) {
  Ring r;
  Ring::State s;
  if (!r.open(HistKind::Event, f, false) || !r.state(&s) || s.span == 0) return false;
  u32 t;
  if (!r.record_time(s.latest, &t) || target > t) return false;
  u32 i;
  if (direction == 0) {
    if (!bound(r, s, target, true, 0, s.span, &i)) return false;
    u32 ti = 0;
    if (i < s.span && !r.record_time(r.nth(s, i), &ti)) return false;
    if (!(i < s.span && ti == target) && i > 0) --i;
  } else {
    if (!bound(r, s, target, false, 0, s.span, &i)) return false;
    u32 tp = 0;
    if (i > 0 && !r.record_time(r.nth(s, i - 1), &tp)) return false;
    if (i > 0 && tp == target) --i;
  }
  *record = r.nth(s, i);
  return true;
}
