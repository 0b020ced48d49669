// The command table: keyword, access rule and handler, in dispatch order.
#pragma once
#include <span>
#include <string_view>

#include "hmi/session.h"

enum class Access {
  Any,            // always, also before login
  LoggedIn,       // priority is not 255
  UpToLevel1,     // priority 0 or 1
  Programmer,     // priority 0
  Level1,         // priority exactly 1
  NoProgrammer0,  // slot 0 does not hold a programmer
  ByTarget,       // decided by the command from its target
};

using HmiHandler = void (*)(HmiCommand& c);

struct HmiEntry {
  const char* keyword;
  Access access;
  HmiHandler run;
};

// The first entry whose keyword equals kw, or null.
const HmiEntry* find_command(std::string_view kw);
bool access_met(Access a, int slot);
// The whole table, for tests that check every keyword reaches a handler.
std::span<const HmiEntry> command_table();
