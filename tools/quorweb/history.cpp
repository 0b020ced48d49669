#include "tools/quorweb/history.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

#include "tools/quorweb/gateway.h"

namespace quorweb {

using json = nlohmann::json;
using quorclient::Connection;
using quorclient::Reply;

namespace {

constexpr size_t kMaxPoints = 600;   // per graph: more than a chart's width shows
constexpr unsigned long kMaxEvents = 2000;

// History reads may walk a large file: up to 20 s a command.
Reply ask(Connection& c, const std::string& line) { return must(c, line, 20000); }

unsigned long field(const std::vector<std::string>& f, size_t i) {
  return i < f.size() ? std::strtoul(f[i].c_str(), nullptr, 10) : 0;
}

json value_of(const std::string& wire) {
  float v;
  if (!quorclient::wire_to_float(wire, &v) || !std::isfinite(v) || std::fabs(v) >= 3e38f) return nullptr;
  return v;
}

}  // namespace

std::string HistoryQuery::key() const {
  std::string k = std::string(event ? "e" : "p") + std::to_string(file) + "/" + std::to_string(interval);
  for (int id : ids) k += "/" + std::to_string(id);
  return k;
}

int interval_span(int code) {
  static const int spans[] = {300, 600, 1800, 3600, 7200, 14400, 28800, 86400, 172800, 604800};
  return spans[code < 0 ? 0 : code > 9 ? 9 : code];
}

std::string read_history(Connection& c, const HistoryQuery& q) {
  std::vector<int> ids;
  for (int id : q.ids)
    if (id > 0) ids.push_back(id);
  std::string f = std::to_string(q.file);
  json out{{"t", json::array()}, {"series", json::array()}, {"names", json::array()}};
  Reply st = ask(c, (q.event ? "sevt||" : "sper||") + f);
  if (st.fail()) return json{{"error", "no such history file"}}.dump();
  Reply head = ask(c, (q.event ? "hevt||" : "hper||") + f);
  std::vector<std::string> names;
  for (const auto& l : head.fail() ? std::vector<std::string>{} : head.lines) {
    auto h = split_bar(l);
    names.push_back(h.size() > 1 ? h[1] : "");
  }
  for (int id : ids) {
    out["names"].push_back(id >= 1 && size_t(id) <= names.size() ? names[size_t(id - 1)] : "");
    out["series"].push_back(json::array());
  }
  auto s = split_bar(st.first());
  const unsigned long records = field(s, 1), newest = field(s, 2), newest_time = field(s, 4);
  const unsigned long oldest = field(s, q.event ? 5 : 6);
  if (ids.empty() || records == 0 || newest_time == 0 || newest >= records || oldest >= records)
    return out.dump();  // nothing to draw, or never written
  const unsigned long from = newest_time > unsigned(interval_span(q.interval)) ? newest_time - interval_span(q.interval) : 0;
  unsigned long avail = (newest + records - oldest) % records + 1;

  std::vector<std::string> lines;
  if (!q.event) {
    // Only the records of the window: the record interval tells how many.
    unsigned long every = field(s, 5);
    unsigned long count = every ? std::min(avail, interval_span(q.interval) / every + 1) : avail;
    unsigned long step = (count + kMaxPoints - 1) / kMaxPoints;
    unsigned long n = count / step;
    unsigned long start = (newest + records - (n - 1) * step % records) % records;
    std::string cmd = "dper||" + f + "|2|" + std::to_string(n) + "|" + std::to_string(start) + "|" + std::to_string(step);
    for (int id : ids) cmd += "|" + std::to_string(id);
    Reply r = ask(c, cmd);
    if (r.fail()) return json{{"error", "records unreadable"}}.dump();
    for (const auto& l : r.lines) {
      auto v = split_bar(l);
      unsigned long t = field(v, 1);
      if (v.size() < 2 || t < from || t == 0) continue;
      out["t"].push_back(t);
      for (size_t k = 0; k < ids.size(); ++k) out["series"][k].push_back(2 + k < v.size() ? value_of(v[2 + k]) : json());
    }
  } else {
    // The newest events, each on its own time with the other series empty.
    unsigned long n = std::min(avail, kMaxEvents);
    unsigned long start = (newest + records - (n - 1) % records) % records;
    Reply r = ask(c, "devt||" + f + "|2|" + std::to_string(n) + "|" + std::to_string(start));
    if (r.fail()) return json{{"error", "records unreadable"}}.dump();
    for (const auto& l : r.lines) {
      auto v = split_bar(l);
      unsigned long t = field(v, 1);
      if (v.size() < 5 || t < from || t == 0) continue;
      int ev = int(field(v, 4));
      bool wanted = false;
      for (int id : ids) wanted = wanted || id == ev;
      if (!wanted) continue;
      out["t"].push_back(t);
      for (size_t k = 0; k < ids.size(); ++k) out["series"][k].push_back(ids[k] == ev ? value_of(v[2]) : json());
    }
  }
  return out.dump();
}

}  // namespace quorweb
