// Shared test fixture: a fake platform with a manual clock and the empty
// standard program, reset before every test.
#pragma once
#include <gtest/gtest.h>

#include "core/config.h"
#include "core/engine.h"
#include "core/module.h"
#include "core/registry.h"
#include "platform/fake.h"
#include "program/program_new.h"

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat = &fake;
    inst_build();
    engine_reset();
    program_new(false);
    fake.set(86400 * 100, 0);  // an ordinary day, at midnight
    update_time();
    timel = timec;
  }
  void TearDown() override {
    program_new(true);
    plat = nullptr;
  }
  // Executes the engine for a span of manual time in steps of step_us.
  void run_for_us(long long span_us, long long step_us = 1000) {
    for (long long t = 0; t < span_us; t += step_us) {
      fake.advance_us(step_us);
      exec_iteration();
    }
  }
  FakePlatform fake;
};
