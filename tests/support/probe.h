// A test instruction that records when and in which loop it executed.
#pragma once
#include <vector>

#include "core/control.h"
#include "core/engine.h"

struct ProbeHit {
  int id;
  u16 loop;
  i32 usec;
};

class Probe : public Control {
 public:
  Probe(Control* prev, int id, std::vector<ProbeHit>* log) : Control(prev, "probe"), id_(id), log_(log) {}
  u16 num() const override { return 23; }  // any instruction type; never saved
  Control* execute() override {
    log_->push_back({id_, current_loop_exec, dtime.load()});
    return next;
  }

 private:
  int id_;
  std::vector<ProbeHit>* log_;
};
