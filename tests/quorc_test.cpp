// quorc: program text <-> program file. Round trips go file -> text -> file
// and must give the same bytes; errors must name line and column.
#include <cfloat>
#include <cmath>
#include <fstream>
#include <iterator>

#include "core/config.h"
#include "core/hooks.h"
#include "expr/names.h"
#include "io/io_def.h"
#include "program/file.h"
#include "tests/support/fake_hmi.h"
#include "tests/support/fixture.h"
#include "tests/support/hook_guard.h"
#include "tests/support/temp_dir.h"
#include "tools/quorc/quorc.h"

namespace {

class QuorcBase : public ProgramTest {
 protected:
  HookGuard<ConfigHooks> config_{config_hooks};
  HookGuard<EngineHooks> engine_{engine_hooks};
  void SetUp() override {
    ProgramTest::SetUp();
    quorc::quiet_hooks();
    quorc::object_info = {};  // the stand-in objects have no descriptors
    create_serial_ports();  // as at start-up: the serial page has its four ports
  }
  void TearDown() override {
    program_new(true);
    io_reset();
    ProgramTest::TearDown();
  }
  // The program in memory as the controller saves it.
  std::string saved() {
    InTempDir dir;
    EXPECT_TRUE(program_save("p.qrn"));
    std::ifstream f("p.qrn", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  std::string errors(const std::vector<quorc::Diag>& errs) {
    std::string s;
    for (auto& d : errs) s += quorc::format_diag("t.qp", d) + "\n";
    return s;
  }
  // file -> text -> file gives the same bytes, and the text is stable.
  void round_trip(const std::string& file, std::string* text_out = nullptr) {
    std::string text, err, again, text2;
    ASSERT_TRUE(quorc::dump(file, &text, &err)) << err;
    std::vector<quorc::Diag> errs;
    ASSERT_TRUE(quorc::build(text, &again, &errs)) << errors(errs) << text;
    ASSERT_TRUE(quorc::dump(again, &text2, &err));
    EXPECT_EQ(text2, text);
    EXPECT_TRUE(again == file) << "the rebuilt file differs";
    if (text_out) *text_out = text;
  }
  // Gives every row of a list a value other than its default, by type code.
  template <class Get, class Set>
  void vary(Ilparam sh, Get get, Set set, int seed) {
    for (u16 g = 0; g <= sh.groups; ++g)
      for (u16 r = 0; r < (g ? sh.group_rows : sh.rows); ++r) {
        Iparam p{};
        if (!get(&p, g, r)) continue;
        int k = seed + g * 7 + r;
        std::string text = "t" + std::to_string(k);
        if (p.type == ptype::Float) p.set_float(k * 1.25f - 3);
        else if (p.type == ptype::Select) p.value = 1;
        else if (p.type == ptype::Ref) var_name(("v" + std::to_string(k % 5) + "[" + std::to_string(k % 3) + "]").c_str(), &p.ref, true);
        else if (p.type & 0x100) p.text = text.c_str();
        else p.value = u32(k + 2);
        set(&p, g, r);
      }
  }
};

class QuorcTest : public QuorcBase {
 protected:
  FakeHmi hmi_;
};

// The controller's own screen objects.
class QuorcScreensTest : public QuorcBase {
 protected:
  void SetUp() override {
    QuorcBase::SetUp();
    quorc::use_screens();
  }
};

// Every instruction type and every screen object type twice: once with its
// defaults, once with every row varied (objects' rows go by label).
TEST_F(QuorcScreensTest, EveryInstructionAndObjectTypeRoundTrips) {
  Control* m = inst_create(0, loop_start[0], "Plant", 0);
  current_module = m;
  Control* last = m;
  int made = 0;
  for (u16 t = 1; t < INST_TYPES; ++t)
    for (int variant = 0; variant < 2; ++variant) {
      Control* c = inst_create(t, last, ("i" + std::to_string(t)).c_str(), 3);
      if (!c) continue;
      last = c, ++made;
      if (variant == 0) continue;
      Ilparam sh{};
      c->lparam(&sh);
      vary(sh, [c](Iparam* p, u16 g, u16 r) { return c->gparam(p, g, r); },
           [c](Iparam* p, u16 g, u16 r) { return c->sparam(p, g, r); }, t);
    }
  EXPECT_GE(made, 60);
  auto& h = hmi_file_hooks;
  ASSERT_TRUE(h.insert && quorc::object_info.types);
  current_module = m = inst_create(0, last, "Panel", 0);
  inst_create(9, m, "loop", 0);
  h.format_insert(0, "Off~On");
  h.select(0, static_cast<Module*>(m));
  for (u16 t = 0; t < quorc::object_info.types; ++t)
    for (int variant = 0; variant < 2; ++variant) {
      HMI_object* o = h.insert(0, t, ("o" + std::to_string(t)).c_str(), 0);
      ASSERT_NE(o, nullptr);
      if (variant == 0) continue;
      Ilparam sh{};
      h.lparam(o, &sh);
      vary(sh, [o](Iparam* p, u16 g, u16 r) { return hmi_file_hooks.gparam(o, p, g, r); },
           [o](Iparam* p, u16 g, u16 r) { return hmi_file_hooks.sparam(o, p, g, r); }, t);
    }
  h.select(0, nullptr);
  std::string text;
  round_trip(saved(), &text);
  for (const char* want : {"module Plant", "object Frame \"o0\"", "object Graph_bins/events \"o6\"", "Attributes = "})
    EXPECT_NE(text.find(want), std::string::npos) << want;
}

TEST_F(QuorcTest, PagesFormatsScreensAndNumbersRoundTrip) {
  for (u8 page = 0; page < GEN_PAGES; ++page)
    gen::on_page(page, [&] {
      if (page != 1) gen_resize(3);
      Ilparam sh{};
      gen::lparam(&sh);
      if (page == 1) sh.groups = 0;  // the serial ports belong to the process
      vary(sh, gen::gparam, gen::sparam, page);
      return true;
    });
  hmi_file_hooks.format_insert(0, "Off~On");
  hmi_file_hooks.format_insert(0, "Stopped~Running");
  hmi_file_hooks.format_insert(9, "with \"quotes\" and \\ and \t");
  auto* o = hmi_.add(static_cast<Module*>(loop_start[0]), 3, "panel");
  o->x = 40;
  o->fmt = 0x10002;
  var_name("shown", &o->ref, true);
  hmi_.add(static_cast<Module*>(loop_start[4]), 0, "frame");

  // Floats that must come back bit for bit, in a Constant's values.
  const float numbers[] = {0.1f, -0.0f, 1e-45f, FLT_MAX, 3.0e38f, -1.0f / 3, 16777217.0f, INFINITY,
                           std::nanf("7")};
  Control* c = inst_create(3, loop_start[0], "numbers", std::size(numbers));
  for (u16 g = 1; g <= std::size(numbers); ++g) {
    Iparam p{};
    p.set_float(numbers[g - 1]);
    ASSERT_TRUE(c->sparam(&p, g, 0));
  }
  static_cast<Module*>(loop_start[1])->new_hmi_desc("Second screen");
  std::string text;
  round_trip(saved(), &text);
  for (const char* want : {"page \"Event File 4\"", "format Module \"Off~On\"", "object 3 \"panel\"",
                           "Value = 0.1", "Value = -0", "Value = nan:0x7FC00007", "@0 = \"Second screen\""})
    EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
}

TEST_F(QuorcTest, ShortTextTakesDefaultsAndAddsTheStandardModules) {
  std::string file;
  std::vector<quorc::Diag> errs;
  ASSERT_TRUE(quorc::build("module Loop_1\n  Pid \"level\"  # a comment\n", &file, &errs)) << errors(errs);
  program_new(false);
  Control* pid = inst_create(9, loop_start[0], "level", 0);
  ASSERT_NE(pid, nullptr);
  EXPECT_EQ(file, saved());
}

TEST_F(QuorcTest, ErrorsNameLineColumnAndWhatWasExpected) {
  const std::pair<const char*, const char*> cases[] = {  // the text, the error it gives
      {"module Loop_1\n  Pidd \"x\"\n", "t.qp:2:3: expected an instruction type"},
      {"module Loop_1\n  Pid \"x\n", "t.qp:2:9: expected '\"' to close"},
      {"module Loop_1\n  Pid\n", "t.qp:2:6: expected the instruction's description"},
      {"module Loop_1\n  Constant \"k\"\n    \"Data tipe\" = Float\n",
       "t.qp:3:5: expected a row label: one of Variable, \"Data type\", Mode"},
      {"module Loop_1\n  Constant \"k\"\n    Mode = Sometimes\n", "t.qp:3:12: expected one of Normal, Startup"},
      {"module Loop_1\n  Constant \"k\"\n    group 1\n      Value = 1,5\n", "t.qp:4:15: expected a decimal number"},
      {"module Loop_1\n  Constant \"k\"\n    group 1\n      Value = \"5\"\n",
       "t.qp:4:15: refused: the controller does not take \"5\" here (it keeps 0)"},
      {"module Loop_1\n  Constant \"k\"\n    Mode =\n", "t.qp:3:11: expected a value after '='"},
      {"module Loop_1\n  Expression \"e\"\n    group 1\n      Expression = \"a + (b\"\n",
       "t.qp:4:27: the formula does not compile (status 7): at its end"},
      {"module Loop_1\n  Expression \"e\"\n    group 1\n      Expression = \"a ) b\"\n",
       "t.qp:4:23: the formula does not compile (status 3): at character 3 ')'"},
      {"module Loop_1\n  Alarm \"a\"\n    Master = \"Loop_2\"\n", "t.qp:3:14: expected a variable name"},
      {"module Loop_1\n  Alarm \"a\"\n    Master = Tank.level\n", "t.qp:3:14: expected a variable of this module"},
      {"module Loop_1\n  Alarm \"a\"\n    \"Number of alarms\" = 0\n",
       "t.qp:3:26: out of range: the controller would store 1 instead of 0"},
      {"page \"General/Password\"\n  \"Loop 1 time mS\" = -5\n", "t.qp:2:22: expected a whole number"},
      {"module Loop_1\n  Constant \"k\"\n    group 2\n", "t.qp:3:11: expected 'group 1'"},
      {"module Loop_1\n  Constant \"k\"\n    Mode = Normal\n    Mode = Startup\n",
       "t.qp:4:5: this row was already given on line 3"},
      {"module Tank\n", "t.qp:1:8: expected 'module Loop_1' first"},
      {"module Loop_1\nmodule Loop_3\n", "t.qp:2:8: expected 'module Loop_2' before Loop_3"},
      {"module Loop_1\nmodule \"a|b\"\n", "t.qp:2:8: expected a module name"},
      {"  Variable = x\n", "t.qp:1:3: expected a 'module', 'page', instruction or 'object' line"},
      {"module Loop_1\n  Convert \"c\"\n    group 1\n", "t.qp:2:3: the text gives 1 groups; the controller keeps 2"},
      {"format Nothing \"x\"\nmodule Loop_1\n", "t.qp:1:8: expected a format list"},
      {"module Loop_1\n  Constant \"k\" extra\n", "t.qp:2:16: expected the end of the line"},
  };
  for (const auto& [text, error] : cases) {
    std::string file;
    std::vector<quorc::Diag> errs;
    EXPECT_FALSE(quorc::build(text, &file, &errs)) << text;
    EXPECT_NE(errors(errs).find(error), std::string::npos) << "text:\n" << text << "got:\n" << errors(errs);
  }
}

TEST_F(QuorcTest, AFormulaThatDoesNotCompileIsKeptOnlyWithItsStatus) {
  // The controller saves such a formula; its dump says so with the status
  // row, and that text builds back to the same file.
  Control* e = inst_create(20, loop_start[0], "broken", 1);
  Iparam t{};
  t.type = ptype::Text;
  t.text = "a +";
  EXPECT_FALSE(e->sparam(&t, 1, 2));
  std::string text;
  round_trip(saved(), &text);
  EXPECT_NE(text.find("Status = 4"), std::string::npos) << text;
}

TEST_F(QuorcTest, DumpRefusesWhatTheControllerWouldNotLoad) {
  std::string text, err;
  EXPECT_FALSE(quorc::dump("", &text, &err));
  EXPECT_FALSE(quorc::dump("NOPE", &text, &err));
  EXPECT_NE(err.find("no \"QUOR\" header"), std::string::npos);
  std::string cut = saved();
  cut.resize(cut.size() - 3);
  EXPECT_FALSE(quorc::dump(cut, &text, &err));
  EXPECT_NE(err.find("damaged"), std::string::npos);
}

}  // namespace
