// Every control instruction class through the program file: every row set
// away from its default, saved, loaded and compared.
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "program/editing.h"
#include "program/file.h"
#include "program/refs.h"
#include "tests/support/fixture.h"

namespace fs = std::filesystem;

namespace {

// Every row of every instruction of "Loop_1", as text.
std::string dump_loop1() {
  std::ostringstream o;
  for (Control* c = loop_start[0]->next; c && c != loop_start[1]; c = c->next) {
    o << c->num() << ' ' << c->desc << ':';
    Ilparam sh{};
    c->lparam(&sh);
    for (u16 g = 0; g <= sh.groups; ++g)
      for (u16 r = 0; r < (g ? sh.group_rows : sh.rows); ++r) {
        Iparam p{};
        EXPECT_TRUE(c->gparam(&p, g, r)) << c->desc << ' ' << g << ' ' << r;
        o << ' ' << p.type << '=';
        if (p.type == ptype::Ref)
          o << ref_text(p.ref);
        else if (p.type == ptype::Text)
          o << (p.text ? p.text : "");
        else
          o << p.value;
      }
    o << '\n';
  }
  return o.str();
}

// Gives every row of c a value of its type that differs from the default
// and from the other rows, in the order the loader sets them.
void fill(Control* c) {
  Ilparam sh{};
  c->lparam(&sh);
  for (u16 g = 0; g <= sh.groups; ++g)
    for (u16 r = 0; r < (g ? sh.group_rows : sh.rows); ++r) {
      Iparam p{};
      c->gparam(&p, g, r);
      const std::string tag =
          std::to_string(c->num()) + "_" + std::to_string(g) + "_" + std::to_string(r);
      switch (p.type) {
        case ptype::Ref:
          ASSERT_TRUE(ref_resolve(("v" + tag + "[" + std::to_string(r + 1) + "]").c_str(), &p.ref));
          break;
        case ptype::Text:
          p.text = tag.c_str();
          break;
        case ptype::Float:
          p.value = float_bits(1.5f + r + 10.0f * g);
          break;
        case ptype::Select:
          p.value = 1;
          break;
        default:  // Dec and Hex counts, clamped by the rows that need it
          p.value = 3u + r + g;
      }
      ASSERT_TRUE(c->sparam(&p, g, r)) << c->desc << ' ' << g << ' ' << r;
    }
}

}  // namespace

class InstProgramFile : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    dir_ = fs::temp_directory_path() / ("quor_instb_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    old_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
    ProgramTest::TearDown();
  }
  fs::path dir_, old_;
};

TEST_F(InstProgramFile, EveryClassKeepsEveryRow) {
  const u16 types[] = {27, 12, 2, 18, 9, 6, 7, 8, 4, 5, 10, 1, 19, 14, 24, 17, 26, 29, 13, 30, 32, 28, 31, 25};
  for (u16 t : types) {
    ASSERT_TRUE(program_instruction(t, inst_def_use[t].name, 3)) << t;
    fill(current_instruction);
  }
  // A block that the loader re-validates near the end of its variable: the
  // count row comes after the reference row and must not move it again.
  ASSERT_TRUE(program_instruction(27, "Alarm", 0));
  Iparam p{};
  ASSERT_TRUE(ref_resolve("vend[65534]", &p.ref));
  p.type = ptype::Ref;
  ASSERT_TRUE(current_instruction->sparam(&p, 0, 1));
  p = {.type = ptype::Dec, .value = 7};
  ASSERT_TRUE(current_instruction->sparam(&p, 0, 2));
  const std::string before = dump_loop1();
  EXPECT_NE(before.find("27 Alarm: 263=Null 263=vend[65529] 3=7"), std::string::npos) << before;
  ASSERT_TRUE(program_save("lib.qrn"));
  program_new(false);
  ASSERT_TRUE(program_load("lib.qrn", 0));
  EXPECT_EQ(dump_loop1(), before);
}
