#include <unistd.h>

#include <bit>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "core/hooks.h"
#include "expr/expression.h"
#include "expr/names.h"
#include "program/cipher.h"
#include "program/cursor.h"
#include "program/editing.h"
#include "program/file.h"
#include "tests/support/fake_hmi.h"
#include "tests/support/hook_guard.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_inst.h"

namespace fs = std::filesystem;

namespace {

// Every element of the program with all its parameters, as text.
std::string dump_program() {
  std::ostringstream o;
  for (Control* c = loop_start[0]; c; c = c->next) {
    o << c->num() << ' ' << c->desc << ':';
    Ilparam sh{};
    c->lparam(&sh);
    for (u32 g = 0; g <= sh.groups; ++g)
      for (u16 r = 0; r < (g ? sh.group_rows : sh.rows); ++r) {
        Iparam p{};
        if (!c->gparam(&p, u16(g), r)) {
          o << " -";
          continue;
        }
        o << ' ' << p.type << '=';
        if (p.type == ptype::Ref)
          o << ref_text(p.ref);
        else if (p.type & 0x100)
          o << (p.text ? p.text : "(null)");
        else
          o << p.value;
      }
    o << '\n';
  }
  return o.str();
}

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}
void spit(const fs::path& p, const std::string& s) {
  std::ofstream f(p, std::ios::binary);
  f << s;
}

class ProgramFile : public TestInstProgram {
 protected:
  void SetUp() override {
    TestInstProgram::SetUp();
    run_inst_update = 0;
  }
  Control* ins(u16 type, const char* desc, u16 n = 1) {
    EXPECT_TRUE(program_instruction(type, desc, n)) << desc;
    return current_instruction;
  }
  TestInst* ti(const char* desc) {
    auto* t = static_cast<TestInst*>(ins(TestInst::type, desc));
    return t;
  }
  // A program touching every loop, scopes, indexes, groups and long texts.
  void build_sample() {
    ins(0, "Pumps");
    TestInst* a = ti("level");
    ref_resolve("tank[3]", &a->in);
    a->text = std::string(300, 'x');
    a->gain = -1.5f;
    a->resize(3);
    ref_resolve("!alarm", &a->groups[1].out);
    ref_resolve("#loopvar[7]", &a->groups[2].out);
    a->groups[2].n = 123456;
    ti("second");
    position_loop(2);
    ins(0, "Valves");
    TestInst* b = ti("valve");
    ref_resolve("tank", &b->in);  // Valves' own tank
    b->text = "two words";
    Iparam t{.text = "Valve screen", .type = ptype::Text};
    current_module->sparam(&t, 0, 0);
  }
  InTempDir dir_;
  FakeHmi hmi_;
};

