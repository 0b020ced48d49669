#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/registry.h"
#include "hmi/hmi_format.h"
#include "tests/support/fixture.h"
#include "tests/support/hook_guard.h"

namespace {

std::vector<std::string> calls;  // what the installed hooks were asked to do
u32 ports[4][4];                 // kind, baud, parity, address of the fake ports

class Config : public ProgramTest {
 protected:
  // The pages without the subsystems they act on; each test installs the
  // fakes it needs.
  void SetUp() override {
    ProgramTest::SetUp();
    config_hooks = ConfigHooks{};
    calls.clear();
  }
  HookGuard<ConfigHooks> hooks_{config_hooks};
  static bool set(u8 page, u16 g, u16 row, u16 type, u32 v) {
    gen_sel = page;
    Iparam p;
    p.set_uint(type, v);
    return gen::sparam(&p, g, row);
  }
  static bool set_text(u8 page, u16 g, u16 row, const char* t) {
    gen_sel = page;
    Iparam p;
    p.type = ptype::Text;
    p.text = t;
    return gen::sparam(&p, g, row);
  }
  static Iparam get(u8 page, u16 g, u16 row) {
    gen_sel = page;
    Iparam p;
    p.type = 0xFFFF;
    EXPECT_TRUE(gen::gparam(&p, g, row)) << "page " << int(page) << " group " << g << " row " << row;
    return p;
  }
  static u32 value(u8 page, u16 g, u16 row) { return get(page, g, row).value; }
  static const char* text(u8 page, u16 g, u16 row) { return get(page, g, row).text; }
  static Ilparam shape(u8 page) {
    gen_sel = page;
    Ilparam s;
    gen::lparam(&s);
    return s;
  }
};

// Each page's descriptor names as many rows as the page has.
TEST_F(Config, ShapesMatchDescriptors) {
  const u16 fixed[GEN_PAGES] = {9, 1, 19, 7, 7, 7, 7, 5, 5, 5, 5};
  const u16 group[GEN_PAGES] = {4, 4, 1, 3, 3, 3, 3, 2, 2, 2, 2};
  for (u8 s = 0; s < GEN_PAGES; ++s) {
    gen_sel = s;
    std::string d = gen::dparam();
    Ilparam sh = shape(s);
    EXPECT_EQ(std::count(d.begin(), d.end(), '}') + 1, fixed[s] + group[s]) << int(s);
    EXPECT_EQ(sh.rows, fixed[s]) << int(s);
    EXPECT_EQ(sh.group_rows, group[s]) << int(s);
    EXPECT_EQ(sh.groups, s == 1 ? 0 : 2) << int(s);  // no serial ports without I/O
  }
  gen_sel = 11;  // past the pages: nothing there
  Ilparam none = shape(11);
  EXPECT_EQ(none.rows + none.group_rows + none.groups, 0);
  Iparam p;
  EXPECT_FALSE(gen::gparam(&p, 0, 0));
  EXPECT_FALSE(set(11, 0, 0, ptype::Dec, 1));
  EXPECT_EQ(gen_resize(5), 0u);
}

TEST_F(Config, DefaultsAfterNewProgram) {
  EXPECT_EQ(gen_sel, 10);
  for (auto [page, g, row, v] : {std::tuple{0, 0, 1, 1000u}, {0, 0, 8, 4u}, {0, 1, 1, 0u}, {0, 1, 2, 255u},
                                 {1, 0, 0, 10u}, {2, 0, 3, 80u}, {2, 0, 13, 502u}})
    EXPECT_EQ(value(u8(page), u16(g), u16(row)), v) << page << ' ' << g << ' ' << row;
  EXPECT_EQ(text(0, 0, 0), nullptr);  // absent owned texts are null
  EXPECT_STREQ(text(0, 1, 0), "");    // entry texts are there even when empty
  EXPECT_EQ(text(2, 2, 0), nullptr);
  EXPECT_STREQ(text(5, 2, 0), "");

  // A new program forgets what the previous one configured.
  set_text(2, 0, 1, "10.0.0.1");
  set(3, 0, 3, ptype::Dec, 500);
  gen_sel = 4;
  gen_resize(50);
  program_new(false);
  EXPECT_EQ(text(2, 0, 1), nullptr);
  EXPECT_EQ(value(3, 0, 3), 0u);
  EXPECT_EQ(shape(4).groups, 2);
}

TEST_F(Config, ResizeClampsAndKeepsEntries) {
  // Each list: its count, an entry's text, and two resizes clamped to 2 and
  // the list's most.
  using List = std::tuple<u8, u16*, u16, const char*, u32, u32, u16>;  // page, count, g, text, small, big, most
  ASSERT_TRUE(set(3, 2, 2, ptype::Dec, 7));
  for (auto [page, count, g, t, small, big, most] :
       {List{0, &gen_num, 2, "second", 1, 500, 128}, List{2, &con_num, 1, "a@b.c", 0, 99, 20},
        List{3, &per_bins[0], 2, "flow", 1, 5000, 1024}, List{10, &evt_events[3], 1, "trip", 1, 2000, 1024}}) {
    ASSERT_TRUE(set_text(page, g, 0, t));
    gen_sel = page;
    gen_resize(small);
    EXPECT_EQ(*count, 2) << int(page);
    gen_resize(big);
    EXPECT_EQ(*count, most) << int(page);
    EXPECT_STREQ(text(page, g, 0), t);
  }
  EXPECT_EQ(value(0, 128, 1), 255u);  // new entries grant nothing
  EXPECT_EQ(text(2, 20, 0), nullptr);
  EXPECT_EQ(value(3, 2, 2), 7u);
  EXPECT_EQ(per_bins[1], 2);  // the other files are untouched
  gen_sel = 0;
  EXPECT_EQ(gen_resize(1), 0xFFFFFFFFu);
  gen_sel = 1;
  EXPECT_EQ(gen_resize(7), 0xFFFFFFFFu);  // the ports are fixed
}

// Row rules, one step a line in order: set a value (unless READ) and read
// the cell back. ok: 1 accepted, 0 refused, -1 either.
constexpr u16 READ = 0xFFFF;
struct Step {
  u8 page;
  u16 g, row, type;
  u32 v;
  int ok;
  u32 want;
};
const Step kSteps[] = {
    // The first entry always spans every level.
    {0, 1, 1, ptype::Dec, 200, 1, 0}, {0, 1, 2, ptype::Dec, 3, 1, 255},
    // Low above High raises High; High below Low lowers Low; 1..254.
    {0, 2, 2, ptype::Dec, 100, -1, 100}, {0, 2, 1, ptype::Dec, 200, -1, 200}, {0, 2, 2, READ, 0, -1, 200},
    {0, 2, 2, ptype::Dec, 50, -1, 50}, {0, 2, 1, READ, 0, -1, 50}, {0, 2, 1, ptype::Dec, 0, -1, 1},
    {0, 2, 1, ptype::Dec, 300, -1, 254}, {0, 2, 2, READ, 0, -1, 254},
    {0, 2, 1, ptype::Dec, 255, -1, 255},  // an entry that grants nothing stays so
    {0, 2, 2, READ, 0, -1, 255}, {0, 2, 3, ptype::Key, 0xDEADBEEF, 1, 0xDEADBEEF},
    {0, 0, 5, ptype::Select, 2, 0, 0},  // nothing can restart the controller
    {0, 0, 8, ptype::Select, 9, 1, 9},  // choices stored as given
    // Network page.
    {2, 0, 0, ptype::Select, 7, 1, 0}, {2, 0, 3, ptype::Dec, 0x10050, -1, 0x50},
    {2, 0, 17, ptype::Dec, 3, -1, 0},  // past the two addresses
    {2, 0, 8, ptype::Dec, 258, -1, 0},  // not taken modulo 256
    {2, 0, 12, ptype::Select, 5, -1, 1},  // any non-zero enables
    // History files.
    {3, 0, 1, ptype::Time, 100000, -1, 86400}, {3, 0, 1, ptype::Time, 60, -1, 60}, {3, 0, 2, ptype::Time, 61, -1, 0},
    {3, 0, 3, ptype::Dec, 50, -1, 0}, {8, 0, 1, ptype::Dec, 99, -1, 0}, {6, 1, 2, ptype::Dec, 5000, -1, 32767},
    {6, 1, 2, ptype::Dec, 255, -1, 32767},
    {3, 1, 1, ptype::Dec, 9, 1, 7},  // type 3 accepted besides 5
    // Serial page: grid snap limited, a high half ignored.
    {1, 0, 0, ptype::Dec, 250, 1, 100}, {1, 0, 0, ptype::Dec, 0x10000 + 8, -1, 8},
    // Wrong types are refused and leave the value alone.
    {0, 0, 1, ptype::Float, 5, 0, 1000}, {0, 0, 5, ptype::Dec, 1, 0, 0}, {3, 0, 1, ptype::Dec, 10, 0, 60},
    {3, 0, 6, ptype::Dec, 1, 0, 0}, {3, 1, 2, ptype::Select, 1, 0, 0}, {2, 0, 1, ptype::Dec, 1, 0, 0},
};

// Texts, the same way: nullptr sent is no text; want nullptr reads as none.
struct TextStep {
  u8 page;
  u16 g, row;
  std::optional<std::string> text;
  bool ok;
  std::optional<std::string> want;
};
const std::vector<TextStep> kTexts = {
    {0, 2, 0, std::string(20, 'p'), true, std::string(20, 'p')},  // passwords
    {0, 2, 0, std::string(21, 'p'), false, std::string(20, 'p')},
    {0, 2, 0, std::nullopt, false, std::string(20, 'p')}, {0, 0, 0, std::nullopt, false, std::nullopt},
    {0, 0, 0, "http://help", true, "http://help"},
    {0, 0, 6, "", true, std::nullopt},
    {2, 0, 1, "1.2.3.4", true, "1.2.3.4"},  // addresses: too short or long is none
    {2, 0, 1, "1.2.34", true, std::nullopt}, {2, 0, 5, "255.255.255.255", true, "255.255.255.255"},
    {2, 0, 5, "255.255.255.2550", true, std::nullopt}, {2, 0, 9, std::nullopt, false, std::nullopt},
    {2, 0, 9, "user", true, "user"}, {2, 0, 9, "", true, std::nullopt},
    {2, 1, 0, "x@y.z", true, "x@y.z"},  // an address entry is emptied even by a refused text
    {2, 1, 0, std::string(256, 'a'), false, std::nullopt},
    {2, 1, 0, std::string(255, 'a'), true, std::string(255, 'a')}, {2, 1, 0, std::nullopt, true, std::nullopt},
    {3, 1, 0, std::nullopt, false, ""}, {3, 1, 0, std::string(50, 'b'), true, std::string(45, 'b')},
    {7, 1, 0, std::string(50, 'e'), true, std::string(47, 'e')},
};

TEST_F(Config, RowRules) {
  for (const Step& s : kSteps) {
    std::string at = std::to_string(s.page) + ' ' + std::to_string(s.g) + ' ' + std::to_string(s.row);
    if (s.type != READ) {
      bool ok = set(s.page, s.g, s.row, s.type, s.v);
      if (s.ok >= 0) {
        EXPECT_EQ(ok, bool(s.ok)) << at << " = " << s.v;
      }
    }
    EXPECT_EQ(value(s.page, s.g, s.row), s.want) << at << " = " << s.v;
  }
  EXPECT_EQ(per_ptr[3][0].status, 255);
  for (const TextStep& t : kTexts) {
    std::string at = std::to_string(t.page) + ' ' + std::to_string(t.g) + ' ' + std::to_string(t.row);
    EXPECT_EQ(set_text(t.page, t.g, t.row, t.text ? t.text->c_str() : nullptr), t.ok) << at;
    const char* got = text(t.page, t.g, t.row);
    EXPECT_EQ(got ? std::optional<std::string>(got) : std::nullopt, t.want) << at;
  }
  // Past the last row or group of every page: nothing.
  Iparam p;
  for (u8 s = 0; s < GEN_PAGES; ++s) {
    Ilparam sh = shape(s);
    gen_sel = s;
    EXPECT_FALSE(gen::gparam(&p, 0, sh.rows)) << int(s);
    EXPECT_FALSE(gen::gparam(&p, sh.groups + 1, 0)) << int(s);
    if (sh.groups) {
      EXPECT_FALSE(gen::gparam(&p, 1, sh.group_rows)) << int(s);
    }
    EXPECT_FALSE(set(s, sh.groups + 1, 0, ptype::Text, 0)) << int(s);
  }
}

TEST_F(Config, Watchdog) {
  config_hooks.watchdog_enable = [](bool reset) { calls.push_back(reset ? "reset" : "enable"); };
  config_hooks.watchdog_disable = [] { calls.push_back("disable"); };
  EXPECT_TRUE(set(0, 0, 5, ptype::Select, 1));
  EXPECT_EQ(gen_watchdog.load(), 1);
  EXPECT_TRUE(set(0, 0, 5, ptype::Select, 2));
  EXPECT_EQ(value(0, 0, 5), 1u);  // unchanged by a reset
  EXPECT_TRUE(set(0, 0, 5, ptype::Select, 9));
  EXPECT_TRUE(set(0, 0, 5, ptype::Select, 0));
  EXPECT_EQ(gen_watchdog.load(), 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"enable", "reset", "disable"}));
}

