// Records of the controller's history files for the graph objects, read
// through the gateway's session (shared by all viewers through SharedReads).
#pragma once
#include <array>
#include <string>

#include "tools/client/client.h"

namespace quorweb {

struct HistoryQuery {
  bool event = false;            // periodic file, or event file
  int file = 0;                  // 0 to 3
  int interval = 0;              // the graph's interval code, 0 to 9
  std::array<int, 5> ids{};      // bin or event numbers, 0 = not drawn
  std::string key() const;
};

// Span of a graph interval code in seconds (5 minutes to 7 days).
int interval_span(int code);

// Reads the records of q's window: {"t":[times],"series":[[values or null],...],
// "names":[...]}, one series per non-zero id in order. Throws when the
// session breaks; {"error":...} when the controller refuses.
std::string read_history(quorclient::Connection& c, const HistoryQuery& q);

}  // namespace quorweb
