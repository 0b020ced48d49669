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

TEST_F(Config, DescriptorsShapesAndNames) {
  const char* desc[GEN_PAGES] = {
      "URL for help}Loop 1 time mS}Loop 2 time mS}Loop 3 time mS}Loop 4 time mS}Watchdog~Disabled~Enabled~Reset "
      "system}Site title}Date format~M-D-Y~Y-M-D~D-M-Y}Watchdog "
      "type~None~Advantec~ICP~Axiom~Elan520~TS7200}Password}Low}High}Encryption key",
      "HMI grid snap}Serial type~Off~Modbus master~Modbus slave~X10~Ascii master~Ascii slave}Serial baud "
      "rate}Serial parity~None~Even~Odd}Serial slave unit address",
      "Connection Type~Ethernet Only~Modem COM1~Direct COM1~Modem COM3~Direct COM3~Modem COM4~Direct COM4}IP "
      "(ex. 192.168.1.100)}Netmask (ex. 255.255.255.0)}Port number}Broadcast (ex. 192.168.1.255)}Gateway (ex. "
      "192.168.1.1)}Mail server IP}IP Email 1 (return address)}IP Email 2}Mail user name}Mail password}Mail "
      "server port (25 or 587)}Ethernet modbus slave enable~Disabled~Enabled}Ethernet modbus slave "
      "port}Ethernet Ascii slave enable~Disabled~Enabled}Ethernet Ascii slave port}Modem Alarm~Disabled~Land "
      "Line~Cell}Alarm phone 1}Alarm phone 2}Email Address/Phone #"};
  const char* per =
      "Create file~No operation~Create}Record interval}Record offset}Records}Email 1}Email 2}Selection set}Bin "
      "name}Dec pt or Digital~0~1~2~3~4~5~Digital 1~Digital 2}Status bin";
  const char* evt =
      "Create file~No operation~Create}Records}Email 1}Email 2}Selection set}Event name}Decimal "
      "point~0~1~2~3~4~5~Digital 1~Digital 2";
  const u16 fixed[GEN_PAGES] = {9, 1, 19, 7, 7, 7, 7, 5, 5, 5, 5};
  const u16 group[GEN_PAGES] = {4, 4, 1, 3, 3, 3, 3, 2, 2, 2, 2};
  for (u8 s = 0; s < GEN_PAGES; ++s) {
    gen_sel = s;
    EXPECT_STREQ(gen::dparam(), s < 3 ? desc[s] : s < 7 ? per : evt) << int(s);
    Ilparam sh = shape(s);
    EXPECT_EQ(sh.rows, fixed[s]) << int(s);
    EXPECT_EQ(sh.group_rows, group[s]) << int(s);
    EXPECT_EQ(sh.groups, s == 1 ? 0 : 2) << int(s);  // no serial ports without I/O
  }
  EXPECT_STREQ(gen_page_name[6], "Periodic File 4");
  EXPECT_STREQ(gen_page_name[7], "Event File 1");
  EXPECT_STREQ(gen_resize_prompt[1], "none|No change allowed");
  EXPECT_STREQ(gen_resize_prompt[10], "none|Enter number of events");

  gen_sel = 11;
  EXPECT_STREQ(gen::dparam(), " ");
  Ilparam none = shape(11);
  EXPECT_EQ(none.rows + none.group_rows + none.groups, 0);
  Iparam p;
  EXPECT_FALSE(gen::gparam(&p, 0, 0));
  EXPECT_FALSE(set(11, 0, 0, ptype::Dec, 1));
  EXPECT_EQ(gen_resize(5), 0u);
}

