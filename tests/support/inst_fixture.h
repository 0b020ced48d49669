// Fixture for instruction tests: instructions created into "Loop_1" of the
// empty program, variables in its scope, parameter shorthands, and scans
// either direct (execute() with the engine's per-loop values set by hand) or
// through the engine with the manual clock.
#pragma once
#include "core/module.h"
#include "core/registry.h"
#include "tests/support/fixture.h"

class InstTest : public ProgramTest {
 protected:
  // A variable of "Loop_1"'s scope with cells 0..size.
  Ivar* var(const char* name, u16 size = 0) { return new Ivar(system_var(), name, size); }

  // Creates an instruction at the end of "Loop_1".
  Control* add(u16 type, u16 n = 0) {
    Control* last = loop_start[0];
    while (last->next && last->next != loop_start[1]) last = last->next;
    return inst_create(type, last, "test", n);
  }

  static bool ref(Control* c, u16 row, Ivar* v, u16 index = 0, u16 group = 0) {
    Iparam p;
    p.type = ptype::Ref;
    p.ref = {v, index};
    return c->sparam(&p, group, row);
  }
  static bool num(Control* c, u16 row, u16 type, u32 value, u16 group = 0) {
    Iparam p;
    p.set_uint(type, value);
    return c->sparam(&p, group, row);
  }
  static bool flt(Control* c, u16 row, float value, u16 group = 0) {
    Iparam p;
    p.set_float(value);
    return c->sparam(&p, group, row);
  }
  static Iparam get(Control* c, u16 row, u16 group = 0) {
    Iparam p;
    p.type = 0xFFFF;
    EXPECT_TRUE(c->gparam(&p, group, row)) << "row " << row;
    return p;
  }
  static pIdata get_ref(Control* c, u16 row) { return get(c, row).ref; }

  // Direct scans in loop 0. The first one after new_run() is the run's
  // first scan; date is the loop's date and time in seconds.
  void new_run() { first_pass[0] = 0; }
  void scan(Control* c, u32 date = 0) {
    current_loop_exec = 0;
    run_date[0] = date;
    c->execute();
    first_pass[0] = 1;
  }

  // Through the engine: starts a run, then completes one pass of
  // "Loop_1" per call of engine_scan (one per second in a 1000 ms loop).
  void engine_start() { start_run(); }
  void engine_scan() {
    fake.advance_us(1000000 - dtime.load());  // to the next whole second
    for (int i = 0; i < 10000; ++i) {
      exec_iteration();
      if (run_status[0].load() == 0 && run_instruction == nullptr) return;
      fake.advance_us(10);
    }
    ADD_FAILURE() << "the pass of Loop_1 did not end";
  }
};
