// The screen object model: rows, clamps, live values, operator writes,
// moves, format lists, copies between modules and the program file.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "core/engine.h"
#include "expr/names.h"
#include "hmi/hmi_types.h"
#include "hmi/session.h"
#include "program/cursor.h"
#include "program/editing.h"
#include "program/file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_inst.h"

namespace {

class Screens : public TestInstProgram {
 protected:
  void SetUp() override {
    TestInstProgram::SetUp();
    for (int s = 0; s < HMI_SLOTS; ++s) priority[s] = priority_hi[s] = 255;
  }
  void TearDown() override {
    TestInstProgram::TearDown();
    for (int s = 0; s < HMI_SLOTS; ++s) priority[s] = priority_hi[s] = 255;
  }
  // A new module after the cursor's module, with instructions; the cursor
  // stays on its last instruction.
  Module* module(const char* name, std::initializer_list<const char*> insts = {}) {
    EXPECT_TRUE(program_instruction(0, name, 0));
    auto* m = static_cast<Module*>(current_module);
    for (const char* i : insts) EXPECT_TRUE(program_instruction(TestInst::type, i, 1));
    return m;
  }
  static HMI_object* add(int slot, u16 type, const char* name) {
    EXPECT_TRUE(hmi_insert(type, name, 0, slot)) << name;
    return current_hmi_obj[slot];
  }
  static bool set(HMI_object* o, u16 row, u16 type, u32 value) {
    Iparam p{};
    p.set_uint(type, value);
    return o->sparam(&p, 0, row);
  }
  static bool set_text(HMI_object* o, u16 row, u16 type, const char* text) {
    Iparam p{};
    p.type = type;
    p.text = text;
    return o->sparam(&p, 0, row);
  }
  static bool set_ref(HMI_object* o, u16 row, const char* name) {
    Iparam p{};
    p.type = ptype::Ref;
    EXPECT_TRUE(hmi_resolve(o->module, name, &p.ref)) << name;
    return o->sparam(&p, 0, row);
  }
  // One row write: a text, a variable (type Ref) or a number.
  struct Row {
    u16 row, type;
    u32 value;
    const char* text = nullptr;
  };
  // An object after the slot's current one, its rows written in order.
  static HMI_object* make(int slot, u16 type, const char* name, std::initializer_list<Row> rows = {}) {
    HMI_object* o = add(slot, type, name);
    for (const Row& r : rows)
      EXPECT_TRUE(r.type == ptype::Ref ? set_ref(o, r.row, r.text)
                  : r.text             ? set_text(o, r.row, r.type, r.text)
                                       : set(o, r.row, r.type, r.value))
          << name << " row " << r.row;
    return o;
  }
  // A record as "type index value: extras text".
  static std::string rec(const Iparam& p) {
    std::string s = std::to_string(p.type) + " " + std::to_string(p.ref.index) + " " + std::to_string(p.value) + ":";
    for (int i = 0; i < p.count; ++i) s += " " + std::to_string(p.arr[i]);
    return p.text ? s + " " + p.text : s;
  }
  static Iparam get(HMI_object* o, u16 row) {
    Iparam p{};
    EXPECT_TRUE(o->gparam(&p, 0, row));
    return p;
  }
  static std::string names(Module* m) {
    std::string s;
    for (HMI_object* o = m->objects; o; o = o->next) {
      EXPECT_EQ(o->module, m);
      if (o->next) {
        EXPECT_EQ(o->next->prev, o);
      }
      s += (s.empty() ? "" : " ") + o->name;
    }
    return s;
  }
  static Ivar* var(Module* m, const char* name) {
    for (Ivar* v = m->rvar(); v; v = v->next)
      if (v->name == name) return v;
    return nullptr;
  }
};

constexpr u32 F(float f) { return std::bit_cast<u32>(f); }

std::string slurp(const char* f) {
  std::ifstream in(f, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Row counts bound every access and match the rows the descriptor names.
TEST_F(Screens, ShapesAndRowBounds) {
  const u16 rows[HMI_TYPES] = {4, 7, 13, 6, 6, 19, 15};
  hmi_build();
  for (u16 t = 0; t < HMI_TYPES; ++t) {
    HMI_object* o = hmi_create(t, nullptr, "o", 0);
    ASSERT_NE(o, nullptr);
    Ilparam sh{}, ex{};
    EXPECT_TRUE(o->lparam(&sh) && o->lexec(&ex));
    EXPECT_EQ(sh.rows, rows[t]) << t;
    EXPECT_EQ(sh.groups + sh.group_rows + ex.groups + ex.group_rows, 0);
    EXPECT_EQ(ex.rows, 1);
    const char* d = o->dparam();
    EXPECT_EQ(std::count(d, d + std::strlen(d), '}') + 1, rows[t]) << d;
    Iparam p{};
    EXPECT_FALSE(o->gparam(&p, 0, rows[t]));
    EXPECT_FALSE(o->gparam(&p, 1, 0));
    hmi_delete(t, o);
  }
  EXPECT_EQ(hmi_create(7, nullptr, "x", 0), nullptr);
}

TEST_F(Screens, RowWritesClampRefuseAndReadBack) {
  struct Case {
    u16 type, row, ptype;
    u32 in;
    bool ok;
    u32 back;
  } cases[] = {
      {0, 0, 13, u32(-7), true, u32(-7)},      // x keeps its sign
      {0, 1, 14, 12, true, 12},
      {0, 2, 12, 0xDEADBEEF, true, 0xDEADBEEF},
      {0, 3, 3, 0, true, 1},                   // security 0 stores 1
      {0, 3, 3, 300, true, 255},
      {0, 3, 5, 4, false, 1},                  // wrong type code
      {1, 4, 5, 3, false, 0},                  // window control past Close
      {1, 4, 5, 2, true, 2},
      {1, 5, 5, 4, true, 4},                   // End
      {1, 5, 5, 5, false, 0},
      {2, 5, 3, 999, true, 255},
      {2, 6, 5, 40, true, 12},
      {2, 8, 5, 7, true, 1},                   // override flag
      {2, 9, 0, F(-2.5f), true, F(-2.5f)},
      {2, 11, 5, 30, true, 11},
      {2, 12, 16, 5, true, 5},
      {3, 5, 3, 0, true, 0},                   // write level as given
      {4, 5, 5, 9, true, 3},
      {5, 4, 5, 9, true, 7},
      {5, 4, 3, 2, true, 2},                   // a decimal is accepted too
      {5, 7, 5, 12, true, 9},
      {5, 18, 5, 3, true, 1},
      {6, 4, 5, 7, true, 4},
      {6, 4, 3, 2, false, 0},
      {6, 8, 3, 1024, true, 1024},
      {6, 9, 3, 1025, true, 0},                // past the last bin
      {6, 14, 5, 5, true, 1},
  };
  for (const Case& c : cases) {
    HMI_object* o = hmi_create(c.type, nullptr, "o", 0);
    SCOPED_TRACE(testing::Message() << "type " << c.type << " row " << c.row << " in " << c.in);
    EXPECT_EQ(set(o, c.row, c.ptype, c.in), c.ok);
    Iparam p = get(o, c.row);
    EXPECT_EQ(p.value, c.back);
    hmi_delete(c.type, o);
  }
}

TEST_F(Screens, TextRowsAndCaptions) {
  auto* b = static_cast<Button*>(hmi_create(1, nullptr, "b", 0));
  EXPECT_TRUE(set_text(b, 6, 267, "Boiler"));
  EXPECT_TRUE(set_text(b, 6, 267, ""));  // accepted, changes nothing
  EXPECT_TRUE(set_text(b, 6, 267, nullptr));
  EXPECT_FALSE(set_text(b, 6, 264, "x"));
  EXPECT_STREQ(get(b, 6).text, "Boiler");

  auto* g = static_cast<Grafv*>(hmi_create(5, nullptr, "g", 0));
  EXPECT_TRUE(set_text(g, 14, 264, "Pump"));
  EXPECT_TRUE(set_text(g, 17, 264, std::string(60, 'z').c_str()));
  EXPECT_STREQ(get(g, 14).text, "Pump");
  EXPECT_STREQ(get(g, 13).text, "");
  EXPECT_EQ(std::string(get(g, 17).text), std::string(47, 'z'));
  ASSERT_EQ(g->captions.size(), 239u);
  EXPECT_EQ(g->captions.substr(48, 48), "Pump" + std::string(43, ' ') + "~");
  EXPECT_EQ(g->captions.substr(192), std::string(47, 'z'));
  hmi_delete(1, b);
  hmi_delete(5, g);
}

TEST_F(Screens, GraphLimitsConstantsVariablesAndNumbers) {
  Module* m = module("Tank");
  current_hmi_mod[0] = m;
  auto* g = static_cast<Grafv*>(add(0, 5, "g"));
  {
    Iparam p{};
    ASSERT_TRUE(hmi_resolve(m, "top", &p.ref));
    p.ref.set(80.0f);
  }
  const std::string too_long(257, '1');
  struct Case {
    u16 row;
    const char* text;
    bool ok;
    float value;
    bool bound;
  } cases[] = {
      {5, "12.5", true, 12.5f, false},
      {5, "a b", false, 0.0f, false},       // neither variable nor number
      {5, too_long.c_str(), false, 0.0f, false},  // refused, nothing changes
      {5, "fresh", true, 0.0f, true},       // made, like every screen reference
      {6, "top", true, 80.0f, true},
      {6, "", true, 100.0f, false},         // back to the default
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(set_text(g, c.row, ptype::Text, c.text), c.ok);
    EXPECT_EQ(c.row == 5 ? g->min : g->max, c.value);
    EXPECT_EQ((c.row == 5 ? g->min_var : g->max_var).var != nullptr, c.bound);
  }
  EXPECT_NE(var(m, "fresh"), nullptr);
  // Kind Variable: the rows read as texts and the graph follows the cell.
  EXPECT_TRUE(set_text(g, 6, ptype::Text, "top"));
  EXPECT_EQ(get(g, 6).type, ptype::Float);
  EXPECT_TRUE(set(g, 18, ptype::Select, 1));
  EXPECT_EQ(get(g, 6).type, ptype::Text);
  EXPECT_STREQ(get(g, 6).text, "top");
  var(m, "top")->set(0, 90.0f);
  Iparam r = hmi_record(0);
  g->gexeci(&r);
  EXPECT_EQ(r.arr[1], F(90.0f));
}

TEST_F(Screens, LiveValues) {
  Module* m = module("Plant");
  current_hmi_mod[0] = m;
  auto* v = static_cast<Variable*>(make(0, 2, "v", {{4, ptype::Ref, 0, "x[2]"}}));
  struct Case {
    u8 fmt;
    float cell;
    u32 value;
    u16 type, index;
  } cases[] = {
      {2, 1.25f, F(1.25f), 0, 2},
      {6, -3.0f, F(-3.0f), 0, 6},
      {8, 12.7f, 12, 3, 0},
      {8, -5.9f, u32(-5), 3, 0},
      {8, NAN, 0, 3, 0},
      {9, 3.0e9f, 3000000000u, 4, 0},
      {9, 1.0e20f, 0xFFFFFFFFu, 4, 0},
      {7, 90.0f, 90, 2, 0},
      {10, 2.0f, 2, 5, 0},
      {11, 86400.0f, 86400, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << int(c.fmt) << " cell " << c.cell);
    v->fmt = c.fmt;
    v->var.set(c.cell);
    Iparam g = hmi_record(0), l = hmi_record(0);
    v->gexec(&g);
    v->gexecv(&l);
    EXPECT_EQ(g.type, c.type);
    EXPECT_EQ(g.ref.index, c.index);
    EXPECT_EQ(l.value, c.value);
  }
  v->fmt = 12;
  Iparam l = hmi_record(0);
  v->gexecv(&l);
  EXPECT_EQ(l.value, timec.load());
  v->var = pIdata{};
  v->fmt = 8;
  v->gexecv(&l);
  EXPECT_EQ(l.value, 0u);

  // gexeci: the static extras (whether the slot may write is in the
  // "rhmi" replies of ScreenCommands.LiveValuesAndTheScreenSwitch).
  HMI_format_insert(0, "Off~On");
  EXPECT_TRUE(set(v, 7, ptype::SelSet, 0x101));  // low 8 bits: entry 1
  v->widget = 4;
  Iparam i = hmi_record(3);
  v->gexeci(&i);
  EXPECT_STREQ(i.text, "Off~On");
  EXPECT_EQ(i.count, 5);
  EXPECT_EQ(i.arr[2], OVERFLOW_BITS);
  EXPECT_EQ(i.arr[4], 0xFFFFFFFFu);
  Iparam e = hmi_record(3);
  v->gexec(&e);
  EXPECT_EQ(e.count, 1);
  EXPECT_EQ(e.arr[0], 4u);

  // The other types.
  auto* r = make(0, 4, "r", {{4, ptype::Text, 0, "help.html"}, {5, ptype::Select, 2}});
  Iparam rp = hmi_record(0);
  r->gexec(&rp);
  EXPECT_EQ(rec(rp), "264 0 0: 2 help.html");
  r->gexeci(&rp);
  EXPECT_EQ(rp.count, 0);
  auto* gv = make(0, 5, "gv", {{9, ptype::Ref, 0, "x[2]"}});
  Iparam gp = hmi_record(0);
  gv->gexecv(&gp);
  EXPECT_EQ(gp.value, timec.load());
  EXPECT_EQ(std::vector<u32>(gp.arr, gp.arr + gp.count), (std::vector<u32>{OVERFLOW_BITS, F(86400.0f), OVERFLOW_BITS, OVERFLOW_BITS, OVERFLOW_BITS}));
  auto* gb = make(0, 6, "gb", {{4, ptype::Select, 2}, {10, ptype::Dec, 17}, {14, ptype::Select, 1}});
  Iparam bb = hmi_record(0);
  gb->gexeci(&bb);
  EXPECT_EQ(rec(bb), "18 2 0: 0 " + std::to_string(F(100.0f)) + " 3 0 0 17 0 0 1");
  Iparam f = hmi_record(0);
  EXPECT_TRUE(add(0, 0, "frame")->gexec(&f));
  EXPECT_EQ(f.type, HMI_NO_DISPLAY);
}

TEST_F(Screens, OperatorWrites) {
  Module* m = module("Plant");
  current_hmi_mod[0] = m;
  auto* v = static_cast<Variable*>(add(0, 2, "v"));
  ASSERT_TRUE(set_ref(v, 4, "x"));
  struct Case {
    u8 lo, hi;        // the slot's range (255 255: not logged in)
    u8 ws, fmt;
    float min, max;
    u16 type;
    u32 value;
    bool ok;
    float cell;
  } cases[] = {
      {2, 5, 3, 8, 0, 255, 3, 300, true, 255.0f},         // clamped
      {2, 5, 3, 8, 0, 255, 3, u32(-4), true, 0.0f},       // signed, then clamped
      {2, 5, 3, 8, OVERFLOW_VALUE, OVERFLOW_VALUE, 3, u32(-4), true, -4.0f},  // as created: no clamp
      {2, 5, 3, 9, 0, 10, 4, 0x80000000u, true, 10.0f},   // hex is unsigned
      {2, 5, 3, 2, 0, 0, 0, F(7.5f), true, 7.5f},
      {2, 5, 3, 10, 0, 1, 5, 7, true, 7.0f},              // selection sets are not clamped
      {2, 5, 6, 2, 0, 0, 0, F(1.0f), false, 0},           // above the range
      {4, 5, 3, 2, 0, 0, 0, F(1.0f), false, 0},           // below it
      {255, 255, 255, 2, 0, 0, 0, F(1.0f), false, 0},     // never logged in
      {2, 5, 3, 2, 0, 0, 3, 1, false, 0},                 // wrong record type
      {2, 5, 3, 2, 0, 0, 0, F(NAN), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "fmt " << int(c.fmt) << " value " << c.value);
    priority[4] = c.lo, priority_hi[4] = c.hi;
    v->write_security = c.ws, v->fmt = c.fmt, v->min = c.min, v->max = c.max;
    v->var.set(-99.0f);
    Iparam p = hmi_record(4);
    p.type = c.type;
    p.value = c.value;
    EXPECT_EQ(v->sexec(&p, 4), c.ok);
    EXPECT_EQ(v->var.get(), c.ok ? c.cell : -99.0f);
  }
  // A missing variable is refused; the base type writes nothing.
  priority[4] = 0, priority_hi[4] = 255;
  v->var = pIdata{};
  v->fmt = 2;
  Iparam p = hmi_record(4);
  p.type = 0;
  EXPECT_FALSE(v->sexec(&p, 4));
  EXPECT_FALSE(add(0, 0, "f")->sexec(&p, 4));
}

// Moves go after the mover's current object, or first without one; other
// slots follow their objects. Deleting a module leaves no slot or mark on
// its screen.
TEST_F(Screens, MovesAndModuleDeletion) {
  Module* m = module("Plant");
  current_hmi_mod[0] = current_hmi_mod[1] = m;
  EXPECT_FALSE(hmi_insert(0, "End", 0, 0));
  EXPECT_FALSE(hmi_insert(0, "a", 0, 2));  // no current screen
  for (const char* n : {"one", "a", "d", "e"}) add(0, 0, n);
  EXPECT_FALSE(hmi_rename("a|b", 0));
  current_hmi_obj[1] = m->objects;  // slot 1 on "one"
  ASSERT_TRUE(HMI_block(1));
  EXPECT_TRUE(HMI_move(0));
  EXPECT_EQ(names(m), "a d e one");
  EXPECT_EQ(current_hmi_obj[0], nullptr);
  EXPECT_EQ(current_hmi_index[1], 4);
  EXPECT_FALSE(HMI_move(0));  // nothing marked
  current_hmi_obj[0] = m->objects->next;  // d
  HMI_block(0);
  EXPECT_TRUE(HMI_move(0));  // onto itself
  EXPECT_EQ(names(m), "a d e one");
  EXPECT_EQ(hmi_block, current_hmi_obj[0]);  // nothing moved: still marked
  current_hmi_obj[0] = nullptr;
  EXPECT_TRUE(HMI_move(0));
  EXPECT_EQ(names(m), "d a e one");
  Module* other = module("Other");
  current_hmi_mod[2] = other;
  current_hmi_obj[0] = m->objects;
  HMI_block(0);
  EXPECT_FALSE(HMI_move(2));  // not on that slot's screen
  ASSERT_EQ(hmi_block, m->objects);
  current_instruction = current_module = m;
  ASSERT_TRUE(program_blockstart());
  current_instruction = m;
  ASSERT_TRUE(program_block() && program_delete());
  EXPECT_EQ(current_hmi_mod[0], nullptr);
  EXPECT_EQ(current_hmi_obj[0], nullptr);
  EXPECT_EQ(hmi_block, nullptr);
  EXPECT_EQ(current_hmi_mod[2], other);
}

TEST_F(Screens, SearchesAndInstructionObjects) {
  Module* m = module("Plant", {"i1", "i2", "i3"});
  Module* n = module("Next", {"j1"});
  Control* i2 = m->next->next;
  EXPECT_EQ(hmi_inst_ptr(m, 2), i2);
  EXPECT_EQ(hmi_inst_ptr(m, 0), nullptr);
  EXPECT_EQ(hmi_inst_ptr(m, 4), nullptr);  // never past the next module
  EXPECT_EQ(hmi_inst_index(m, i2), 2);
  EXPECT_EQ(hmi_inst_index(n, i2), 0);

  current_hmi_mod[0] = m;
  make(0, 2, "v", {{4, ptype::Ref, 0, "level"}});
  make(0, 5, "g", {{10, ptype::Ref, 0, "flow[2]"}});
  make(0, 2, "w", {{4, ptype::Ref, 0, "level"}});
  EXPECT_EQ(hmi_var_use(m, 0, "flow[2]"), 1);
  EXPECT_EQ(hmi_var_use(m, 1, "level"), 2);
  EXPECT_EQ(hmi_var_use(m, 3, "level"), 0);  // wraps round once
  EXPECT_EQ(hmi_var_use(m, 0, "flow"), -1);
  EXPECT_EQ(hmi_var_use(m, 0, "Null"), -1);  // unset references show nothing

  // Row 4 of an Instruction object: position in its own module and format.
  HMI_format_insert(TestInst::type, "A}B");
  HMI_format_insert(TestInst::type, "Gain only");
  auto* io = static_cast<Instruction*>(add(0, 3, "panel"));
  current_hmi_mod[5] = n;  // the asking slot's screen does not matter
  Iparam p{};
  p.user = 5;
  p.set_uint(10, 2 | (2u << 16));
  ASSERT_TRUE(io->sparam(&p, 0, 4));
  EXPECT_EQ(io->inst, i2);
  EXPECT_EQ(get(io, 4).value, 2u | (2u << 16));
  set(io, 4, 10, 2 | (9u << 16));  // a missing format clears both
  EXPECT_EQ(io->inst, nullptr);
  set(io, 4, 10, 2 | (1u << 16));
  current_instruction = i2;
  current_module = m;
  ASSERT_TRUE(program_blockstart() && program_block() && program_delete());
  EXPECT_EQ(io->inst, nullptr);
  EXPECT_EQ(io->screen_format, nullptr);
  EXPECT_EQ(get(io, 4).value, 0u);
}

TEST_F(Screens, FormatLists) {
  EXPECT_EQ(HMI_format_insert(0, "Off~On"), 1);
  EXPECT_EQ(HMI_format_insert(0, "{null}"), 2);
  EXPECT_EQ(HMI_format_insert(0, "{null}"), 3);  // never the same
  EXPECT_EQ(HMI_format_insert(0, "a|b"), 0);
  EXPECT_EQ(HMI_format_insert(0, nullptr), 0);
  EXPECT_EQ(hmi_format_ptr(0, 0), nullptr);
  EXPECT_EQ(hmi_format_index(1, hmi_format_ptr(0, 2)), 0);  // not in that list

  // Deleting an entry: those pointing at it let go, later positions shift.
  Module* m = module("Plant");
  current_hmi_mod[0] = m;
  auto* v = static_cast<Variable*>(make(0, 2, "v", {{7, ptype::SelSet, 2}}));
  per_vformat[1] = hmi_format_ptr(0, 2);
  hmi_format* third = hmi_format_ptr(0, 3);
  EXPECT_FALSE(HMI_format_delete(0, 0));
  EXPECT_TRUE(HMI_format_delete(0, 2));
  EXPECT_EQ(v->selection, nullptr);
  EXPECT_EQ(per_vformat[1], nullptr);
  EXPECT_EQ(hmi_format_ptr(0, 2), third);
  EXPECT_EQ(hmi_format_index(0, third), 2);

  // At most 255 entries per list (positions travel in 8 bits).
  for (int i = 0; i < 300; ++i) HMI_format_append(5, ("f" + std::to_string(i)).c_str());
  EXPECT_EQ(hmi_format_count(5), 255);
  EXPECT_EQ(HMI_format_insert(5, "new"), 0);
  EXPECT_EQ(HMI_format_insert(5, "f254"), 255);
  program_new(false);
  EXPECT_EQ(hmi_format_count(0) + hmi_format_count(5), 0);
}

TEST_F(Screens, CopyRebindsInReceivingModule) {
  Module* a = module("A", {"a1", "a2"});
  Module* b = module("B", {"b1", "b2"});
  HMI_format_insert(TestInst::type, "Panel");
  current_hmi_mod[0] = a;
  HMI_object* objs[] = {
      make(0, 2, "lamp", {{4, ptype::Ref, 0, "level[3]"}, {6, ptype::Select, 8}}),
      // min is made in A, and again in B by the copy
      make(0, 5, "trend", {{8, ptype::Ref, 0, "#shared"}, {5, ptype::Text, 0, "low"}, {18, ptype::Select, 1}}),
      make(0, 3, "panel", {{4, ptype::InstFormat, 2 | (1u << 16)}}),
  };
  auto* g = static_cast<Grafv*>(objs[1]);
  auto* io = static_cast<Instruction*>(objs[2]);
  ASSERT_EQ(io->inst, a->next->next);

  current_hmi_mod[1] = b;
  for (HMI_object* o : objs) {
    current_hmi_obj[0] = o;
    ASSERT_TRUE(HMI_block(0));
    ASSERT_TRUE(HMI_copy(1));
    EXPECT_EQ(hmi_block, nullptr);
  }
  EXPECT_EQ(names(b), "lamp trend panel");
  auto* cv = static_cast<Variable*>(b->objects);
  auto* cg = static_cast<Grafv*>(cv->next);
  auto* ci = static_cast<Instruction*>(cg->next);
  ASSERT_NE(var(b, "level"), nullptr);
  EXPECT_EQ(cv->var.var, var(b, "level"));
  EXPECT_EQ(cv->var.index, 3);
  EXPECT_EQ(var(b, "level")->size, 3);
  EXPECT_EQ(cg->vars[0].var, g->vars[0].var);  // loop scope: the same variable
  EXPECT_EQ(cg->min_var.var, var(b, "low"));
  EXPECT_EQ(ci->inst, b->next->next);
  EXPECT_EQ(ci->screen_format, io->screen_format);
  EXPECT_FALSE(HMI_copy(1));  // nothing marked any more
}

// Every object type through the program file, byte for byte; then the
// module imported into another program, whose format lists it joins, and
// copied as a block: the objects always show their own module.
TEST_F(Screens, SaveLoadImportAndModuleCopy) {
  InTempDir tmp;
  Module* m = module("Plant", {"i1", "i2"});
  HMI_format_insert(0, "Off~On");
  HMI_format_append(0, "");  // an entry without text keeps its place
  HMI_format_insert(0, "A~B~C");
  HMI_format_insert(TestInst::type, "In}Text}Gain");
  current_hmi_mod[0] = m;
  make(0, 0, "frame", {{0, ptype::XPos, u32(-20)}});
  make(0, 1, "go", {{6, ptype::ScreenName, 0, "Boiler"}, {5, ptype::Select, 4}});
  make(0, 2, "lamp", {{4, ptype::Ref, 0, "tank[2]"}, {7, ptype::SelSet, 3}, {10, ptype::Float, F(5.5f)}});
  make(0, 3, "panel", {{4, ptype::InstFormat, 2 | (1u << 16)}});
  make(0, 4, "help", {{4, ptype::Text, 0, "help.html"}});
  // Kind Variable is set last but min/max come first in the file.
  make(0, 5, "trend",
       {{8, ptype::Ref, 0, "tank"},
        {13, ptype::Text, 0, "Tank"},
        {5, ptype::Text, 0, "tank"},
        {6, ptype::Text, 0, "99"},
        {18, ptype::Select, 1}});
  make(0, 6, "bins", {{8, ptype::Dec, 77}});
  m->new_hmi_desc("Plant screen");
  m->screen_settings[2] = 7;
  current_hmi_mod[0] = static_cast<Module*>(loop_start[4]);
  current_hmi_obj[0] = nullptr;
  add(0, 0, "end frame");
  current_hmi_mod[3] = static_cast<Module*>(loop_start[4]);
  current_hmi_obj[3] = current_hmi_obj[0];
  hmi_block = current_hmi_obj[0];

  ASSERT_TRUE(program_save("a.qrn"));
  ASSERT_TRUE(program_load("a.qrn", 2));
  EXPECT_EQ(hmi_block, nullptr);  // nothing points into the old program
  EXPECT_EQ(current_hmi_obj[3], nullptr);
  EXPECT_EQ(current_hmi_mod[2], nullptr);
  ASSERT_TRUE(program_save("b.qrn"));
  EXPECT_EQ(slurp("a.qrn"), slurp("b.qrn"));

  auto* pm = static_cast<Module*>(loop_start[0]->next);
  ASSERT_EQ(pm->desc, "Plant");
  EXPECT_EQ(names(pm), "frame go lamp panel help trend bins");
  EXPECT_EQ(hmi_format_count(0), 3);
  EXPECT_EQ(hmi_format_ptr(0, 2)->name(), nullptr);
  auto* lamp = static_cast<Variable*>(pm->objects->next->next);
  EXPECT_EQ(lamp->selection, hmi_format_ptr(0, 3));
  EXPECT_EQ(lamp->var.var, var(pm, "tank"));
  auto* panel = static_cast<Instruction*>(lamp->next);
  EXPECT_EQ(panel->inst, pm->next->next);
  auto* trend = static_cast<Grafv*>(panel->next->next);
  EXPECT_EQ(trend->kind, 1);
  EXPECT_EQ(trend->min_var.var, var(pm, "tank"));
  EXPECT_EQ(trend->max, 99.0f);
  EXPECT_EQ(trend->caption(0), "Tank");
  EXPECT_EQ(static_cast<Module*>(loop_start[4])->objects->name, "end frame");

  // Import: only the entries the objects use join the lists, found by text.
  program_new(false);
  HMI_format_insert(0, "Mine"), HMI_format_insert(0, "Other"), HMI_format_insert(0, "A~B~C");
  HMI_format_insert(TestInst::type, "x"), HMI_format_insert(TestInst::type, "In}Text}Gain");
  FILE* f = std::fopen("a.qrn", "rb");
  ASSERT_TRUE(f);
  STR_PTR list;
  std::string name;
  ASSERT_TRUE(find_first_module(f, &list));
  move_next_module(f, name);  // past "Loop_1"
  ASSERT_TRUE(module_insert(f, &list, 0));
  std::fclose(f);
  pm = static_cast<Module*>(current_module);
  ASSERT_EQ(pm->desc, "Plant");
  EXPECT_EQ(hmi_format_count(0), 3);
  lamp = static_cast<Variable*>(pm->objects->next->next);
  panel = static_cast<Instruction*>(lamp->next);
  EXPECT_EQ(lamp->selection, hmi_format_ptr(0, 3));
  EXPECT_EQ(lamp->var.var, var(pm, "tank"));
  EXPECT_EQ(panel->inst, pm->next->next);
  EXPECT_EQ(panel->screen_format, hmi_format_ptr(TestInst::type, 2));

  current_instruction = current_module = pm;
  ASSERT_TRUE(program_blockstart() && program_block());
  current_instruction = pm->next->next;
  ASSERT_TRUE(program_copy());
  auto* cm = pm->next_module;
  ASSERT_EQ(cm->desc, "Plant");
  EXPECT_EQ(names(cm), names(pm));
  auto* cv = static_cast<Variable*>(cm->objects->next->next);
  EXPECT_EQ(cv->var.var, var(cm, "tank"));
  EXPECT_NE(cv->var.var, lamp->var.var);
  EXPECT_EQ(static_cast<Instruction*>(cv->next)->inst, cm->next->next);
}

}  // namespace
