// Page 0 "General/Password": help URL, loop periods, watchdog, site title,
// date format and the password entries.
#include <algorithm>
#include <cstring>

#include "core/config_pages.h"

namespace gen_pages {
namespace {

using P = GeneralPage;
using R = Row<P>;

constexpr size_t kPasswordMax = 20;

// Loop L's period: stored as given; the loop becomes due at the next check
// so the new period applies at once.
template <int L>
R loop_row(const char* label) {
  return rows::custom<P>(
      label, ptype::Dec, [](P&, u16, Iparam& p, const R&) { p.value = gen_loop_int[L].load(); },
      [](P&, u16, const Iparam& p, const R&) {
        gen_loop_int[L].store(p.value);
        loop_time[L].store(0);
        return true;
      });
}

gen_password_entry& entry(u16 g) { return gen_password[g - 1]; }

const RowTable<P>& make_table() {
  static const RowTable<P> table{
    {
        rows::custom<P>(
            "URL for help", ptype::Text, [](P&, u16, Iparam& p, const R&) { p.text = text_of(gen_help); },
            [](P&, u16, const Iparam& p, const R&) {
              if (!p.text) return false;
              gen_help.emplace(p.text);
              return true;
            }),
        loop_row<0>("Loop 1 time mS"),
        loop_row<1>("Loop 2 time mS"),
        loop_row<2>("Loop 3 time mS"),
        loop_row<3>("Loop 4 time mS"),
        rows::custom<P>(
            "Watchdog~Disabled~Enabled~Reset system", ptype::Select,
            [](P&, u16, Iparam& p, const R&) { p.value = gen_watchdog.load(); },
            [](P&, u16, const Iparam& p, const R&) {
              switch (p.value) {
                case 0:
                  if (config_hooks.watchdog_disable) config_hooks.watchdog_disable();
                  gen_watchdog = 0;
                  break;
                case 1:
                  gen_watchdog = 1;
                  if (config_hooks.watchdog_enable) config_hooks.watchdog_enable(false);
                  break;
                case 2:  // restarts the controller: refused when nothing can do it
                  if (!config_hooks.watchdog_enable) return false;
                  config_hooks.watchdog_enable(true);
                  break;
                default:
                  break;
              }
              return true;
            }),
        rows::custom<P>(
            "Site title", ptype::Text, [](P&, u16, Iparam& p, const R&) { p.text = text_of(gen_site_name); },
            [](P&, u16, const Iparam& p, const R&) {
              gen_site_name.reset();
              if (p.text && *p.text) gen_site_name.emplace(p.text);
              return true;
            }),
        rows::custom<P>(
            "Date format~M-D-Y~Y-M-D~D-M-Y", ptype::Select,
            [](P&, u16, Iparam& p, const R&) { p.value = gen_date; },
            [](P&, u16, const Iparam& p, const R&) {
              gen_date = u8(p.value);
              return true;
            }),
        rows::custom<P>(
            "Watchdog type~None~Advantec~ICP~Axiom~Elan520~TS7200", ptype::Select,
            [](P&, u16, Iparam& p, const R&) { p.value = gen_watchdog_type.load(); },
            [](P&, u16, const Iparam& p, const R&) {
              const u8 type = u8(p.value);
              if (config_hooks.watchdog_type)
                config_hooks.watchdog_type(type);
              else
                gen_watchdog_type = type;
              return true;
            }),
    },
    {
        rows::custom<P>(
            "Password", ptype::Text, [](P&, u16 g, Iparam& p, const R&) { p.text = entry(g).password.c_str(); },
            [](P&, u16 g, const Iparam& p, const R&) {
              if (!p.text || std::strlen(p.text) > kPasswordMax) return false;
              entry(g).password = p.text;
              return true;
            }),
        // The first entry always spans every level, so a login is always possible.
        rows::custom<P>(
            "Low", ptype::Dec, [](P&, u16 g, Iparam& p, const R&) { p.value = entry(g).low; },
            [](P&, u16 g, const Iparam& p, const R&) {
              auto& e = entry(g);
              // 255 is kept: an unused entry grants nothing, and must still
              // grant nothing after the program file has been read back.
              u32 v = p.value == 255 ? 255 : std::clamp<u32>(p.value, 1, 254);
              e.low = g == 1 ? 0 : u8(v);
              if (e.high < e.low) e.high = e.low;
              return true;
            }),
        rows::custom<P>(
            "High", ptype::Dec, [](P&, u16 g, Iparam& p, const R&) { p.value = entry(g).high; },
            [](P&, u16 g, const Iparam& p, const R&) {
              auto& e = entry(g);
              e.high = g == 1 ? 255 : u8(std::min<u32>(p.value, 255));
              if (e.high < e.low) e.low = e.high;
              return true;
            }),
        rows::custom<P>(
            "Encryption key", ptype::Key, [](P&, u16 g, Iparam& p, const R&) { p.value = entry(g).key; },
            [](P&, u16 g, const Iparam& p, const R&) {
              entry(g).key = p.value;
              return true;
            }),
    }};
  return table;
}

}  // namespace

const RowTable<GeneralPage>& general_rows() { return make_table(); }

void password_resize(u16 n) {
  std::vector<gen_password_entry> next(n);
  size_t keep = std::min<size_t>(gen_password.size(), n);
  for (size_t i = 0; i < keep; ++i) next[i] = std::move(gen_password[i]);
  for (size_t i = keep; i < n; ++i) next[i] = gen_password_entry{};
  if (keep == 0) next[0].low = 0;  // the first entry grants every level
  gen_password = std::move(next);
  gen_num = n;
}

}  // namespace gen_pages