TEST_F(ProgramFile, SaveLoadRoundTrip) {
  build_sample();
  std::string before = dump_program();
  ASSERT_TRUE(program_save("prog.qrn"));
  EXPECT_EQ(current_prog, "prog.qrn");
  EXPECT_EQ(run_inst_update.load(), 0);  // only the start-up file sets it
  EXPECT_FALSE(fs::exists("prog.qrn.tmp"));

  // The offsets point at each record's parameter block.
  std::string bytes = slurp("prog.qrn");
  EXPECT_EQ(bytes.substr(0, 5), std::string("QUOR\0", 5));
  Control* lvl = loop_start[0]->next->next;
  ASSERT_EQ(lvl->desc, "level");
  u32 lvl_pos = lvl->file_pos;
  ASSERT_GT(lvl_pos, 6u);
  EXPECT_EQ(bytes.substr(lvl_pos - 6, 6), std::string("level\0", 6));
  EXPECT_EQ(u8(bytes[lvl_pos]), 3);  // rows

  program_new(false);
  ASSERT_TRUE(program_load("prog.qrn", 0));
  std::string after = dump_program();
  // The 300-character text comes back cut to 255; everything else equal.
  std::string expect = before;
  expect.replace(expect.find(std::string(300, 'x')), 300, std::string(255, 'x'));
  EXPECT_EQ(after, expect);
  EXPECT_EQ(current_instruction, loop_start[0]);

  // References resolved in their own scopes; "tank[3]" made 4 cells.
  auto* level = static_cast<TestInst*>(loop_start[0]->next->next);
  auto* valve = static_cast<TestInst*>(loop_start[2]->next->next);
  EXPECT_EQ(level->in.var->size, 3);
  EXPECT_EQ(valve->in.var->name, "tank");
  EXPECT_NE(valve->in.var, level->in.var);
  // "!alarm" and "#loopvar" (loop 1) both live in the list of "Loop_1".
  auto in_list = [](Ivar* v, Control* owner) {
    for (Ivar* x = owner->rvar(); x; x = x->next)
      if (x == v) return true;
    return false;
  };
  EXPECT_TRUE(in_list(level->groups[1].out.var, loop_start[0]));
  EXPECT_TRUE(in_list(level->groups[2].out.var, loop_start[0]));
  EXPECT_EQ(level->groups[2].out.var->size, 7);
  EXPECT_EQ(level->file_pos, lvl_pos);

  // Save and load of the start-up file mark the program as that file's.
  ASSERT_TRUE(program_save(""));
  EXPECT_TRUE(fs::exists("quor.qrn"));
  EXPECT_EQ(run_inst_update.load(), 1);
  run_inst_update = 0;
  ASSERT_TRUE(program_load(nullptr, 0));
  EXPECT_EQ(run_inst_update.load(), 1);
  EXPECT_EQ(dump_program(), expect);
}

// A block that the loader re-validates near the end of its variable: the
// count row comes after the reference row and must not move it again.
TEST_F(ProgramFile, RevalidatedRowsRoundTrip) {
  ins(0, "All");
  Control* alarm = ins(27, "Alarm", 0);
  Iparam p{.type = ptype::Ref};
  ASSERT_TRUE(ref_resolve("vend[65534]", &p.ref));
  ASSERT_TRUE(alarm->sparam(&p, 0, 1));
  p = {.type = ptype::Dec, .value = 7};
  ASSERT_TRUE(alarm->sparam(&p, 0, 2));
  std::string before = dump_program();
  EXPECT_NE(before.find("27 Alarm: 263=Null 263=vend[65529] 3=7"), std::string::npos) << before;
  ASSERT_TRUE(program_save("all.qrn"));
  program_new(false);
  ASSERT_TRUE(program_load("all.qrn", 0));
  EXPECT_EQ(dump_program(), before);
  ASSERT_TRUE(program_save("all2.qrn"));
  EXPECT_EQ(slurp("all.qrn"), slurp("all2.qrn"));
}

// Formulas are stored as text and compile again on the way in.
TEST_F(ProgramFile, FormulasCompileAgain) {
  if (!inst_factory[20]) GTEST_SKIP() << "no Expression class";
  ins(0, "Calc");
  Control* e = ins(20, "sum", 2);
  auto set = [&](u16 g, u16 row, Iparam p) { EXPECT_TRUE(e->sparam(&p, g, row)) << g << ' ' << row; };
  Iparam r{.type = ptype::Ref};
  ref_resolve("y", &r.ref);
  set(1, 0, r);
  Iparam t{.text = "(a + b[2]) * 2", .type = ptype::Text};
  set(1, 2, t);
  t.text = "a +";  // does not compile: kept with its status
  e->sparam(&t, 2, 2);
  ASSERT_TRUE(program_save("f.qrn"));
  ASSERT_TRUE(program_load("f.qrn", 0));
  auto* x = static_cast<Expression*>(loop_start[0]->next->next);
  ASSERT_EQ(x->num(), 20);
  EXPECT_EQ(x->row(0).status, 0);
  EXPECT_GT(x->row(0).nsteps, 0);
  EXPECT_EQ(x->row(1).text, "a +");
  EXPECT_NE(x->row(1).status, 0);
  pIdata a, b;
  current_module = x->prev;
  ASSERT_TRUE(var_name("a", &a, false));
  ASSERT_TRUE(var_name("b[2]", &b, false));  // made with 3 cells by the formula
  a.set(1.5f);
  b.set(2.0f);
  x->evaluate();
  EXPECT_EQ(x->row(0).result.get(), 7.0f);
}