TEST_F(Config, DefaultsAfterNewProgram) {
  EXPECT_EQ(gen_sel, 10);
  EXPECT_EQ(value(0, 0, 1), 1000u);
  EXPECT_EQ(value(0, 0, 8), 4u);
  EXPECT_EQ(text(0, 0, 0), nullptr);  // absent owned texts are null
  EXPECT_STREQ(text(0, 1, 0), "");    // entry texts are there even when empty
  EXPECT_EQ(value(0, 1, 1), 0u);
  EXPECT_EQ(value(0, 1, 2), 255u);
  EXPECT_EQ(value(1, 0, 0), 10u);
  EXPECT_EQ(value(2, 0, 3), 80u);
  EXPECT_EQ(value(2, 0, 13), 502u);
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
  ASSERT_TRUE(set_text(0, 2, 0, "second"));
  gen_sel = 0;
  EXPECT_EQ(gen_resize(1), 0xFFFFFFFFu);
  EXPECT_EQ(gen_num, 2);
  gen_resize(500);
  EXPECT_EQ(gen_num, 128);
  EXPECT_STREQ(text(0, 2, 0), "second");
  EXPECT_EQ(value(0, 128, 1), 255u);  // new entries grant nothing

  ASSERT_TRUE(set_text(2, 1, 0, "a@b.c"));
  gen_sel = 2;
  gen_resize(0);
  EXPECT_EQ(con_num, 2);
  gen_resize(99);
  EXPECT_EQ(con_num, 20);
  EXPECT_STREQ(text(2, 1, 0), "a@b.c");
  EXPECT_EQ(text(2, 20, 0), nullptr);

  ASSERT_TRUE(set_text(3, 2, 0, "flow"));
  ASSERT_TRUE(set(3, 2, 2, ptype::Dec, 7));
  gen_sel = 3;
  gen_resize(5000);
  EXPECT_EQ(per_bins[0], 1024);
  EXPECT_EQ(per_bins[1], 2);  // the other files are untouched
  gen_resize(3);
  EXPECT_STREQ(text(3, 2, 0), "flow");
  EXPECT_EQ(value(3, 2, 2), 7u);

  ASSERT_TRUE(set_text(10, 1, 0, "trip"));
  gen_sel = 10;
  gen_resize(1);
  EXPECT_EQ(evt_events[3], 2);
  gen_resize(2000);
  EXPECT_EQ(evt_events[3], 1024);
  EXPECT_STREQ(text(10, 1, 0), "trip");

  gen_sel = 1;
  EXPECT_EQ(gen_resize(7), 0xFFFFFFFFu);  // the ports are fixed
}

TEST_F(Config, PasswordsAndAccessLevels) {
  EXPECT_TRUE(set_text(0, 2, 0, std::string(20, 'p').c_str()));
  EXPECT_FALSE(set_text(0, 2, 0, std::string(21, 'p').c_str()));
  EXPECT_FALSE(set_text(0, 2, 0, nullptr));
  EXPECT_EQ(std::string(text(0, 2, 0)), std::string(20, 'p'));

  // The first entry always spans every level.
  EXPECT_TRUE(set(0, 1, 1, ptype::Dec, 200));
  EXPECT_TRUE(set(0, 1, 2, ptype::Dec, 3));
  EXPECT_EQ(value(0, 1, 1), 0u);
  EXPECT_EQ(value(0, 1, 2), 255u);

  set(0, 2, 2, ptype::Dec, 100);
  set(0, 2, 1, ptype::Dec, 200);  // Low above High raises High
  EXPECT_EQ(value(0, 2, 2), 200u);
  set(0, 2, 2, ptype::Dec, 50);  // High below Low lowers Low
  EXPECT_EQ(value(0, 2, 1), 50u);
  set(0, 2, 1, ptype::Dec, 0);
  EXPECT_EQ(value(0, 2, 1), 1u);
  set(0, 2, 1, ptype::Dec, 300);
  EXPECT_EQ(value(0, 2, 1), 254u);
  EXPECT_EQ(value(0, 2, 2), 254u);
  set(0, 2, 1, ptype::Dec, 255);  // an entry that grants nothing stays so
  EXPECT_EQ(value(0, 2, 1), 255u);
  EXPECT_EQ(value(0, 2, 2), 255u);

  EXPECT_TRUE(set(0, 2, 3, ptype::Key, 0xDEADBEEF));
  EXPECT_EQ(value(0, 2, 3), 0xDEADBEEFu);
}

