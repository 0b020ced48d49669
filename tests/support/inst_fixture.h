// Fixture for instruction tests: instructions at the end of "Loop_1" of the
// empty program, variables in its scope, parameter shorthands, and scans
// either direct (execute() with the loop's values set by hand) or through
// the engine with the manual clock.
#pragma once
#include <cmath>
#include <vector>

#include "core/module.h"
#include "core/registry.h"
#include "tests/support/fixture.h"

class InstTest : public ProgramTest {
 protected:
  Ivar* var(const char* name, u16 size = 0) { return new Ivar(system_var(), name, size); }
  Control* add(u16 type, u16 n = 0) {
    Control* last = loop_start[0];
    while (last->next && last->next != loop_start[1]) last = last->next;
    return inst_create(type, last, "test", n);
  }
  static bool set(Control* c, u16 row, Iparam p, u16 group = 0) { return c->sparam(&p, group, row); }
  static bool ref(Control* c, u16 row, Ivar* v, u16 i = 0, u16 group = 0) {
    Iparam p;
    p.type = ptype::Ref;
    p.ref = {v, i};
    return set(c, row, p, group);
  }
  static bool num(Control* c, u16 row, u16 type, u32 v, u16 group = 0) {
    return set(c, row, {.type = type, .value = v}, group);
  }
  static bool flt(Control* c, u16 row, float v, u16 group = 0) {
    return num(c, row, ptype::Float, float_bits(v), group);
  }
  static Iparam get(Control* c, u16 row, u16 group = 0) {
    Iparam p;
    EXPECT_TRUE(c->gparam(&p, group, row)) << "row " << row;
    return p;
  }
  static pIdata get_ref(Control* c, u16 row, u16 group = 0) { return get(c, row, group).ref; }

  // Direct scan in loop 0 at a loop date; the first one after new_run() is
  // the first scan of a run.
  void new_run() { first_pass[0] = 0; }
  void scan(Control* c, u32 date = 0) {
    current_loop_exec = 0;
    run_date[0] = date;
    c->execute();
    first_pass[0] = 1;
  }
  // One scan per row: writes the row's first ins.size() values into the
  // input cells (a cell without a variable is the loop date), scans, and
  // compares the output cells with the rest. NaN: leave or skip the cell.
  struct Cell {
    Ivar* v;
    u16 i = 0;
  };
  void drive(Control* c, std::vector<Cell> ins, std::vector<Cell> outs,
             std::vector<std::vector<float>> rows) {
    for (size_t n = 0; n < rows.size(); ++n) {
      const auto& r = rows[n];
      u32 date = 0;
      for (size_t k = 0; k < ins.size(); ++k)
        if (!std::isnan(r[k])) ins[k].v ? ins[k].v->set(ins[k].i, r[k]) : void(date = u32(r[k]));
      scan(c, date);
      for (size_t k = 0; k < outs.size(); ++k) {
        if (std::isnan(r[ins.size() + k])) continue;
        EXPECT_EQ(outs[k].v->get(outs[k].i), r[ins.size() + k]) << "row " << n << " out " << k;
      }
    }
  }
  // Through the engine: a run start, and one complete pass of "Loop_1" at
  // the next second.
  void engine_start() { start_run(); }
  void engine_scan() {
    fake.advance_us(1000000 - dtime.load());
    for (int i = 0; i < 10000; ++i) {
      exec_iteration();
      if (run_status[0].load() == 0 && run_instruction == nullptr) return;
      fake.advance_us(10);
    }
    ADD_FAILURE() << "the pass of Loop_1 did not end";
  }
};

inline const float X = NAN;  // drive(): no value