TEST_F(ProgramFile, BackupsAndSafeSave) {
  for (int i = 1; i <= 5; ++i) {
    position_loop(0);
    ins(0, ("v" + std::to_string(i)).c_str());
    ASSERT_TRUE(program_save("p.qrn"));
  }
  auto has = [](const char* f, const char* mod) { return slurp(f).find(mod) != std::string::npos; };
  const char* names[] = {"p.qrn", "p.qrn.bkup", "p.qrn.bkup2", "p.qrn.bkup3", "p.qrn.bkup4"};
  for (int i = 0; i < 5; ++i)  // newest first, each one save older than the one before
    EXPECT_TRUE(has(names[i], ("v" + std::to_string(5 - i)).c_str()) &&
                (i == 0 || !has(names[i], ("v" + std::to_string(6 - i)).c_str())))
        << names[i];
  size_t files = std::distance(fs::directory_iterator("."), fs::directory_iterator());
  EXPECT_EQ(files, 5u);

  // Out of disk space: nothing changes on disk, and the save fails.
  std::string cur = slurp("p.qrn"), b4 = slurp("p.qrn.bkup4");
  fake.free_kib = 0;
  position_loop(0);
  ins(0, "v6");
  std::string name_before = current_prog;
  EXPECT_FALSE(program_save("p.qrn"));
  fake.free_kib = 1u << 20;
  EXPECT_EQ(slurp("p.qrn"), cur);
  EXPECT_EQ(slurp("p.qrn.bkup4"), b4);
  EXPECT_FALSE(fs::exists("p.qrn.tmp"));
  EXPECT_EQ(current_prog, name_before);

  // A directory that cannot be written: false, files untouched.
  EXPECT_FALSE(program_save("nodir/p.qrn"));
}

TEST_F(ProgramFile, RefusedAndCutFiles) {
  build_sample();
  ASSERT_TRUE(program_save("good.qrn"));
  std::string good = slurp("good.qrn");
  std::string sample = dump_program();

  // Missing file and wrong header: the program in memory is untouched.
  EXPECT_FALSE(program_load("missing.qrn", 0));
  spit("bad.qrn", "QUOX" + good.substr(4));
  EXPECT_FALSE(program_load("bad.qrn", 0));
  EXPECT_EQ(dump_program(), sample);

  program_new(false);
  std::string empty = dump_program();

  // Every cut of the file: either a failed load or (cut right after the
  // configuration pages) a successful one, always ending in the empty
  // default program, never a part of the sample.
  size_t pages_end = good.find(std::string("\0\0Loop_1\0", 9));
  ASSERT_NE(pages_end, std::string::npos);
  for (size_t n = 5; n < good.size(); ++n) {
    build_sample();
    std::string part = good.substr(0, n);
    FILE* f = fmemopen(part.data(), part.size(), "rb");
    bool ok = program_load_stream(f, "cut.qrn", 0);
    std::fclose(f);
    EXPECT_EQ(ok, n == pages_end) << n;
    ASSERT_EQ(dump_program(), empty) << n;
  }
  EXPECT_TRUE(program_load("good.qrn", 0));
  EXPECT_EQ(dump_program().size(), sample.size() - 45);  // the long text cut
}

