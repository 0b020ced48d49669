// A short soak run against the real controller: every write of ten HMI
// sessions and ten Modbus TCP masters reads back as written while a busy
// 10 ms loop and the history writers run, no descriptor is left behind, and
// the controller is still running at the end. Timing is printed, never
// asserted.
#include <gtest/gtest.h>

#include "bench/soak_run.h"

TEST(Soak, ShortRunLosesNothing) {
  soak::Options o;
  o.quor = std::string(QUOR_BINARY_DIR) + "/quor";
  o.seconds = 20;
  soak::Result r = soak::run(o);
  soak::print(r, stdout);
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.alive);
  for (const soak::Kind* k : {&r.hmi, &r.modbus}) {
    EXPECT_GT(k->writes, 100);
    EXPECT_EQ(k->lost, 0) << k->first_problem;
    EXPECT_EQ(k->wrong, 0) << k->first_problem;
  }
  EXPECT_GT(r.passes, 0);             // the loop ran under the load
  EXPECT_GT(r.history_records, 0);    // and so did the history writer
  EXPECT_LE(r.fds_end, r.fds_start);  // every client's descriptor closed
}
