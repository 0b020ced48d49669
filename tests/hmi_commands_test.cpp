// Browsing, editing, variable, parameter and run control commands on a
// program in memory, through proc_HMI with exact reply bytes.
#include <bit>
#include <cstdio>
#include <filesystem>

#include "core/config.h"
#include "core/engine.h"
#include "expr/names.h"
#include "hmi/listing.h"
#include "hmi/write_through.h"
#include "program/file.h"
#include "tests/support/hmi_slot.h"
#include "tests/support/test_inst.h"

namespace {

std::string bits(float v) { return std::to_string(std::bit_cast<i32>(v)); }

int count_lines(const std::string& r) {
  int n = 0;
  for (char c : r) n += c == '\n';
  return n;
}

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
  // Module "M" in loop 1 holding n test instructions "i1".."in".
  void build(int n) {
    ASSERT_EQ(ask("start").substr(0, 14), "Module Loop_1\n");
    ASSERT_NE(ask("insert|M|0|0"), "fail\n\r");
    for (int i = 1; i <= n; ++i) ASSERT_NE(ask("insert|i" + std::to_string(i) + "|12|1"), "fail\n\r") << i;
  }
  HmiSlots slots;
  int s = 0;
};

TEST_F(HmiCommands, ListingFormatsAndLoops) {
  EXPECT_EQ(ask("start"), "Module Loop_1\nModule Loop_2\nModule Loop_3\nModule Loop_4\nModule End\n\r");
  EXPECT_EQ(ask("loop||2"), "Module Loop_2\nModule Loop_3\nModule Loop_4\nModule End\n\r");
  EXPECT_EQ(ask("loop||0"), "fail\n\r");
  EXPECT_EQ(ask("loop||5"), "fail\n\r");
  build(2);
  std::string tname = inst_def_use[TestInst::type].name;
  EXPECT_EQ(ask("start").substr(0, 60).find("Module Loop_1\nModule M\n  " + tname + " i1\n"), 0u);
  EXPECT_EQ(ask("apos||3"), "  " + tname + " i2\n\r");
  EXPECT_EQ(ask("rapos"), "3\n\r");
  EXPECT_EQ(ask("name"), "i2\n\r");
  EXPECT_EQ(ask("num"), std::to_string(TestInst::type) + "\n\r");
  EXPECT_EQ(ask("apos||99"), "fail\n\r");
  EXPECT_EQ(ask("blockc"), "None\nNone\n\r");
  ask("apos||3");
  EXPECT_EQ(ask("inst||-1").substr(0, 5 + tname.size()), "  " + tname + " i1");
  EXPECT_EQ(ask("mod||-1"), ask("start"));
}

TEST_F(HmiCommands, PagingOverALongProgram) {
  build(70);  // 75 lines: Loop_1, M, i1..i70, Loop_2..Loop_4, End -> 76
  EXPECT_EQ(count_lines(ask("start")), 50);
  EXPECT_EQ(ask("pos||49"), "cur 49\n\r");
  EXPECT_EQ(ask("pos||50"), "fail\n\r");
  EXPECT_EQ(count_lines(ask("pgdn")), 27);  // lines 49..75
  std::string last = ask("pgdn");  // on the last page: the last 50 lines
  EXPECT_EQ(count_lines(last), 50);
  EXPECT_NE(last.find("Module End\n\r"), std::string::npos);
  EXPECT_EQ(count_lines(ask("pgup")), 50);
  ask("start");
  EXPECT_EQ(ask("up"), "fail\n\r");
  ask("pos||10");
  std::string down = ask("down");  // line 50 of the program becomes the last row
  EXPECT_EQ(count_lines(down), 1);
  EXPECT_EQ(ask("pos||49"), "cur 49\n\r");
  EXPECT_EQ(ask("up").find("Module Loop_1"), 0u);  // page start back at line 0
  EXPECT_EQ(count_lines(ask("alist")), 76);

  // Walk the module M: its instructions, then "fail" at the next module.
  ask("apos||5");
  EXPECT_EQ(ask("lmt"), "Module M\n\r");
  for (int i = 1; i <= 70; ++i) ASSERT_NE(ask("lnxt"), "fail\n\r");
  EXPECT_EQ(ask("lnxt"), "fail\n\r");
  EXPECT_EQ(ask("rapos"), "5\n\r");  // the cursor returned
  EXPECT_EQ(ask("lnxt"), "fail\n\r");
}

