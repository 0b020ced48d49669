// Screen commands and the screen targets of the parameter commands, through
// proc_HMI with exact reply bytes: a programmer in slot 0 builds screens,
// operators in other slots use them.
#include <bit>

#include "core/config.h"
#include "core/engine.h"
#include "expr/names.h"
#include "hmi/hmi_types.h"
#include "hmi/screen_select.h"
#include "tests/support/hmi_slot.h"
#include "tests/support/quor_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_inst.h"

namespace {

std::string bits(float v) { return std::to_string(std::bit_cast<i32>(v)); }

struct Step {
  int slot;
  std::string command;
  std::string reply;
};

class ScreenCommands : public TestInstProgram {
 protected:
  void SetUp() override {
    TestInstProgram::SetUp();
    hmi_build();
    for (int s = 0; s < 4; ++s) {
      slots.open(s);
      hmi_slot_reset(s);
    }
    login(0, 0, 255);  // the programmer
    remote_HMI_select_loop = 255;
  }
  void TearDown() override {
    for (int s = 0; s < HMI_SLOTS; ++s) {
      priority[s] = priority_hi[s] = 255;
      hmi_slot_reset(s);
    }
    TestInstProgram::TearDown();
  }
  void login(int s, u8 lo, u8 hi) {
    priority[s] = lo;
    priority_hi[s] = hi;
  }
  std::string ask(const std::string& line, int s = 0) { return slots.ask(s, line); }
  // Set-up lines whose replies do not matter.
  void send(std::initializer_list<std::string> lines, int s = 0) {
    for (const auto& l : lines) ask(l, s);
  }
  void run(const std::vector<Step>& steps) {
    for (const auto& st : steps) EXPECT_EQ(ask(st.command, st.slot), st.reply) << st.slot << ": " << st.command;
  }
  // Module "M" after Loop_1 with instructions i1, i2; the cursor stays on M.
  void module_m() {
    ask("start");
    for (const char* l : {"insert|M|0|0", "insert|i1|12|1", "insert|i2|12|1", "apos||1"}) ASSERT_NE(ask(l), "fail\n\r") << l;
    ASSERT_EQ(ask("shmiw||9"), "0\n\r");  // M's screen
  }
  // A Variable object showing `var` with format fmt, security sec and
  // write security wsec, after the current object.
  void variable(const std::string& name, const std::string& var, int fmt, int sec, int wsec) {
    ASSERT_NE(ask("hinsert|" + name + "|2"), "fail\n\r");
    send({"sconfig|" + var + "|1|0|263|0|4", "sconfig||1|" + std::to_string(sec) + "|3|0|3",
          "sconfig||1|" + std::to_string(wsec) + "|3|0|5", "sconfig||1|" + std::to_string(fmt) + "|5|0|6"});
  }
  // The two lines that end "rhmi||1" when no screen switch is pending.
  std::string tail() { return bits(sys_get(3)) + "\nnone\n\r"; }
  float cell(const char* name) {
    pIdata r;
    return var_name(name, &r, false) && r.var ? r.get() : -1.0f;
  }
  InTempDir tmp_;
  HmiSlots slots;
};

TEST_F(ScreenCommands, ObjectsArePlacedAndSelectedByPosition) {
  EXPECT_EQ(ask("hpos||1"), "fail\n\r");  // no screen yet
  EXPECT_EQ(ask("gfhmi"), "fail\n\r");
  ask("start");
  run({
      {0, "hlist", "fail\n\r"},  // empty screen
      {0, "hpos||3", "0\n\r"},
      {0, "hinsert|a|0", "1\n\r"},   // into an empty screen
      {0, "hinsert|b|1", "2\n\r"},   // after the current object
      {0, "hinsert|c|4", "3\n\r"},
      {0, "hpos||0", "0\n\r"},
      {0, "hinsert|d|0", "1\n\r"},   // no current object: first
      {0, "hinsert|bad|7", "fail\n\r"},
      {0, "hinsert|Loop_1|0", "fail\n\r"},  // a name must pass the caption rules
      {0, "hpos||99", "4\n\r"},      // stops at the last object
      {0, "name||1", "c\n\r"},
      {0, "num||1", "4\n\r"},
      {0, "hpos||2", "2\n\r"},
      {0, "name||1", "a\n\r"},
      {0, "ren|first|1", "OK\n\r"},
      {0, "resize||1|3", "fail\n\r"},
      {0, "hlist", "0|0|0|Frame d\n0|0|0|Frame first\n0|0|0|Button b\n0|0|0|Resource c|0\n\r"},
      {0, "hpos||3", "3\n\r"},
      {0, "hdel", "3\n\r"},          // the next object takes the place
      {0, "name||1", "c\n\r"},
      {0, "hdel", "2\n\r"},          // the last: the previous one
      {0, "name||1", "first\n\r"},
      {1, "hpos||1", "fail\n\r"},    // slot 1 has no screen
      {0, "hdel", "1\n\r"},
      {0, "hdel", "0\n\r"},          // empty: no current object
      {0, "hdel", "fail\n\r"},
      {0, "name||1", "fail\n\r"},
      {0, "hlist", "fail\n\r"},
  });
}

TEST_F(ScreenCommands, ScreenNamesSettingsAndSelection) {
  module_m();
  run({
      {0, "gfhmi", "New Name|0|0|0\n\r"},
      {0, "sfhmi|Pumps|1|-2|3", "OK\n\r"},
      {0, "gfhmi", "Pumps|1|-2|3\n\r"},
      {1, "sfhmi|X|0|0|0", "fail\n\r"},  // the programmer's
      {0, "lhmiw", "Pumps\n\r"},
      {0, "lhmiw||1", "fail\n\r"},  // no named screen in loop 2
      {0, "lhmiw||5", "fail\n\r"},
      {1, "shmiw|Pumps", "1\n\r"},  // Loop_1, then M
      {1, "gfhmi", "Pumps|1|-2|3\n\r"},
      {1, "shmiw|Nope", "fail\n\r"},
      {1, "gfhmi", "Pumps|1|-2|3\n\r"},  // unchanged
      {1, "shmiw||0|2", "2\n\r"},        // Loop_2
      {1, "gfhmi", "New Name|0|0|0\n\r"},
      {1, "shmiw||3|9", "fail\n\r"},     // past the last module
      {1, "shmiwc||7", "OK\n\r"},
      {0, "gfhmi", "Pumps|1|-2|7\n\r"},
      {1, "ehmiw|Pumps", "fail\n\r"},   // level 1 only
  });
  // "dhmi" clears the screen at the program cursor.
  ask("hinsert|f|0");
  run({{0, "dhmi", "OK\n\r"}, {0, "gfhmi", "New Name|0|0|0\n\r"}, {0, "hlist", "fail\n\r"},
       {0, "lhmiw", "fail\n\r"}});
  // "minst" lists the module's instructions; "vhmiloc" and "varp" find a
  // screen's variable.
  std::string t = inst_def_use[TestInst::type].name;
  run({{0, "minst", t + " i1\n" + t + " i2\n\r"}, {0, "vhmiloc|lvl", "-1\n\r"}});
  variable("v", "lvl", 0, 1, 0);
  EXPECT_EQ(ask("vhmiloc|lvl|1"), "0\n\r");
  ask("start");
  EXPECT_EQ(ask("varp|lvl").find("Module M"), 0u);
}

TEST_F(ScreenCommands, LiveValuesAndTheScreenSwitch) {
  module_m();
  variable("level", "lvl", 8, 1, 1);  // decimal integer
  send({"sconfig||1|" + bits(0) + "|0|0|9", "sconfig||1|" + bits(255) + "|0|0|10"});
  ASSERT_NE(ask("hinsert|b|1"), "fail\n\r");
  send({"sconfig|Other|1|0|267|0|6", "sconfig||1|4|5|0|5", "hpos||1", "svar|lvl|" + bits(12.7f)});  // loop: End
  sys_set(3, 2.0f);
  run({
      {0, "rhmi", "0|3|0|none|1|0|0|" + bits(255) + "|-1\n4|267|0|Other\n\r"},
      {0, "rhmi||1", "12\n0\n" + bits(2.0f) + "\nnone\n\r"},
  });
  // The switch: a level-2 operator may not ask for it; a level-1 one may,
  // and the first poll with N1 = 1 takes it.
  login(1, 1, 10);
  login(2, 2, 10);
  for (int s : {1, 2}) send({"shmiw||0|1"}, s);
  run({
      {2, "ehmiw|Other|2", "fail\n\r"},
      {1, "ehmiw|Other|5", "fail\n\r"},
      {1, "ehmiw|Other|2", "OK\n\r"},
      {2, "rhmi", "0|3|0|none|0|0|0|" + bits(255) + "|-1\n4|267|0|Other\n\r"},  // N1 = 0 leaves it pending
      {2, "rhmi||1", "12\n0\n" + bits(2.0f) + "\nOther|2\n\r"},
      {1, "rhmi||1", "12\n0\n" + bits(2.0f) + "\nnone\n\r"},
  });
}

// Who sees and writes what; the write rules themselves are Screens.OperatorWrites'.
TEST_F(ScreenCommands, OperatorsWriteOnlyInsideTheirRange) {
  module_m();
  variable("v", "lvl", 6, 5, 5);  // visible from 5, written from 5
  send({"sconfig||1|" + bits(0) + "|0|0|9", "sconfig||1|" + bits(100) + "|0|0|10", "hinsert|f|0",
        "sconfig||1|255|3|0|3"});  // a frame anyone may see
  login(1, 1, 10);  // range covers 5
  login(2, 6, 10);  // range above 5
  for (int s = 1; s <= 3; ++s) send({"shmiw||0|1", "hpos||1"}, s);  // slot 3 never logs in
  run({
      {1, "hlist", "0|0|0|Variable v|0\n0|0|0|none\n\r"},
      {2, "hlist", "0|0|0|none\n0|0|0|none\n\r"},
      {3, "hlist", "0|0|0|none\n0|0|0|Frame f\n\r"},
      {1, "lconfig||3", "1\n0\n0\n\r"},
      {2, "lconfig||3", "fail\n\r"},
      {1, "gconfig||3", "0|0|6|none\n\r"},
      {2, "gconfig||3", "fail\n\r"},
      {2, "lconfig||1", "fail\n\r"},  // the editing view's shape is the programmer's
      {2, "sconfig||3|" + bits(7.0f) + "|0", ""},
      {1, "sconfig||3|" + bits(42.5f) + "|0", ""},
  });
  EXPECT_EQ(cell("lvl"), 42.5f);
  ask("sconfig||1|9|13|0|0", 1);  // operators do not edit objects
  EXPECT_EQ(ask("gconfig||1", 1).substr(0, 5), "0|13\n");
}

TEST_F(ScreenCommands, InstructionPanelsAndTheStartupFile) {
  module_m();
  ASSERT_EQ(ask("ihmis|Gain only|" + std::to_string(TestInst::type)), "1\n\r");
  ASSERT_NE(ask("hinsert|panel|3"), "fail\n\r");
  // i2 with format 1, written from level 3, seen from level 2
  send({"sconfig||1|" + std::to_string((1 << 16) | 2) + "|10|0|4", "sconfig||1|3|3|0|5", "sconfig||1|2|3|0|3"});
  ASSERT_EQ(ask("save"), "OK\n\r");
  login(1, 2, 2);
  login(2, 3, 9);
  for (int s : {1, 2}) send({"shmiw||0|1", "hpos||1"}, s);
  run({
      {0, "gconfig||1|0", "0|13\n0|14\n0|12\n2|3\n" + std::to_string((1 << 16) | 2) + "|10\n3|3\n\r"},
      {1, "gquorfig||2", "Gain only\n\r"},
      {1, "lconfig||2", "3\n2\n1\n\r"},
      {1, "gconfig||2", "Null|263\nnone|264\n" + bits(1.0f) + "|0\n\r"},
      {2, "gconfig||2", "fail\n\r"},  // level 3 does not see it
      {1, "sconfig||2|" + bits(3.0f) + "|0|0|2", ""},  // sees, may not write
      {1, "gconfig||2", "Null|263\nnone|264\n" + bits(1.0f) + "|0\n\r"},
  });
  login(2, 2, 9);
  send({"sconfig||2|" + bits(6.5f) + "|0|0|2", "sconfig|x|2|0|264|0|1"}, 2);  // texts are not for operators
  EXPECT_EQ(ask("gconfig||2", 2), "Null|263\nnone|264\n" + bits(6.5f) + "|0\n\r");
  // The change reached the start-up file.
  send({"new", "load|quor.qrn", "apos||3"});
  EXPECT_EQ(ask("gconfig||0|0"), "Null|263\nnone|264\n" + bits(6.5f) + "|0\n\r");
}

TEST_F(ScreenCommands, CopiesBindToTheReceivingModule) {
  module_m();
  variable("v", "level", 0, 1, 0);
  ask("sfhmi|Source|4|5|6");
  // Module N in loop 2 (position 5) receives M's screen with "chmi||1".
  ask("loop||2");
  ASSERT_NE(ask("insert|N|0|0"), "fail\n\r");
  ask("apos||1");
  ASSERT_EQ(ask("blocks"), "OK\n\r");  // M is the marked module
  ask("apos||5");
  run({{0, "chmi||1", "OK\n\r"}, {0, "gfhmi", "Source|4|5|6\n\r"}, {0, "hpos||1", "1\n\r"},
       {0, "gconfig||1", "0|13\n0|14\n0|12\n1|3\nlevel|263\n0|3\n0|5\n0|9\n0|5\n" + bits(3.0e38f) + "|0\n" +
                             bits(3.0e38f) + "|0\n0|5\n-1|16\n\r"}});
  ask("svar|level|" + bits(4.0f));  // the cursor is in N: N's "level"
  EXPECT_EQ(ask("rhmi||1"), bits(4.0f) + "\n" + tail());
  send({"start", "apos||1", "shmiw||9"});
  EXPECT_EQ(ask("rhmi||1"), "0\n" + tail());  // M's own "level" is untouched
  // "copy" and "move" of a marked object; "start" selects the first
  // module's screen and, unlike "shmiw", keeps the mark.
  send({"hpos||1", "blocks||1", "start"});
  run({{0, "copy||1", "OK\n\r"}, {0, "copy||1", "fail\n\r"}, {0, "rhmi||1", "0\n" + tail()}});
  send({"hinsert|f|0", "hpos||1", "blocks||1", "hpos||2"});
  run({{0, "move||1", "OK\n\r"}, {0, "hpos||2", "2\n\r"}, {0, "name||1", "v\n\r"}, {0, "move||1", "fail\n\r"}});
}

TEST_F(ScreenCommands, FormatListsAndTheirUsers) {
  run({
      {0, "lhmis", "fail\n\r"},
      {0, "ihmis|Off~On", "1\n\r"},   // the tilde ends the text field
      {0, "ihmis|{Off~On}", "2\n\r"},
      {0, "ihmis|Off", "1\n\r"},      // the same text: the same entry
      {0, "ihmis||0", "3\n\r"},     // an entry without text
      {0, "ihmis|x|33", "fail\n\r"},
      {0, "ihmis|a\tb", "0\n\r"},  // refused: not printable
      {0, "lhmis", "Off\n{Off~On}\nNone\n\r"},
      {0, "lhmis||33", "fail\n\r"},
      {0, "lhmis||4294967295", "fail\n\r"},
      {0, "shmis|Stop|0|1", "OK\n\r"},
      {0, "shmis||0|2", "OK\n\r"},
      {0, "shmis|x|0|3", "OK\n\r"},
      {0, "shmis|x|0|4", "fail\n\r"},
      {0, "shmis|x|33|1", "fail\n\r"},
      {0, "lhmis", "Stop\nNone\nx\n\r"},
      {1, "shmis|x|0|1", "fail\n\r"},
      {0, "dhmis||0|9|1", "fail\n\r"},  // missing: no false report
      {0, "dhmis||40|1|1", "fail\n\r"},
  });
  // Used by periodic file 1 and, after that, by a Variable object of M.
  per_vformat[1] = hmi_format_ptr(0, 1);
  module_m();
  variable("v", "lvl", 10, 1, 0);
  run({
      {0, "sconfig||1|1|9|0|7", ""},
      {0, "dhmis||0|1|1", "Periodic file 1\n\r"},
      {1, "dhmis||0|2", "Selection set or Override not used\n\r"},
      {1, "dhmis||0|2|1", "fail\n\r"},  // deleting is the programmer's
      {0, "dhmis||0|2|1", "OK\n\r"},
      {0, "lhmis", "Stop\nx\n\r"},
  });
  per_vformat[1] = nullptr;
  EXPECT_EQ(ask("dhmis||0|1|1"), "Module M\nVariable Object v\n\r");
}

TEST_F(ScreenCommands, NoSlotKeepsADeletedObject) {
  module_m();
  for (int s : {1, 2}) send({"shmiw||0|1"}, s);
  send({"hinsert|a|0", "hinsert|b|0", "blocks||1", "hpos||2"});  // slot 0 marks b too
  for (int s : {1, 2}) send({"hpos||2"}, s);
  run({{0, "hdel", "1\n\r"}, {1, "name||1", "fail\n\r"}, {1, "hpos||1", "1\n\r"}, {0, "copy||1", "fail\n\r"},
       {1, "rhmi||1", "0\n" + tail()}});
  ask("blocks||1", 0);
  EXPECT_EQ(ask("dhmi"), "OK\n\r");
  run({{1, "name||1", "fail\n\r"}, {2, "sconfig||3|1|0", ""}, {1, "hlist", "fail\n\r"}, {0, "copy||1", "fail\n\r"}});
  // A closed session keeps nothing; a new program leaves no slot on a
  // freed module.
  ask("hinsert|a|0");
  send({"hpos||1"}, 2);
  close_socket(2);
  EXPECT_EQ(current_hmi_mod[2], nullptr);
  EXPECT_EQ(current_hmi_obj[2], nullptr);
  ask("new");
  EXPECT_EQ(ask("gfhmi", 1), "fail\n\r");
}

}  // namespace

