// Reads of the controller that many viewers want (history records,
// instruction panels), made once through the gateway's session and shared:
// the controller is asked at most once per time-to-live and key, however
// many browsers ask.
#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "tools/client/client.h"

namespace quorweb {

class Gateway;

class SharedReads {
 public:
  explicit SharedReads(Gateway& g) : g_(g) {}
  // Any web thread. The reply of `read` for `key`, no older than ttl_ms;
  // "" when the session is down. Viewers of one key wait for one read.
  std::string get(const std::string& key, int ttl_ms, const std::function<std::string(quorclient::Connection&)>& read);
  // Forgets a key (after a write changed what it shows).
  void drop(const std::string& key);
  uint64_t reads() const { return reads_; }  // controller reads so far

 private:
  struct Entry {
    std::mutex m;  // held while one viewer reads for all the others
    std::chrono::steady_clock::time_point at;
    std::string json;
  };
  Gateway& g_;
  std::mutex m_;
  std::map<std::string, std::shared_ptr<Entry>> entries_;
  std::atomic<uint64_t> reads_{0};
};

}  // namespace quorweb
