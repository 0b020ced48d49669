// The control instructions through the program file: every row set away
// from its default, saved, loaded and compared.
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "program/editing.h"
#include "program/file.h"
#include "program/refs.h"
#include "tests/support/fixture.h"

namespace fs = std::filesystem;

namespace {
// Every row of every instruction of "Loop_1", as text.
std::string rows_of_loop1() {
  std::ostringstream o;
  for (Control* c = loop_start[0]->next; c && c != loop_start[1]; c = c->next) {
    o << c->num() << ':';
    Ilparam sh{};
    c->lparam(&sh);
    for (u16 r = 0; r < sh.rows; ++r) {
      Iparam p{};
      EXPECT_TRUE(c->gparam(&p, 0, r));
      o << ' ' << p.type << '=' << (p.type == ptype::Ref ? ref_text(p.ref) : std::to_string(p.value));
    }
    o << '\n';
  }
  return o.str();
}
}  // namespace

class InstControlFile : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    fs::create_directories(dir_);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
    ProgramTest::TearDown();
  }
  fs::path dir_ = fs::temp_directory_path() / ("quor_insta_" + std::to_string(getpid()));
  fs::path old_ = fs::current_path();
};

TEST_F(InstControlFile, EveryClassKeepsEveryRow) {
  for (u16 t : {27, 12, 2, 18, 9, 6, 7, 8}) {
    ASSERT_TRUE(program_instruction(t, inst_def_use[t].name, 0)) << t;
    Control* c = current_instruction;
    Ilparam sh{};
    c->lparam(&sh);
    for (u16 r = 0; r < sh.rows; ++r) {
      Iparam p{};
      c->gparam(&p, 0, r);
      const std::string name = "v" + std::to_string(t) + "_" + std::to_string(r);
      if (p.type == ptype::Ref)  // the alarm block ends by 65535
        ASSERT_TRUE(ref_resolve((name + (t == 27 ? "[65531]" : "[2]")).c_str(), &p.ref));
      else if (p.type == ptype::Float)
        p.value = float_bits(-1.25f - r);
      else
        p.value = p.type == ptype::Select ? 1 : 5 + r;
      ASSERT_TRUE(c->sparam(&p, 0, r)) << t << " row " << r;
    }
  }
  const std::string before = rows_of_loop1();
  EXPECT_NE(before.find("27: 263=v27_0[65531] 263=v27_1[65529] 3=7"), std::string::npos) << before;
  ASSERT_TRUE(program_save("ctl.qrn"));
  program_new(false);
  ASSERT_TRUE(program_load("ctl.qrn", 0));
  EXPECT_EQ(rows_of_loop1(), before);
}
