// Formula limits on the real controller: a formula nested 126 deep runs, one
// nested 127 deep is refused with the position of its 127th "(".
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/quor_process.h"

using quorclient::Connection;
using quorclient::Reply;

TEST(IntegrationFormula, NestingLimit) {
  QuorProcess q;
  ASSERT_TRUE(q.start());
  Connection c = q.session();
  ASSERT_EQ(c.login(""), "prog");
  Reply r;
  auto ask = [&](const std::string& line) {
    EXPECT_TRUE(c.command(line, r)) << line;
    return r.lines;
  };
  using L = std::vector<std::string>;
  ask("start");
  ASSERT_EQ(ask("insert|calc|20|1").front(), "  Expression calc");
  // "sconfig" never answers: "term" follows each one.
  auto set_row = [&](const std::string& text, int type, int row) {
    ASSERT_TRUE(c.send_line("sconfig|" + text + "|0|0|" + std::to_string(type) + "|1|" + std::to_string(row)));
    ASSERT_EQ(ask("term"), L{"sync"});
  };
  auto nest = [](int depth) { return std::string(size_t(depth), '(') + "a-b" + std::string(size_t(depth), ')'); };
  set_row("out", 263, 0);

  set_row(nest(127), 264, 2);
  L row = ask("gconfig||0|1");
  ASSERT_EQ(row.size(), 4u);
  EXPECT_EQ(row[1], "127|3");  // the 127th "(" is character 127

  set_row(nest(126), 264, 2);
  row = ask("gconfig||0|1");
  ASSERT_EQ(row.size(), 4u);
  EXPECT_EQ(row[1], "0|3");
  EXPECT_EQ(row[2], nest(126) + "|264");
  ASSERT_EQ(ask("svar|a|" + quorclient::float_to_wire(7.0f)), L{"OK"});
  ASSERT_EQ(ask("svar|b|" + quorclient::float_to_wire(2.0f)), L{"OK"});
  // Loop 1 runs once a second.
  const std::string five = quorclient::float_to_wire(5.0f);
  auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ask("rvar|out") != L{five} && std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ask("rvar|out"), L{five});
}
