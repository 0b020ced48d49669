#include "tools/quorweb/shared_reads.h"

#include "tools/quorweb/gateway.h"

namespace quorweb {

std::string SharedReads::get(const std::string& key, int ttl_ms,
                             const std::function<std::string(quorclient::Connection&)>& read) {
  std::shared_ptr<Entry> e;
  {
    std::lock_guard<std::mutex> l(m_);
    if (entries_.size() > 256)  // keys come from browsers: forget the idle ones
      for (auto it = entries_.begin(); it != entries_.end();)
        it = it->second.use_count() == 1 ? entries_.erase(it) : std::next(it);
    auto& slot = entries_[key];
    if (!slot) slot = std::make_shared<Entry>();
    e = slot;
  }
  std::lock_guard<std::mutex> l(e->m);
  if (!e->json.empty() && std::chrono::steady_clock::now() - e->at < std::chrono::milliseconds(ttl_ms)) return e->json;
  std::string fresh;
  if (!g_.run([&](quorclient::Connection& c) { fresh = read(c); }, 20000)) return "";
  ++reads_;
  e->json = std::move(fresh);
  e->at = std::chrono::steady_clock::now();
  return e->json;
}

void SharedReads::drop(const std::string& key) {
  std::lock_guard<std::mutex> l(m_);
  entries_.erase(key);
}

}  // namespace quorweb