TEST_F(Config, LoopPeriodTakesEffectAtOnce) {
  run_for_us(100000, 10000);
  loop_time[1] = 900000;
  ASSERT_TRUE(set(0, 0, 2, ptype::Dec, 250));
  EXPECT_EQ(gen_loop_int[1].load(), 250u);
  EXPECT_EQ(loop_time[1].load(), 0u);
  run_for_us(10000, 10000);  // due at the next tick
  EXPECT_EQ(run_status[1].load(), 1);

  // Set in the second half of a second: due at the start of the next one.
  run_for_us(500000, 10000);
  ASSERT_TRUE(set(0, 0, 2, ptype::Dec, 250));
  run_status[1] = 0;
  run_for_us(300000, 10000);
  EXPECT_EQ(run_status[1].load(), 0);
  run_for_us(110000, 10000);
  EXPECT_EQ(run_status[1].load(), 1);

  ASSERT_TRUE(set(0, 0, 2, ptype::Dec, 0));
  run_status[1] = 0;
  run_for_us(2000000, 10000);
  EXPECT_EQ(run_status[1].load(), 0);
}

TEST_F(Config, SlaveListenersActOnChangesOnly) {
  config_hooks.slave_port_listen = [](u16 port, u8 kind, bool on) {
    calls.push_back(std::to_string(kind) + ":" + std::to_string(port) + (on ? " on" : " off"));
  };
  // Rows 12/13: slave enable and port; 14/15: the other slave's. Any
  // non-zero enables; while disabled a port change closes.
  for (auto [row, type, v] : {std::tuple<u16, u16, u32>{12, ptype::Select, 5}, {12, ptype::Select, 1},
                              {13, ptype::Dec, 502}, {13, ptype::Dec, 1502}, {12, ptype::Select, 0},
                              {12, ptype::Select, 0}, {15, ptype::Dec, 0x10000 + 7000}, {14, ptype::Select, 1}})
    set(2, 0, row, type, v);
  EXPECT_EQ(calls, (std::vector<std::string>{"2:502 on", "2:1502 on", "2:1502 off", "5:7000 off", "5:7000 on"}));
}