TEST_F(HmiCommands, SearchesAndPosh) {
  build(3);
  ask("apos||3");  // i2
  EXPECT_EQ(ask("posh||2"), "OK\n\r");
  EXPECT_EQ(ask("name"), "i2\n\r");
  EXPECT_EQ(ask("posh||9"), "fail\n\r");
  EXPECT_EQ(ask("name"), "M\n\r");
  ask("apos||4");  // i3
  EXPECT_EQ(ask("varp|-i3"), "fail\n\r");  // never matches the cursor itself
  EXPECT_EQ(ask("varp|-i1").find("  "), 0u);
  EXPECT_EQ(ask("name"), "i1\n\r");
  EXPECT_EQ(ask("varp|i3|1").find("  "), 0u);
  EXPECT_EQ(ask("name"), "i3\n\r");
  // Search by a referenced variable's name.
  EXPECT_EQ(ask("sconfig|tank|0|0|263|0|0"), "");
  ask("start");
  ask("varp|tan");
  EXPECT_EQ(ask("name"), "i3\n\r");
  ask("start");
  EXPECT_EQ(ask("ipos||" + std::to_string(TestInst::type)).find("  "), 0u);
  EXPECT_EQ(ask("name"), "i1\n\r");
  EXPECT_EQ(ask("ipos||-1").find("Module M"), 0u);  // backward for type 0
}

TEST_F(HmiCommands, ParametersOfTheCursorAndTheConfiguration) {
  build(1);
  EXPECT_EQ(ask("lconfig"), "3\n2\n1\n\r");
  EXPECT_EQ(ask("gquorfig"), std::string(TestInst::rows.descriptor()) + "\n\r");
  EXPECT_EQ(ask("gconfig||0|0"), "Null|263\nnone|264\n" + bits(1.0f) + "|0\n\r");
  EXPECT_EQ(ask("sconfig|lvl[3]|0|0|263|0|0"), "");
  EXPECT_EQ(ask("sconfig|hello|0|0|264|0|1"), "");
  EXPECT_EQ(ask("sconfig||0|" + bits(2.5f) + "|0|0|2"), "");
  EXPECT_EQ(ask("gconfig||0|0"), "lvl[3]|263\nhello|264\n" + bits(2.5f) + "|0\n\r");
  EXPECT_EQ(ask("sconfig|||0|264|0|1"), "");  // an empty text
  EXPECT_EQ(ask("gconfig||0|1"), "Null|263\n0|3\n\r");
  EXPECT_EQ(ask("sconfig||0|0|0|0|1"), "");  // wrong type: refused silently
  EXPECT_EQ(ask("gconfig||0|0"), "lvl[3]|263\nnone|264\n" + bits(2.5f) + "|0\n\r");
  EXPECT_EQ(ask("resize||0|3"), "OK\n\r");
  EXPECT_EQ(ask("lconfig"), "3\n2\n3\n\r");
  EXPECT_EQ(ask("livar"), "lvl[3]|0\n\r");
  EXPECT_EQ(ask("gconfig||2"), "fail\n\r");  // no current screen object
  EXPECT_EQ(ask("num||1"), "fail\n\r");

  EXPECT_EQ(ask("gpos||11"), "fail\n\r");
  EXPECT_EQ(ask("gpos||0"), "OK\n\r");
  EXPECT_EQ(ask("lconfig||4"), "9\n4\n2\n\r");
  EXPECT_EQ(ask("sconfig|Plant 7|4|0|264|0|6"), "");
  EXPECT_EQ(ask("sname"), "Plant 7\n\r");
  EXPECT_EQ(ask("resize||4|3"), "OK\n\r");
  EXPECT_EQ(ask("lconfig||4"), "9\n4\n3\n\r");
  EXPECT_EQ(ask("resize||2|3"), "fail\n\r");
  // An operator may read the page but not write it.
  priority[0] = 1;
  EXPECT_EQ(ask("sconfig|Other|4|0|264|0|6"), "");
  EXPECT_EQ(ask("sname"), "Plant 7\n\r");
}

