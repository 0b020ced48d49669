// A small instruction class for program tests: a reference, a text and a
// number in fixed rows, and a repeated group of a reference and a count.
// The fixture installs it under a type number for the test's duration.
#pragma once
#include <string>
#include <vector>

#include "core/module.h"
#include "core/registry.h"
#include "core/rows.h"
#include "tests/support/fixture.h"

class TestInst : public WithRows<TestInst> {
 public:
  struct Group {
    pIdata out{};
    u32 n = 0;
  };
  pIdata in{};
  std::string text;
  float gain = 1.0f;
  std::vector<Group> groups;
  static inline u16 type = 12;

  TestInst(Control* prev, const char* desc, u16 n) : WithRows(prev, desc) { resize(n); }
  u16 num() const override { return type; }
  bool resize(u16 n) override {
    groups.resize(std::clamp<u16>(n, 1, 128));
    return true;
  }
  size_t group_count() const { return groups.size(); }
  static const RowTable<TestInst> rows;
};

inline const RowTable<TestInst> TestInst::rows{
    {rows::ref<&TestInst::in>("In"), rows::text<&TestInst::text>("Text", 400),
     rows::num<&TestInst::gain>("Gain", ptype::Float)},
    {rows::gref<&TestInst::groups, &TestInst::Group::out>("Out"),
     rows::gnum<&TestInst::groups, &TestInst::Group::n>("N", ptype::Dec)}};

// The empty program with TestInst installed.
class TestInstProgram : public ProgramTest {
 protected:
  void SetUp() override {
    saved_ = inst_factory[TestInst::type];
    inst_factory[TestInst::type] = &make_instruction<TestInst>;
    ProgramTest::SetUp();
  }
  void TearDown() override {
    ProgramTest::TearDown();
    inst_factory[TestInst::type] = saved_;
  }
  InstFactory saved_ = nullptr;
};