TEST_F(Config, ShrinkingAddressListDropsReferences) {
  gen_sel = 2;
  gen_resize(5);
  // Rows that name an address entry: value set, value after shrinking to 2.
  // Alarm phones (2,0,17) are limited only when set.
  const std::tuple<u8, u16, u32, u32> refs[] = {{2, 7, 3, 0}, {2, 8, 2, 2}, {2, 17, 5, 5}, {4, 4, 4, 0},
                                                 {4, 5, 1, 1}, {9, 2, 3, 0}, {9, 3, 5, 0}};
  for (auto [page, row, v, after] : refs) set(page, 0, row, ptype::Dec, v);
  set_text(2, 2, 0, "kept");
  set_text(2, 4, 0, "dropped");
  gen_sel = 2;
  gen_resize(2);
  for (auto [page, row, v, after] : refs) EXPECT_EQ(value(page, 0, row), after) << int(page) << ' ' << row;
  EXPECT_STREQ(text(2, 2, 0), "kept");
  gen_sel = 2;
  gen_resize(5);
  EXPECT_EQ(text(2, 4, 0), nullptr);
}

TEST_F(Config, CreateFileAndSelectionSets) {
  EXPECT_FALSE(set(5, 0, 0, ptype::Select, 1));  // no history subsystem
  EXPECT_TRUE(set(5, 0, 0, ptype::Select, 2));
  config_hooks.create_periodic = [](int f) {
    calls.push_back("per " + std::to_string(f));
    return true;
  };
  config_hooks.create_event = [](int f) {
    calls.push_back("evt " + std::to_string(f));
    return f != 1;
  };
  EXPECT_TRUE(set(5, 0, 0, ptype::Select, 1));
  EXPECT_TRUE(set(7, 0, 0, ptype::Select, 1));
  EXPECT_FALSE(set(8, 0, 0, ptype::Select, 1));
  EXPECT_EQ(calls, (std::vector<std::string>{"per 2", "evt 0", "evt 1"}));
  EXPECT_EQ(value(5, 0, 0), 0u);

  hmi_format a, b, c;
  a.next = &b;
  b.next = &c;
  hmi_format* saved = inst_def_use[0].selection_sets;
  inst_def_use[0].selection_sets = &a;
  EXPECT_TRUE(set(4, 0, 6, ptype::SelSet, 3));
  EXPECT_EQ(per_vformat[1], &c);
  EXPECT_EQ(value(4, 0, 6), 3u);
  EXPECT_TRUE(set(10, 0, 4, ptype::SelSet, 2));
  EXPECT_EQ(value(10, 0, 4), 2u);
  set(4, 0, 6, ptype::SelSet, 4);  // past the end
  EXPECT_EQ(per_vformat[1], nullptr);
  EXPECT_EQ(value(4, 0, 6), 0u);
  a.next = nullptr;  // a set no longer listed reads as none
  EXPECT_EQ(value(10, 0, 4), 0u);
  inst_def_use[0].selection_sets = saved;
}