// Builds a file by hand: header, no formats, no pages, then records.
struct FileBuilder {
  std::string b{"QUOR\0", 5};
  FileBuilder() {
    u16v(0);
    b.push_back(0);
  }
  void u16v(u16 v) {
    b.push_back(char(v & 0xFF));
    b.push_back(char(v >> 8));
  }
  void str(const std::string& s) {
    b += s;
    b.push_back(0);
  }
  void module(const char* name) {
    u16v(0);
    str(name);
    u16v(0), u16v(0), u16v(0);
  }
  FileBuilder& modules(std::initializer_list<const char*> names) {
    for (const char* m : names) module(m);
    return *this;
  }
};

TEST_F(ProgramFile, ReaderLimitsAndStructure) {
  auto with = [](auto extra) {
    FileBuilder f;
    f.modules({"Loop_1", "Loop_2", "Loop_3", "Loop_4"});
    extra(f);
    return f.modules({"End"}).b;
  };
  auto record = [](FileBuilder& f, u16 rows, u16 groups, u16 group_rows) {
    f.u16v(TestInst::type);
    f.str("x");
    f.u16v(rows), f.u16v(groups), f.u16v(group_rows);
    for (u32 i = 0; i < rows + u32(groups) * group_rows; ++i) {
      f.u16v(ptype::Dec);
      f.u16v(0), f.u16v(0);
    }
  };
  spit("ok.qrn", with([&](FileBuilder& f) { record(f, 30, 128, 10); }));
  EXPECT_TRUE(program_load("ok.qrn", 0));
  EXPECT_EQ(loop_start[3]->next->desc, "x");
  EXPECT_EQ(static_cast<TestInst*>(loop_start[3]->next)->groups.size(), 128u);

  for (auto [r, g, gr] : {std::tuple{31, 0, 0}, {0, 129, 1}, {0, 1, 11}}) {
    spit("big.qrn", with([&](FileBuilder& f) { record(f, u16(r), u16(g), u16(gr)); }));
    EXPECT_FALSE(program_load("big.qrn", 0)) << r << ' ' << g << ' ' << gr;
    EXPECT_EQ(loop_start[0]->next, loop_start[1]);  // the empty default
  }

  // A reference by name creates the variable, "v[3]" with 4 cells; an
  // unknown type is skipped with its parameters.
  spit("ref.qrn", with([&](FileBuilder& f) {
         f.u16v(31), f.str("unknown"), f.u16v(1), f.u16v(0), f.u16v(0);
         f.u16v(ptype::Ref), f.str("ghost");
         f.u16v(TestInst::type), f.str("y"), f.u16v(1), f.u16v(0), f.u16v(0);
         f.u16v(ptype::Ref), f.str("v[3]");
       }));
  if (!inst_factory[31]) {
    ASSERT_TRUE(program_load("ref.qrn", 0));
    auto* y = static_cast<TestInst*>(loop_start[3]->next);
    ASSERT_EQ(y->desc, "y");
    EXPECT_EQ(y->in.var->name, "v");
    EXPECT_EQ(y->in.var->size, 3);
    EXPECT_EQ(y->in.index, 3);
    pIdata ghost;
    EXPECT_FALSE(var_name("ghost", &ghost, false));
  }

  // Structure: the standard modules in order, "Loop_1" first, nothing after
  // "End" but its screen.
  FileBuilder nosection;
  nosection.u16v(0xFFFF);
  for (const std::string& b : {FileBuilder().modules({"Loop_1", "Loop_2", "Loop_2", "Loop_3", "Loop_4", "End"}).b,
                               FileBuilder().modules({"Other", "Loop_1", "Loop_2", "Loop_3", "Loop_4", "End"}).b,
                               FileBuilder().modules({"Loop_1", "Loop_2", "Loop_3", "Loop_4", "End", "More"}).b,
                               nosection.b}) {
    spit("s.qrn", b);
    EXPECT_FALSE(program_load("s.qrn", 0));
    EXPECT_EQ(dump_program().find("Other"), std::string::npos);
  }

  // Format lists: at most 300 lines a list, each cut to 14000 characters;
  // configuration pages: at most 1024 groups (a page past the eleventh is
  // read and dropped, limits and all).
  auto prefixed = [](auto head) {
    FileBuilder f;
    f.b.resize(5);
    head(f);
    return f.modules({"Loop_1", "Loop_2", "Loop_3", "Loop_4", "End"}).b;
  };
  auto formats = [&](int lines, size_t len) {
    return prefixed([&](FileBuilder& f) {
      f.u16v(2);
      f.str("\x01");
      for (int i = 0; i < lines; ++i) f.str(std::to_string(i) + std::string(len, 'f'));
      f.str("\x01");
      f.b.push_back(0);
    });
  };
  spit("fmt.qrn", formats(300, 14001));
  ASSERT_TRUE(program_load("fmt.qrn", 0));
  ASSERT_EQ(hmi_.formats[1].size(), 300u);
  EXPECT_EQ(hmi_.formats[1][0].size(), 14000u);
  spit("fmt.qrn", formats(301, 1));
  EXPECT_FALSE(program_load("fmt.qrn", 0));
  auto pages = [&](u16 groups) {
    return prefixed([&](FileBuilder& f) {
      f.u16v(0);
      f.b.push_back(12);
      for (int i = 0; i < 11; ++i) f.u16v(0), f.u16v(0), f.u16v(0);
      f.u16v(0), f.u16v(groups), f.u16v(0);
    });
  };
  spit("pg.qrn", pages(1024));
  EXPECT_TRUE(program_load("pg.qrn", 0));
  spit("pg.qrn", pages(1025));
  EXPECT_FALSE(program_load("pg.qrn", 0));
  EXPECT_EQ(loop_start[0]->next, loop_start[1]);
}

