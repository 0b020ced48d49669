// Browsing, editing, variable, parameter and run control commands on a
// program in memory, through proc_HMI with exact reply bytes.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <filesystem>

#include "core/config.h"
#include "core/engine.h"
#include "expr/names.h"
#include "hmi/listing.h"
#include "hmi/write_through.h"
#include "program/file.h"
#include "tests/support/reply_script.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_inst.h"

namespace {

std::string bits(float v) { return std::to_string(std::bit_cast<i32>(v)); }

long count_lines(const std::string& r) { return std::count(r.begin(), r.end(), '\n'); }

class HmiCommands : public TestInstProgram {
 protected:
  void SetUp() override {
    TestInstProgram::SetUp();
    s = slots.open(0);
    priority[0] = 0;  // a programmer session
    priority_hi[0] = 255;
  }
  void TearDown() override {
    priority[0] = priority_hi[0] = 255;
    TestInstProgram::TearDown();
  }
  std::string ask(const std::string& line) { return slots.ask(s, line); }
  void script(ReplyScript steps) { expect_replies(slots, s, steps); }
  const std::string fail = "fail\n\r";
  // Module "M" in loop 1 holding n test instructions "i1".."in".
  void build(int n) {
    ASSERT_EQ(ask("start").substr(0, 14), "Module Loop_1\n");
    ASSERT_NE(ask("insert|M|0|0"), "fail\n\r");
    for (int i = 1; i <= n; ++i) ASSERT_NE(ask("insert|i" + std::to_string(i) + "|12|1"), "fail\n\r") << i;
  }
  HmiSlots slots;
  int s = 0;
};

TEST_F(HmiCommands, PagingOverALongProgram) {
  build(70);  // Loop_1, M, i1..i70, Loop_2..Loop_4, End: 76 lines
  script({{"start", {}}, {"pos||49", "cur 49\n\r"}, {"pos||50", fail}});
  EXPECT_EQ(count_lines(ask("start")), 50);
  EXPECT_EQ(count_lines(ask("pgdn")), 27);  // lines 49..75
  std::string last = ask("pgdn");  // on the last page: the last 50 lines
  EXPECT_EQ(count_lines(last), 50);
  EXPECT_NE(last.find("Module End\n\r"), std::string::npos);
  EXPECT_EQ(count_lines(ask("pgup")), 50);
  script({{"start", {}}, {"up", fail}, {"pos||10", {}}});
  EXPECT_EQ(count_lines(ask("down")), 1);  // line 50 of the program becomes the last row
  EXPECT_EQ(ask("pos||49"), "cur 49\n\r");
  EXPECT_EQ(ask("up").find("Module Loop_1"), 0u);  // page start back at line 0
  EXPECT_EQ(count_lines(ask("alist")), 76);

  // Walk the module M: its instructions, then "fail" at the next module.
  script({{"apos||5", {}}, {"lmt", "Module M\n\r"}});
  for (int i = 1; i <= 70; ++i) ASSERT_NE(ask("lnxt"), fail);
  script({{"lnxt", fail}, {"rapos", "5\n\r"}, {"lnxt", fail}});  // the cursor returned
}

// Text rows and repeated groups (the fixed rows of an instruction are
// tried end to end in integration_session_test).
TEST_F(HmiCommands, TextRowsAndGroups) {
  build(1);
  const std::string one = bits(1.0f);
  script({{"sconfig|hello|0|0|264|0|1", ""},
          {"gconfig||0|0", "Null|263\nhello|264\n" + one + "|0\n\r"},
          {"sconfig|||0|264|0|1", ""},  // an empty text
          {"gconfig||0|0", "Null|263\nnone|264\n" + one + "|0\n\r"},
          {"gconfig||0|1", "Null|263\n0|3\n\r"},
          {"resize||0|3", "OK\n\r"},
          {"lconfig", "3\n2\n3\n\r"}});
}

TEST_F(HmiCommands, BreakPointsAndTheClock) {
  build(2);
  script({{"stop", "Stop\n\r"}, {"apos||2", {}}, {"step", "cur 1\n\r"}, {"name", "i2\n\r"}, {"loop||4", {}},
          {"sbreak", "Module Loop_4\n\r"}});
  EXPECT_EQ(break_execute.load(), loop_start[3]);
  script({{"inst||1", {}}, {"sbreak", fail}, {"cbreak", "None\n\r"}});  // not on "End"
  EXPECT_EQ(break_execute.load(), nullptr);
  priority[0] = 2;  // a level-2 operator may not set the clock
  EXPECT_EQ(ask("sdate||1000"), fail);
  priority[0] = 1;
  EXPECT_EQ(ask("sdate||1000"), "OK\n\r");
  EXPECT_EQ(timec.load(), 1000u);
}

// A walk whose saved cursor is deleted ends without going back to it.
TEST_F(HmiCommands, WalkEndsWhenItsSavedCursorIsDeleted) {
  build(3);
  script({{"apos||3", {}}, {"blocks", "OK\n\r"}, {"blocke", "OK\n\r"}, {"lmt", "Module M\n\r"}});
  EXPECT_NE(ask("del"), fail);
  script({{"lnxt", fail}, {"lnxt", fail}, {"start", {}}});
  EXPECT_EQ(count_lines(ask("alist")), 8);  // nine lines less i2
}

TEST_F(HmiCommands, OperatorWritesReachTheStartupFile) {
  InTempDir dir;
  build(1);  // cursor on i1
  Control* i1 = current_instruction;
  EXPECT_EQ(ask("sconfig|words|0|0|264|0|1"), "");
  ASSERT_EQ(ask("save"), "OK\n\r");
  ASSERT_EQ(run_inst_update, 1);
  Iparam p;
  p.set_float(7.25f);
  ASSERT_TRUE(i1->sparam(&p, 0, 2));
  EXPECT_TRUE(operator_write_through(i1, p, 0, 2));
  // A wrong type for the row leaves the file as it is.
  Iparam wrong{.type = ptype::Dec, .value = 99};
  EXPECT_FALSE(operator_write_through(i1, wrong, 0, 2));
  Iparam n{.type = ptype::Dec, .value = 5};
  ASSERT_TRUE(i1->sparam(&n, 1, 1));
  EXPECT_TRUE(operator_write_through(i1, n, 1, 1));
  // Not while memory and file differ, and not when the file is gone.
  run_inst_update = 0;
  p.set_float(1.0f);
  EXPECT_FALSE(operator_write_through(i1, p, 0, 2));
  run_inst_update = 1;
  ASSERT_EQ(std::rename("quor.qrn", "away.qrn"), 0);
  EXPECT_FALSE(operator_write_through(i1, p, 0, 2));
  EXPECT_FALSE(std::filesystem::exists("quor.qrn"));
  ASSERT_EQ(std::rename("away.qrn", "quor.qrn"), 0);

  ask("new");
  ASSERT_NE(ask("load|quor.qrn"), "fail\n\r");
  ask("apos||2");
  EXPECT_EQ(ask("gconfig||0|0"), "Null|263\nwords|264\n" + bits(7.25f) + "|0\n\r");
  EXPECT_EQ(ask("gconfig||0|1"), "Null|263\n5|3\n\r");
}

}  // namespace

TEST_F(HmiCommands, SecretsReadBackOnlyToTheProgrammer) {
  gen_sel = 2;
  con_pass = "s3cret";
  EXPECT_NE(ask("gconfig||4").find("s3cret|"), std::string::npos);
  priority[0] = 1;
  std::string page = ask("gconfig||4");
  EXPECT_EQ(page.find("s3cret"), std::string::npos);
  EXPECT_NE(page.find("*****|"), std::string::npos);
  gen_sel = 0;
  gen_password[0].password = "pw0";
  std::string groups = ask("gconfig||4|1");
  EXPECT_EQ(groups.find("pw0"), std::string::npos);
  priority[0] = 0;
  EXPECT_NE(ask("gconfig||4|1").find("pw0"), std::string::npos);
  con_pass.reset();
}