TEST_F(HmiCommands, VariablesAndSystemCells) {
  build(1);
  pIdata big;
  ASSERT_TRUE(var_name("big[500]", &big, true));
  for (u16 i = 0; i <= 500; ++i) big.var->set(i, float(i));
  EXPECT_EQ(ask("rvar|big[10]"), bits(10.0f) + "\n\r");
  std::string block = ask("rvar|big[10]|1");
  EXPECT_EQ(count_lines(block), 128);
  EXPECT_NE(block.find(bits(137.0f) + "\n\r"), std::string::npos);
  EXPECT_EQ(ask("svar|big[2]|" + bits(-4.5f)), "OK\n\r");
  EXPECT_EQ(big.var->get(2), -4.5f);
  EXPECT_EQ(ask("mivar|big"), "500\n\r");
  EXPECT_EQ(ask("rvar|nothere"), "fail\n\r");
  EXPECT_EQ(ask("svar|nothere|1"), "fail\n\r");
  EXPECT_EQ(ask("lvar"), "Module\nbig\n!System\n\r");

  EXPECT_EQ(count_lines(ask("rsys||100|128")), 129);
  EXPECT_EQ(ask("rsys||100|129"), "fail\n\r");
  EXPECT_EQ(ask("rsys||11775|1"), "fail\n\r");
  EXPECT_EQ(ask("ssys||23|0|5"), "fail\n\r");
  EXPECT_EQ(ask("ssys||24|0|" + bits(7.0f) + "|" + bits(8.0f)), "OK\n\r");
  EXPECT_EQ(sys_get(24), 7.0f);
  EXPECT_EQ(sys_get(25), 0.0f);
  EXPECT_EQ(ask("ssys||24|16"), "fail\n\r");
  EXPECT_EQ(ask("varen|big~huge"), "OK\n\r");
  EXPECT_EQ(ask("mivar|huge"), "500\n\r");
}

TEST_F(HmiCommands, RunControlAndStepping) {
  build(2);
  EXPECT_EQ(ask("stop"), "Stop\n\r");
  EXPECT_EQ(ask("status"), "Stop\n\r");
  EXPECT_EQ(ask("cont"), "OK\n\r");
  EXPECT_EQ(ask("status"), "Run\n\r");
  EXPECT_EQ(ask("step"), "fail\n\r");  // only while stopped
  EXPECT_EQ(ask("stop"), "Stop\n\r");
  EXPECT_EQ(ask("status"), "Stop\n\r");
  ask("apos||2");  // i1, row 0 of the page
  EXPECT_EQ(ask("step"), "cur 1\n\r");
  EXPECT_EQ(ask("name"), "i2\n\r");
  ask("loop||4");
  EXPECT_EQ(ask("step"), "cur 0\n\r");  // the next line is "End": nothing runs
  EXPECT_EQ(ask("sbreak"), "Module Loop_4\n\r");
  EXPECT_EQ(break_execute.load(), loop_start[3]);
  ask("inst||1");
  EXPECT_EQ(ask("sbreak"), "fail\n\r");  // not on "End"
  EXPECT_EQ(ask("cbreak"), "None\n\r");
  EXPECT_EQ(break_execute.load(), nullptr);
  EXPECT_EQ(ask("rdate"), std::to_string(timec.load()) + "\n\r");
  EXPECT_EQ(ask("run"), "OK\n\r");
  EXPECT_EQ(ask("status"), "Run\n\r");
  // A level-2 operator may not set the clock.
  priority[0] = 2;
  EXPECT_EQ(ask("sdate||1000"), "fail\n\r");
  priority[0] = 1;
  EXPECT_EQ(ask("sdate||1000"), "OK\n\r");
  EXPECT_EQ(timec.load(), 1000u);
}