TEST_F(ProgramFile, ScreensAndFormats) {
  build_sample();
  static_cast<TestInst*>(loop_start[0]->next->next)->text = "short";
  hmi_.formats[0] = {"Off~On", "Low~High"};
  hmi_.formats[TestInst::type] = {"In}Text}Gain"};
  auto* o = hmi_.add(static_cast<Module*>(loop_start[0]->next), 2, "lamp");
  o->x = 40;
  ref_resolve("tank[3]", &o->ref);  // a "Pumps" variable
  o->fmt = 2;
  hmi_.add(static_cast<Module*>(loop_start[4]), 0, "frame");
  ASSERT_TRUE(program_save("s.qrn"));
  std::string with_screens = slurp("s.qrn");

  // Loaded with screens: objects, their references and formats return.
  hmi_.formats[0].clear();
  hmi_.formats[TestInst::type].clear();
  ASSERT_TRUE(program_load("s.qrn", 3));
  auto& pumps = hmi_.of(loop_start[0]->next);
  ASSERT_EQ(pumps.size(), 1u);
  EXPECT_EQ(pumps[0]->name, "lamp");
  EXPECT_EQ(pumps[0]->x, 40u);
  EXPECT_EQ(pumps[0]->fmt, 2u);
  EXPECT_EQ(pumps[0]->ref.var, static_cast<TestInst*>(loop_start[0]->next->next)->in.var);
  EXPECT_EQ(hmi_.of(loop_start[4]).size(), 1u);
  EXPECT_EQ(hmi_.formats[0].size(), 2u);
  EXPECT_EQ(hmi_.slot[3], nullptr);  // the session's insertion slot is cleared
  ASSERT_TRUE(program_save("s2.qrn"));
  ASSERT_TRUE(program_load("s2.qrn", 0));
  ASSERT_TRUE(program_save("s3.qrn"));
  EXPECT_EQ(slurp("s2.qrn"), slurp("s3.qrn"));
  EXPECT_EQ(slurp("s2.qrn").size(), with_screens.size());

  // Without a screens subsystem the same file loads, objects skipped.
  std::string program = dump_program();
  {
    HookGuard guard(hmi_file_hooks);
    hmi_file_hooks = HmiFileHooks{};
    ASSERT_TRUE(program_load("s.qrn", 0));
    EXPECT_EQ(dump_program(), program);
    ASSERT_TRUE(program_save("bare.qrn"));
  }
  EXPECT_LT(slurp("bare.qrn").size(), with_screens.size());
  EXPECT_EQ(slurp("bare.qrn").find("lamp"), std::string::npos);
}