namespace {

// "quorctl screen": a module's objects with positions, types, names and
// the values of the variables they show, as the controller has them.
TEST(ScreenClient, ShowsAModulesScreen) {
  QuorProcess q;
  ASSERT_TRUE(q.start());
  {
    quorclient::Connection c = q.session();
    ASSERT_EQ(c.login(""), "prog");
    quorclient::Reply r;
    for (const char* line : {"start", "insert|Boiler|0|0", "shmiw||9", "hinsert|title|0", "hinsert|temp|2",
                             "hinsert|trend|5"})
      ASSERT_TRUE(c.command(line, r) && !r.fail()) << line;
    for (const char* line : {"sconfig|temp|1|0|263|0|8", "sconfig|press|1|0|263|0|9", "hpos||2",
                             "sconfig|temp|1|0|263|0|4", "sconfig||1|1|5|0|6", "sconfig||1|10|13|0|0",
                             "sconfig||1|20|14|0|1", "sconfig||1|9|3|0|3"})
      c.send_line(line);
    ASSERT_TRUE(c.command("svar|temp|1099956224", r) && !r.fail());  // 18.0
  }
  std::string out;
  EXPECT_EQ(run_quorctl(q.port(), "--password '' screen Boiler", &out), 0);
  EXPECT_EQ(out,
            "screen New Name\n1  0,0  Frame  title\n2  10,20  Variable  temp  temp=18.0\n"
            "3  0,0  Graph_vars  trend  temp=18 press=0\n");
  EXPECT_EQ(run_quorctl(q.port(), "screen Boiler", &out), 0);  // never logged in: level 255 sees nothing
  EXPECT_EQ(out, "screen New Name\n1  (not visible at this level)\n2  (not visible at this level)\n"
                 "3  (not visible at this level)\n");
  EXPECT_EQ(run_quorctl(q.port(), "screen Nothere"), 1);
  EXPECT_EQ(run_quorctl(q.port(), "screen"), 2);
}

}  // namespace
