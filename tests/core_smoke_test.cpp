#include "tests/support/fixture.h"

using CoreSmoke = ProgramTest;

TEST_F(CoreSmoke, EmptyProgramHasFiveModules) {
  ASSERT_NE(loop_start[0], nullptr);
  EXPECT_EQ(loop_start[0]->desc, "Loop_1");
  EXPECT_EQ(loop_start[4]->desc, "End");
  EXPECT_EQ(system_var()->size, 11775);
}