TEST_F(ProgramFile, ModuleImport) {
  // The file to import from: modules "Pumps" (with a screen) and "Valves".
  build_sample();
  hmi_.formats[0] = {"unused", "Off~On"};
  auto* lamp = hmi_.add(static_cast<Module*>(loop_start[0]->next), 2, "lamp");
  ref_resolve("tank[3]", &lamp->ref);
  lamp->fmt = 2;
  ASSERT_TRUE(program_save("other.qrn"));
  program_new(false);
  hmi_.formats[0] = {"Mine", "Off~On"};

  FILE* f = std::fopen("other.qrn", "rb");
  ASSERT_TRUE(f);
  std::string n;

  // Import "Pumps" into loop 2 of the empty program, the cursor mid-module.
  position_loop(1);
  ins(0, "Here");
  ti("h1");
  ti("h2");
  current_instruction = current_instruction->prev;  // on h1
  std::rewind(f);
  STR_PTR list;
  ASSERT_TRUE(find_first_module(f, &list));
  move_next_module(f, n);  // past "Loop_1"
  ASSERT_TRUE(module_insert(f, &list, 0));
  Control* pumps = current_module;
  EXPECT_EQ(pumps->desc, "Pumps");
  EXPECT_EQ(pumps->prev->desc, "h2");  // after the module's last instruction
  EXPECT_EQ(loop_of(pumps), 1);
  auto* level = static_cast<TestInst*>(pumps->next);
  EXPECT_EQ(level->desc, "level");
  EXPECT_EQ(level->in.var, pumps->rvar()->next);  // the new module's own tank
  EXPECT_EQ(level->file_pos, 0u);
  auto& objs = hmi_.of(pumps);
  ASSERT_EQ(objs.size(), 1u);
  EXPECT_EQ(objs[0]->ref.var, level->in.var);
  EXPECT_EQ(objs[0]->fmt, 2u);  // "Off~On" found again at line 2 here
  EXPECT_EQ(hmi_.formats[0].size(), 2u);

  // Standard modules are refused; so is a file cut inside a record, which
  // leaves nothing behind.
  std::rewind(f);
  find_first_module(f, nullptr);
  EXPECT_FALSE(module_insert(f, nullptr, 0));  // "Loop_1"
  std::fclose(f);
  std::string bytes = slurp("other.qrn");
  std::string before = dump_program();
  size_t at = bytes.find(std::string("Valves\0", 7));
  spit("cut.qrn", bytes.substr(0, at + 12));
  f = std::fopen("cut.qrn", "rb");
  ASSERT_TRUE(find_first_module(f, nullptr));
  for (int i = 0; i < 4; ++i) move_next_module(f, n);
  EXPECT_FALSE(module_insert(f, nullptr, 0));
  std::fclose(f);
  EXPECT_EQ(dump_program(), before);
}

// The cipher against a bit-at-a-time model of the same shift register.
TEST(Cipher, MatchesRegisterModelAndInverts) {
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) {
    u32 key = rng(), s1 = rng(), s2 = s1, s3 = s1, model = s1;
    u8 data = u8(rng());
    for (int k = 0; k < 8; ++k) model = (model << 1) | u32(std::popcount(model & key) & 1);
    u8 c = encrypt(data, &s1, key);
    EXPECT_EQ(s1, model);
    EXPECT_EQ(c, u8(model ^ data));
    EXPECT_EQ(encrypt(c, &s2, key), data);  // the same operation deciphers
    encrypt(0, &s3, key);
    EXPECT_EQ(s3, s1);
  }
}

}  // namespace
