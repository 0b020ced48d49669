#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/registry.h"
#include "expr/names.h"
#include "program/file.h"
#include "instructions/constant.h"
#include "tests/support/fixture.h"
#include "tests/support/temp_dir.h"

namespace {

class ConstantTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    c = static_cast<Constant*>(inst_create(3, loop_start[0], "setpoints", 3));
    current_loop_exec = 0;
  }
  void TearDown() override {
    run_inst_update = 0;
    ProgramTest::TearDown();
  }
  bool set_ref(const char* name) {
    Iparam p{.type = ptype::Ref};
    EXPECT_TRUE(var_name(name, &p.ref, true));
    return c->sparam(&p, 0, 0);
  }
  bool set_choice(u16 row, u32 v) {
    Iparam p;
    p.set_uint(ptype::Select, v);
    return c->sparam(&p, 0, row);
  }
  bool set_value(u16 g, u16 type, u32 v) {
    Iparam p;
    p.set_uint(type, v);
    return c->sparam(&p, g, 0);
  }
  bool set_float(u16 g, float v) { return set_value(g, ptype::Float, float_bits(v)); }
  Iparam get(u16 g, u16 row) {
    Iparam p;
    EXPECT_TRUE(c->gparam(&p, g, row));
    return p;
  }
  Idata cell(const char* name) {
    pIdata r;
    EXPECT_TRUE(var_name(name, &r, false));
    return r.get();
  }
  void poke(const char* name, Idata v) {
    pIdata r;
    ASSERT_TRUE(var_name(name, &r, false));
    r.set(v);
  }
  // One scan of the loop; first says whether it is the run's first.
  void scan(bool first) {
    first_pass[0] = first ? 0 : 1;
    c->execute();
  }
  Constant* c = nullptr;
};

