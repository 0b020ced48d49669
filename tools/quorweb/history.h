// Records of the controller's history files for the graph objects, read
// through the gateway's session and shared: every viewer of the same graph
// gets the same cached reply, and the controller is asked at most once per
// time-to-live, however many browsers draw it.
#pragma once
#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "tools/client/client.h"

namespace quorweb {

class Gateway;

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

class HistoryCache {
 public:
  explicit HistoryCache(Gateway& g, int ttl_ms = 2000) : g_(g), ttl_(ttl_ms) {}
  // Any web thread. "" when the session is down.
  std::string get(const HistoryQuery& q);
  uint64_t reads() const { return reads_; }  // controller reads so far

 private:
  struct Entry {
    std::mutex m;  // held while one viewer reads for all the others
    std::chrono::steady_clock::time_point at;
    std::string json;
  };
  Gateway& g_;
  std::chrono::milliseconds ttl_;
  std::mutex m_;
  std::map<std::string, std::shared_ptr<Entry>> entries_;
  std::atomic<uint64_t> reads_{0};
};

}  // namespace quorweb
