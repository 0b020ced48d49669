// Commands sent to a client slot, each with the exact reply it must give.
#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "tests/support/hmi_slot.h"

// A command and its reply; no reply: the command is only sent.
using ReplyScript = std::initializer_list<std::pair<std::string, std::optional<std::string>>>;

inline void expect_replies(HmiSlots& slots, int s, ReplyScript steps) {
  for (const auto& [cmd, reply] : steps) {
    std::string got = slots.ask(s, cmd);
    if (reply) { EXPECT_EQ(got, *reply) << cmd; }
  }
}