std::string slurp(const char* name) {
  std::ifstream f(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

TEST_F(ConstantTest, RowsResizeAndBlockRule) {
  Ilparam s;
  c->lparam(&s);
  EXPECT_EQ(s.rows, 3);
  EXPECT_EQ(s.group_rows, 2);
  EXPECT_EQ(s.groups, 3);
  EXPECT_TRUE(c->resize(0));
  EXPECT_EQ(c->group_count(), 1);
  c->resize(500);
  EXPECT_EQ(c->group_count(), 128);
  c->resize(10);

  // The block of 10 cells is kept inside 65535 and inside its variable.
  ASSERT_TRUE(set_ref("v[65530]"));
  Iparam p = get(0, 0);
  EXPECT_EQ(p.ref.index, 65526);
  EXPECT_EQ(p.ref.var->size, 65535);
  ASSERT_TRUE(set_ref("w"));
  c->resize(20);  // growing the table grows the variable
  EXPECT_EQ(get(0, 0).ref.var->size, 19);
  EXPECT_TRUE(set_ref("Null"));

  // Choices take type 5 only and clamp; other rows refuse wrong types.
  EXPECT_TRUE(set_choice(1, 9));
  EXPECT_EQ(get(0, 1).value, 4u);
  EXPECT_TRUE(set_choice(2, 7));
  EXPECT_EQ(get(0, 2).value, 3u);
  Iparam d;
  d.set_uint(ptype::Dec, 1);
  EXPECT_FALSE(c->sparam(&d, 0, 1));
  EXPECT_FALSE(c->sparam(&d, 0, 0));
  EXPECT_FALSE(c->gparam(&d, 21, 0));
  EXPECT_FALSE(c->gparam(&d, 1, 2));
}

TEST_F(ConstantTest, ValuesFollowTheDataType) {
  EXPECT_TRUE(set_float(1, 2.75f));
  EXPECT_EQ(get(1, 0).type, ptype::Float);
  EXPECT_EQ(get(1, 0).f(), 2.75f);
  EXPECT_FALSE(set_value(1, ptype::Dec, 5));  // not the current data type

  // Changing the type converts nothing; it changes the exchange.
  set_choice(1, ptype::Dec);
  Iparam p = get(1, 0);
  EXPECT_EQ(p.type, ptype::Dec);
  EXPECT_EQ(p.value, 2u);
  EXPECT_FALSE(set_float(1, 1.0f));
  EXPECT_TRUE(set_value(2, ptype::Dec, 0xFFFFFFFFu));
  EXPECT_NE(get(2, 0).value, 0xFFFFFFFFu);  // the nearest float, truncated
  set_choice(1, ptype::Float);
  EXPECT_EQ(get(2, 0).f(), 4294967296.0f);
  EXPECT_EQ(get(1, 0).f(), 2.75f);
  set_choice(1, ptype::Hex);
  EXPECT_TRUE(set_value(3, ptype::Hex, 0xABCD));
  EXPECT_EQ(get(3, 0).value, 0xABCDu);

  Iparam t;
  t.type = ptype::Text;
  std::string longer(65, 'd');
  t.text = longer.c_str();
  EXPECT_FALSE(c->sparam(&t, 1, 1));
  longer.pop_back();
  EXPECT_TRUE(c->sparam(&t, 1, 1));
  EXPECT_EQ(std::string(get(1, 1).text), longer);
  t.text = "";
  EXPECT_TRUE(c->sparam(&t, 1, 1));
  EXPECT_EQ(get(1, 1).text, nullptr);
}

TEST_F(ConstantTest, Modes) {
  set_ref("sp");
  set_float(1, 10);
  set_float(2, 20);
  set_float(3, 30);

  // {mode to set (-1: as it is), cell a client sets first and its value,
  // whether the scan is the run's first, the cell afterwards}.
  using Step = std::tuple<int, const char*, float, bool, const char*, float>;
  for (auto [mode, name, v, first, at, want] : {Step{-1, nullptr, 0, true, "sp[1]", 20},  // Normal: every scan
                                                Step{-1, "sp[1]", 5, false, "sp[1]", 20},
                                                Step{Constant::Startup, "sp[1]", 5, false, "sp[1]", 5},  // kept
                                                Step{-1, nullptr, 0, true, "sp[1]", 20},
                                                Step{Constant::Disable, "sp[2]", 1, true, "sp[2]", 1},
                                                Step{Constant::Capture, nullptr, 0, true, "sp[2]", 30}}) {
    if (mode >= 0) set_choice(2, u32(mode));
    if (name) poke(name, v);
    scan(first);
    EXPECT_EQ(cell(at), want) << mode << ' ' << at;
  }
  poke("sp[2]", 33);
  scan(false);  // taken into the table
  EXPECT_EQ(get(3, 0).f(), 33.0f);
  set_float(1, 11);  // and a client's set goes to the variable at once
  EXPECT_EQ(cell("sp"), 11.0f);
  scan(false);
  EXPECT_EQ(get(1, 0).f(), 11.0f);
}

TEST_F(ConstantTest, CaptureUpdatesTheProgramFile) {
  InTempDir dir;
  set_ref("sp[2]");
  set_choice(1, ptype::Dec);
  set_choice(2, Constant::Capture);
  for (u16 g = 1; g <= 3; ++g) set_value(g, ptype::Dec, g);
  Iparam t{.text = "second", .type = ptype::Text};
  c->sparam(&t, 2, 1);
  ASSERT_TRUE(program_save(PROGRAM_FILE));
  const u32 pos = c->file_pos;

  scan(true);
  poke("sp[3]", 42.9f);  // row 2
  scan(false);
  EXPECT_EQ(get(2, 0).value, 42u);
  // The file now reads like a fresh save of the program.
  const std::string before = slurp(PROGRAM_FILE);
  ASSERT_TRUE(program_save("fresh.qrn"));
  EXPECT_EQ(slurp("fresh.qrn"), before);
  ASSERT_EQ(c->file_pos, pos);

  // Positions at the first parameter work too.
  u32 vals[3] = {1, 42, 3};
  EXPECT_TRUE(constant_capture_write(PROGRAM_FILE, pos + 6, ptype::Dec, vals));
  EXPECT_EQ(slurp(PROGRAM_FILE), before);

  // Without the saved state, or with a record of another shape, the file
  // stays as it is.
  run_inst_update = 0;
  poke("sp[2]", 5);
  scan(false);
  EXPECT_EQ(slurp(PROGRAM_FILE), before);
  run_inst_update = 1;
  u32 other[3] = {70, 80, 90};
  EXPECT_FALSE(constant_capture_write(PROGRAM_FILE, pos, ptype::Float, other));  // type differs
  EXPECT_FALSE(constant_capture_write(PROGRAM_FILE, pos, ptype::Dec, std::span(other, 2)));
  EXPECT_FALSE(constant_capture_write(PROGRAM_FILE, pos + 1, ptype::Dec, other));
  EXPECT_FALSE(constant_capture_write(PROGRAM_FILE, u32(before.size()) + 100, ptype::Dec, other));
  EXPECT_EQ(slurp(PROGRAM_FILE), before);
  EXPECT_FALSE(constant_capture_write("missing.qrn", pos, ptype::Dec, other));

  // A mismatch after the first row (a description without terminator
  // within 256 bytes) leaves the whole record as it was: not half-patched.
  std::string bad = before;
  // shape 6, reference 2 + "sp[2]" 6, choices 12, value 6, type 2
  size_t desc_at = pos + 6 + 8 + 12 + 6 + 2;
  ASSERT_EQ(u8(bad[desc_at - 2]) | u8(bad[desc_at - 1]) << 8, ptype::Text);
  bad.insert(desc_at, 300, 'x');
  std::ofstream(PROGRAM_FILE, std::ios::binary) << bad;
  EXPECT_FALSE(constant_capture_write(PROGRAM_FILE, pos, ptype::Dec, other));
  EXPECT_EQ(slurp(PROGRAM_FILE), bad);
}

// A capture the file cannot take (gone, or read-only) stays pending and
// reaches the file once it can, without a further change of the cell.
TEST_F(ConstantTest, FailedCaptureWritesAreRetried) {
  InTempDir dir;
  set_ref("sp");
  set_choice(2, Constant::Capture);
  ASSERT_TRUE(program_save(PROGRAM_FILE));
  ASSERT_EQ(run_inst_update, 1);
  const u32 pos = c->file_pos;
  ASSERT_NE(pos, 0u);
  const std::string saved = slurp(PROGRAM_FILE);
  // Stored value of row 1: after the shape 6, reference 2 + "sp" 3,
  // choices 12, value type 2.
  auto stored = [&] {
    std::string s = slurp(PROGRAM_FILE);
    if (s.size() < pos + 29) return 0.0f;
    u32 b;
    std::memcpy(&b, s.data() + pos + 25, 4);
    return std::bit_cast<float>(b);
  };

  float v = 10;
  for (bool read_only : {false, true}) {  // the file vanished, or is read-only
    if (read_only && geteuid() == 0) continue;  // root writes anyway
    scan(true);
    if (read_only) chmod(PROGRAM_FILE, 0444);
    else std::remove(PROGRAM_FILE);
    poke("sp", ++v);
    scan(false);
    EXPECT_EQ(get(1, 0).f(), v) << read_only;  // taken into the table
    if (read_only) chmod(PROGRAM_FILE, 0644);
    else std::ofstream(PROGRAM_FILE, std::ios::binary) << saved;
    EXPECT_NE(stored(), v) << read_only;
    // Tried again a second later, with no new change.
    fake.advance_us(1'000'000);
    update_time();
    scan(false);
    EXPECT_EQ(stored(), v) << read_only;
  }
}