TEST_F(Config, GeneralTextsAndWatchdog) {
  EXPECT_FALSE(set_text(0, 0, 0, nullptr));
  EXPECT_TRUE(set_text(0, 0, 0, "http://help"));
  EXPECT_STREQ(text(0, 0, 0), "http://help");
  EXPECT_TRUE(set_text(0, 0, 6, ""));
  EXPECT_EQ(text(0, 0, 6), nullptr);

  EXPECT_FALSE(set(0, 0, 5, ptype::Select, 2));  // nothing can restart the controller
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

  EXPECT_TRUE(set(0, 0, 8, ptype::Select, 9));  // choices stored as given
  EXPECT_EQ(value(0, 0, 8), 9u);
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

TEST_F(Config, NetworkRows) {
  EXPECT_TRUE(set_text(2, 0, 1, "1.2.3.4"));
  EXPECT_STREQ(text(2, 0, 1), "1.2.3.4");
  EXPECT_TRUE(set_text(2, 0, 1, "1.2.34"));  // too short: none, still success
  EXPECT_EQ(text(2, 0, 1), nullptr);
  EXPECT_TRUE(set_text(2, 0, 5, "255.255.255.255"));
  EXPECT_TRUE(set_text(2, 0, 5, "255.255.255.2550"));
  EXPECT_EQ(text(2, 0, 5), nullptr);

  EXPECT_TRUE(set(2, 0, 0, ptype::Select, 7));
  EXPECT_EQ(value(2, 0, 0), 0u);
  set(2, 0, 3, ptype::Dec, 0x10050);
  EXPECT_EQ(value(2, 0, 3), 0x50u);

  EXPECT_FALSE(set_text(2, 0, 9, nullptr));
  EXPECT_TRUE(set_text(2, 0, 9, "user"));
  EXPECT_TRUE(set_text(2, 0, 9, ""));
  EXPECT_EQ(text(2, 0, 9), nullptr);

  set(2, 0, 17, ptype::Dec, 3);  // past the two addresses
  EXPECT_EQ(value(2, 0, 17), 0u);
  set(2, 0, 8, ptype::Dec, 258);  // not taken modulo 256
  EXPECT_EQ(value(2, 0, 8), 0u);

  // An address entry is emptied even by a refused text.
  ASSERT_TRUE(set_text(2, 1, 0, "x@y.z"));
  EXPECT_FALSE(set_text(2, 1, 0, std::string(256, 'a').c_str()));
  EXPECT_EQ(text(2, 1, 0), nullptr);
  EXPECT_TRUE(set_text(2, 1, 0, std::string(255, 'a').c_str()));
  EXPECT_TRUE(set_text(2, 1, 0, nullptr));
  EXPECT_EQ(text(2, 1, 0), nullptr);
}

TEST_F(Config, SlaveListenersActOnChangesOnly) {
  config_hooks.slave_port_listen = [](u16 port, u8 kind, bool on) {
    calls.push_back(std::to_string(kind) + ":" + std::to_string(port) + (on ? " on" : " off"));
  };
  set(2, 0, 12, ptype::Select, 5);  // any non-zero enables
  EXPECT_EQ(value(2, 0, 12), 1u);
  set(2, 0, 12, ptype::Select, 1);
  set(2, 0, 13, ptype::Dec, 502);
  set(2, 0, 13, ptype::Dec, 1502);
  set(2, 0, 12, ptype::Select, 0);
  set(2, 0, 12, ptype::Select, 0);
  set(2, 0, 15, ptype::Dec, 0x10000 + 7000);  // disabled: the port change closes
  set(2, 0, 14, ptype::Select, 1);
  EXPECT_EQ(calls, (std::vector<std::string>{"2:502 on", "2:1502 on", "2:1502 off", "5:7000 off", "5:7000 on"}));
}

TEST_F(Config, ShrinkingAddressListDropsReferences) {
  gen_sel = 2;
  gen_resize(5);
  set(2, 0, 7, ptype::Dec, 3);
  set(2, 0, 8, ptype::Dec, 2);
  set(2, 0, 17, ptype::Dec, 5);
  set(4, 0, 4, ptype::Dec, 4);
  set(4, 0, 5, ptype::Dec, 1);
  set(9, 0, 2, ptype::Dec, 3);
  set(9, 0, 3, ptype::Dec, 5);
  set_text(2, 2, 0, "kept");
  set_text(2, 4, 0, "dropped");
  gen_sel = 2;
  gen_resize(2);
  EXPECT_EQ(value(2, 0, 7), 0u);
  EXPECT_EQ(value(2, 0, 8), 2u);
  EXPECT_EQ(value(4, 0, 4), 0u);
  EXPECT_EQ(value(4, 0, 5), 1u);
  EXPECT_EQ(value(9, 0, 2), 0u);
  EXPECT_EQ(value(9, 0, 3), 0u);
  EXPECT_EQ(value(2, 0, 17), 5u);  // alarm phones are limited only when set
  EXPECT_STREQ(text(2, 2, 0), "kept");
  gen_sel = 2;
  gen_resize(5);
  EXPECT_EQ(text(2, 4, 0), nullptr);
}

TEST_F(Config, HistoryFileRows) {
  set(3, 0, 1, ptype::Time, 100000);
  EXPECT_EQ(value(3, 0, 1), 86400u);
  set(3, 0, 1, ptype::Time, 60);
  set(3, 0, 2, ptype::Time, 61);
  EXPECT_EQ(value(3, 0, 2), 0u);
  set(3, 0, 3, ptype::Dec, 50);
  EXPECT_EQ(value(3, 0, 3), 0u);
  set(8, 0, 1, ptype::Dec, 99);
  EXPECT_EQ(value(8, 0, 1), 0u);

  set(6, 1, 2, ptype::Dec, 5000);
  EXPECT_EQ(value(6, 1, 2), 32767u);
  set(6, 1, 2, ptype::Dec, 255);
  EXPECT_EQ(value(6, 1, 2), 32767u);
  EXPECT_EQ(per_ptr[3][0].status, 255);

  EXPECT_TRUE(set(3, 1, 1, ptype::Dec, 9));  // type 3 accepted besides 5
  EXPECT_EQ(value(3, 1, 1), 7u);

  EXPECT_FALSE(set_text(3, 1, 0, nullptr));
  EXPECT_TRUE(set_text(3, 1, 0, std::string(50, 'b').c_str()));
  EXPECT_EQ(std::string(text(3, 1, 0)), std::string(45, 'b'));
  EXPECT_TRUE(set_text(7, 1, 0, std::string(50, 'e').c_str()));
  EXPECT_EQ(std::string(text(7, 1, 0)), std::string(47, 'e'));
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

TEST_F(Config, RefusalsLeaveValuesAlone) {
  EXPECT_FALSE(set(0, 0, 1, ptype::Float, 5));
  EXPECT_FALSE(set(0, 0, 5, ptype::Dec, 1));
  EXPECT_FALSE(set(3, 0, 1, ptype::Dec, 10));
  EXPECT_FALSE(set(3, 0, 6, ptype::Dec, 1));
  EXPECT_FALSE(set(3, 1, 2, ptype::Select, 1));
  EXPECT_FALSE(set(2, 0, 1, ptype::Dec, 1));
  EXPECT_EQ(value(0, 0, 1), 1000u);
  EXPECT_EQ(value(3, 0, 1), 0u);

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

// What the program file does: every row read with gparam is written back
// with sparam into a fresh configuration, after the groups are resized.
TEST_F(Config, PagesSurviveASaveAndLoad) {
  set_text(0, 0, 6, "Site");
  set(0, 0, 3, ptype::Dec, 40);
  gen_sel = 0;
  gen_resize(3);
  set_text(0, 3, 0, "pw");
  set(0, 3, 1, ptype::Dec, 9);
  gen_sel = 2;
  gen_resize(6);
  set(2, 0, 17, ptype::Dec, 6);
  set_text(2, 0, 1, "10.1.1.1");
  set_text(2, 5, 0, "ops@site");
  set(2, 0, 12, ptype::Select, 1);
  set(4, 0, 1, ptype::Time, 600);
  set(4, 0, 2, ptype::Time, 30);
  set(4, 0, 5, ptype::Dec, 5);
  set(4, 2, 2, ptype::Dec, 255);
  set_text(9, 2, 0, "alarm");

  struct Cell {
    u16 type;
    u32 value;
    std::string text;
  };
  auto read_all = [](std::vector<u16>& groups) {
    std::vector<Cell> cells;
    for (u8 s = 0; s < GEN_PAGES; ++s) {
      Ilparam sh = shape(s);
      groups.push_back(sh.groups);
      for (u16 g = 0; g <= sh.groups; ++g)
        for (u16 r = 0; r < (g ? sh.group_rows : sh.rows); ++r) {
          Iparam p = get(s, g, r);
          cells.push_back({p.type, p.type == ptype::Text ? 0 : p.value, p.text ? p.text : ""});
        }
    }
    return cells;
  };
  std::vector<u16> groups, again;
  std::vector<Cell> saved = read_all(groups);
  program_new(false);
  size_t i = 0;
  for (u8 s = 0; s < GEN_PAGES; ++s) {
    gen_sel = s;
    gen_resize(groups[s]);
    Ilparam sh = shape(s);
    for (u16 g = 0; g <= sh.groups; ++g)
      for (u16 r = 0; r < (g ? sh.group_rows : sh.rows); ++r, ++i) {
        Iparam p;
        p.set_uint(saved[i].type, saved[i].value);
        p.text = saved[i].text.c_str();
        EXPECT_TRUE(gen::sparam(&p, g, r)) << int(s) << " " << g << " " << r;
      }
  }
  std::vector<Cell> loaded = read_all(again);
  EXPECT_EQ(again, groups);
  ASSERT_EQ(loaded.size(), saved.size());
  for (i = 0; i < saved.size(); ++i) {
    EXPECT_EQ(loaded[i].value, saved[i].value) << i;
    EXPECT_EQ(loaded[i].text, saved[i].text) << i;
  }
}

TEST_F(Config, SerialPortsThroughTheirDefinitions) {
  EXPECT_TRUE(set(1, 0, 0, ptype::Dec, 250));
  EXPECT_EQ(value(1, 0, 0), 100u);
  set(1, 0, 0, ptype::Dec, 0x10000 + 8);
  EXPECT_EQ(value(1, 0, 0), 8u);
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