TEST_F(HmiCommands, EditingBlocks) {
  build(3);
  ask("apos||2");
  EXPECT_EQ(ask("blocks"), "OK\n\r");
  ask("apos||3");
  EXPECT_EQ(ask("blocke"), "OK\n\r");
  std::string tname = inst_def_use[TestInst::type].name;
  EXPECT_EQ(ask("blockc"), tname + " i1\n" + tname + " i2\n\r");
  ask("apos||4");
  EXPECT_NE(ask("copy"), "fail\n\r");
  ask("start");
  EXPECT_EQ(count_lines(ask("alist")), 11);  // 9 lines and 2 copies
  EXPECT_EQ(ask("copy|x|1"), "fail\n\r");
  ask("apos||2");
  ask("blocks");
  ask("blocke");
  EXPECT_NE(ask("del"), "fail\n\r");
  ask("start");
  EXPECT_EQ(count_lines(ask("alist")), 10);
  // A walk whose saved cursor is deleted ends without going back to it.
  ask("apos||3");
  ask("blocks");
  ask("blocke");
  EXPECT_EQ(ask("lmt"), "Module M\n\r");
  EXPECT_NE(ask("del"), "fail\n\r");
  EXPECT_EQ(ask("lnxt"), "fail\n\r");
  EXPECT_EQ(ask("lnxt"), "fail\n\r");
  ask("start");
  EXPECT_EQ(count_lines(ask("alist")), 9);
  EXPECT_EQ(ask("ren|Loop_9"), "fail\n\r");  // on "Loop_1": protected
  ask("apos||1");
  EXPECT_EQ(ask("ren|Tanks"), "OK\n\r");
  EXPECT_EQ(ask("name"), "Tanks\n\r");
  EXPECT_EQ(ask("insert|bad|99|0"), "fail\n\r");
  EXPECT_EQ(ask("new").substr(0, 14), "Module Loop_1\n");
  EXPECT_EQ(count_lines(ask("alist")), 5);
}

}  // namespace

namespace {

class HmiFiles : public HmiCommands {
 protected:
  void SetUp() override {
    HmiCommands::SetUp();
    char tmpl[] = "/tmp/quor_hmi_XXXXXX";
    dir = mkdtemp(tmpl);
    old_cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
  }
  void TearDown() override {
    std::filesystem::current_path(old_cwd);
    std::filesystem::remove_all(dir);
    HmiCommands::TearDown();
  }
  std::string dir;
  std::filesystem::path old_cwd;
};

TEST_F(HmiFiles, SaveLoadAndExtract) {
  build(2);
  EXPECT_EQ(ask("save|other.qrn"), "OK\n\r");
  EXPECT_EQ(ask("save|../other.qrn"), "fail\n\r");
  EXPECT_EQ(ask("save|/tmp/other.qrn"), "fail\n\r");
  EXPECT_EQ(ask("new").substr(0, 14), "Module Loop_1\n");
  EXPECT_EQ(ask("extract|other.qrn"), "Loop_1\nM\nLoop_2\nLoop_3\nLoop_4\n\r");
  EXPECT_EQ(count_lines(ask("alist")), 5);  // listing changed nothing
  EXPECT_EQ(ask("extract|missing.qrn"), "fail\n\r");
  EXPECT_EQ(ask("extract||1"), "fail\n\r");
  EXPECT_EQ(ask("extract|other.qrn|9"), "fail\n\r");
  ask("start");
  EXPECT_NE(ask("extract|other.qrn|1"), "fail\n\r");
  ask("start");
  EXPECT_EQ(count_lines(ask("alist")), 8);

  EXPECT_EQ(ask("new").substr(0, 14), "Module Loop_1\n");
  EXPECT_EQ(ask("load|other.qrn").find("Module Loop_1\nModule M\n"), 0u);
  EXPECT_EQ(ask("load|../etc.qrn"), "fail\n\r");
  EXPECT_EQ(ask("load|missing.qrn"), "fail\n\r");
}

}  // namespace

namespace {

TEST_F(HmiFiles, OperatorWritesReachTheStartupFile) {
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
  Iparam wrong;
  wrong.set_uint(ptype::Dec, 99);
  EXPECT_FALSE(operator_write_through(i1, wrong, 0, 2));
  Iparam n;
  n.set_uint(ptype::Dec, 5);
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