TEST_F(Config, SerialPortsThroughTheirDefinitions) {
  EXPECT_FALSE(set(1, 1, 0, ptype::Select, 1));  // no ports without I/O
  for (auto& port : ports) port[0] = port[1] = port[2] = port[3] = 0;
  config_hooks.serial_get = [](int p, SerialField f, u32* v) {
    *v = ports[p][int(f)];
    return true;
  };
  config_hooks.serial_set = [](int p, SerialField f, u32 v) {
    ports[p][int(f)] = v;
    return true;
  };
  config_hooks.serial_clear_receive = [](int p) { calls.push_back("clear " + std::to_string(p)); };
  config_hooks.serial_reopen = [](int p) { calls.push_back("reopen " + std::to_string(p)); };
  EXPECT_EQ(shape(1).groups, 4);
  EXPECT_TRUE(set(1, 4, 0, ptype::Select, 9));  // stored without a range check
  EXPECT_TRUE(set(1, 2, 1, ptype::Dec, 19200));
  EXPECT_TRUE(set(1, 2, 2, ptype::Select, 2));
  EXPECT_TRUE(set(1, 1, 3, ptype::Dec, 17));
  EXPECT_FALSE(set(1, 5, 0, ptype::Select, 1));
  EXPECT_EQ(value(1, 4, 0), 9u);
  EXPECT_EQ(value(1, 2, 1), 19200u);
  EXPECT_EQ(ports[0][3], 17u);
  EXPECT_EQ(calls, (std::vector<std::string>{"clear 3", "reopen 3", "reopen 1", "reopen 1"}));
}

}  // namespace
