// One line per figure for bench/run-all, which gathers them into a table:
//   @|figure|value|baseline|ratio|goal|met
// value and baseline carry their unit; ratio is value / baseline.
#pragma once
#include <cstdio>
#include <string>

inline std::string fig(double v, const char* unit, int decimals = 1) {
  char b[64];
  std::snprintf(b, sizeof b, "%.*f %s", decimals, v, unit);
  return b;
}

inline void table_row(const char* figure, const std::string& value, const std::string& baseline, double ratio,
                      const char* goal, bool met) {
  std::printf("@|%s|%s|%s|%.2f|%s|%s\n", figure, value.c_str(), baseline.c_str(), ratio, goal, met ? "yes" : "NO");
  std::fflush(stdout);
}
