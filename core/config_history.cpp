// Pages 3..6 "Periodic File 1..4" and 7..10 "Event File 1..4": geometry,
// mail selections, selection set and the labels of each history file.
#include <algorithm>
#include <cstring>

#include "core/config_pages.h"

namespace gen_pages {
namespace {

constexpr size_t kBinNameMax = 45;
constexpr size_t kEventNameMax = 47;
constexpr u32 kIntervalMax = 86400;  // one record a day at the least
constexpr u32 kRecordsMin = 100;
constexpr u16 kStatusNone = 32767;

// Shared by both kinds of file page: T is the page type, Array the global
// indexed by the page's file.
template <class T, auto& Array>
Row<T> position_row(const char* label) {
  return rows::custom<T>(
      label, ptype::Dec, [](T& o, u16, Iparam& p, const Row<T>&) { p.value = Array[o.f]; },
      [](T& o, u16, const Iparam& p, const Row<T>&) {
        Array[o.f] = address_position(p.value);
        return true;
      });
}

template <class T, auto& Array>
Row<T> records_row(const char* label) {
  return rows::custom<T>(
      label, ptype::Dec, [](T& o, u16, Iparam& p, const Row<T>&) { p.value = Array[o.f]; },
      [](T& o, u16, const Iparam& p, const Row<T>&) {
        Array[o.f] = p.value < kRecordsMin ? 0 : p.value;
        return true;
      });
}

template <class T, auto& Array>
Row<T> selection_row(const char* label) {
  return rows::custom<T>(
      label, ptype::SelSet,
      [](T& o, u16, Iparam& p, const Row<T>&) { p.value = selection_position(Array[o.f]); },
      [](T& o, u16, const Iparam& p, const Row<T>&) {
        Array[o.f] = selection_at(p.value);
        return true;
      });
}

// "Create" builds the file from the present settings; refused when that
// fails or no history subsystem is there to do it.
template <class T, bool (*ConfigHooks::*Create)(int)>
Row<T> create_row(const char* label) {
  return rows::custom<T>(
      label, ptype::Select, [](T&, u16, Iparam& p, const Row<T>&) { p.value = 0; },
      [](T& o, u16, const Iparam& p, const Row<T>&) {
        if (p.value != 1) return true;
        auto fn = config_hooks.*Create;
        return fn != nullptr && fn(o.f);
      });
}

// A label inside an entry: null refused, a longer text cut.
template <class T, auto& Lists, size_t Max>
Row<T> name_row(const char* label) {
  return rows::custom<T>(
      label, ptype::Text,
      [](T& o, u16 g, Iparam& p, const Row<T>&) { p.text = Lists[o.f][g - 1].name.c_str(); },
      [](T& o, u16 g, const Iparam& p, const Row<T>&) {
        if (!p.text) return false;
        Lists[o.f][g - 1].name.assign(p.text, strnlen(p.text, Max));
        return true;
      });
}

template <class T, auto& Lists>
Row<T> format_row(const char* label) {
  return rows::custom<T>(
      label, ptype::Select,
      [](T& o, u16 g, Iparam& p, const Row<T>&) { p.value = Lists[o.f][g - 1].format; },
      [](T& o, u16 g, const Iparam& p, const Row<T>&) {
        Lists[o.f][g - 1].format = u8(std::min<u32>(p.value, 7));
        return true;
      },
      ptype::Dec);
}

using PP = PeriodicPage;
using PR = Row<PP>;

const RowTable<PP>& make_periodic_table() {
  static const RowTable<PP> table{
      {
          create_row<PP, &ConfigHooks::create_periodic>("Create file~No operation~Create"),
          rows::custom<PP>(
              "Record interval", ptype::Time, [](PP& o, u16, Iparam& p, const PR&) { p.value = per_interval[o.f]; },
              [](PP& o, u16, const Iparam& p, const PR&) {
                per_interval[o.f] = std::min(p.value, kIntervalMax);
                return true;
              }),
          rows::custom<PP>(
              "Record offset", ptype::Time, [](PP& o, u16, Iparam& p, const PR&) { p.value = per_offset[o.f]; },
              [](PP& o, u16, const Iparam& p, const PR&) {
                per_offset[o.f] = p.value > per_interval[o.f] ? 0 : p.value;
                return true;
              }),
          records_row<PP, per_records>("Records"),
          position_row<PP, per_email1>("Email 1"),
          position_row<PP, per_email2>("Email 2"),
          selection_row<PP, per_vformat>("Selection set"),
      },
      {
          name_row<PP, per_ptr, kBinNameMax>("Bin name"),
          format_row<PP, per_ptr>("Dec pt or Digital~0~1~2~3~4~5~Digital 1~Digital 2"),
          // A status bin past the last bin means none; a stored 255 reads
          // as none too.
          rows::custom<PP>(
              "Status bin", ptype::Dec,
              [](PP& o, u16 g, Iparam& p, const PR&) {
                u16 s = per_ptr[o.f][g - 1].status;
                p.value = s == 255 ? kStatusNone : s;
              },
              [](PP& o, u16 g, const Iparam& p, const PR&) {
                per_ptr[o.f][g - 1].status = p.value > 1024 ? kStatusNone : u16(p.value);
                return true;
              }),
      }};
  return table;
}

using EP = EventPage;

const RowTable<EP>& make_event_table() {
  static const RowTable<EP> table{
      {
          create_row<EP, &ConfigHooks::create_event>("Create file~No operation~Create"),
          records_row<EP, evt_records>("Records"),
          position_row<EP, evt_email1>("Email 1"),
          position_row<EP, evt_email2>("Email 2"),
          selection_row<EP, evt_vformat>("Selection set"),
      },
      {
          name_row<EP, evt_ptr, kEventNameMax>("Event name"),
          format_row<EP, evt_ptr>("Decimal point~0~1~2~3~4~5~Digital 1~Digital 2"),
      }};
  return table;
}

}  // namespace

const RowTable<PeriodicPage>& periodic_rows() { return make_periodic_table(); }
const RowTable<EventPage>& event_rows() { return make_event_table(); }

void bins_resize(int f, u16 n) {
  per_ptr[f].resize(n);  // kept below min(old, n); new bins empty
  per_bins[f] = n;
}

void events_resize(int f, u16 n) {
  evt_ptr[f].resize(n);
  evt_events[f] = n;
}

}  // namespace gen_pages
