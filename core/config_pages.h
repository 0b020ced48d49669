// The configuration pages as row tables, one table per kind of page, shared
// by config.cpp (selection and dispatch) and the page files. Each page type
// carries what its rows need (the history file index) and reports its
// number of repeated groups.
#pragma once
#include "core/config.h"
#include "core/rows.h"

namespace gen_pages {

struct GeneralPage {  // page 0
  u16 group_count() const { return gen_num; }
};
struct SerialPage {  // page 1
  u16 group_count() const;
};
struct NetworkPage {  // page 2
  u16 group_count() const { return con_num; }
};
struct PeriodicPage {  // pages 3..6
  int f;
  u16 group_count() const { return per_bins[f]; }
};
struct EventPage {  // pages 7..10
  int f;
  u16 group_count() const { return evt_events[f]; }
};

const RowTable<GeneralPage>& general_rows();
const RowTable<SerialPage>& serial_rows();
const RowTable<NetworkPage>& network_rows();
const RowTable<PeriodicPage>& periodic_rows();
const RowTable<EventPage>& event_rows();

// Rebuild the repeated groups with n entries (n already clamped): entries
// below min(old, n) are kept, the others are new.
void password_resize(u16 n);
void address_resize(u16 n);
void bins_resize(int f, u16 n);
void events_resize(int f, u16 n);

// The text a getter hands out: null for none.
inline const char* text_of(const ConfigText& t) { return t ? t->c_str() : nullptr; }
// An e-mail or phone selection: a position past the address list is none.
inline u8 address_position(u32 v) { return v > con_num ? 0 : u8(v); }
// Selection sets of the type-0 list, by 1-based position (0 none).
u32 selection_position(const hmi_format* set);
hmi_format* selection_at(u32 position);

}  // namespace gen_pages
