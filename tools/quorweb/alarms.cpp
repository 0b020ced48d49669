#include "tools/quorweb/alarms.h"

#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>

#include "tools/quorweb/gateway.h"

namespace quorweb {

using json = nlohmann::json;
using quorclient::Connection;
using quorclient::Reply;

namespace {

constexpr long long kEpoch2000 = 946684800;  // the controller counts seconds from 2000-01-01

json number(float v) { return std::isfinite(v) ? json(v) : json(); }

}  // namespace

const char* AlarmWatch::state(float master, const std::vector<float>& alarms) {
  bool stands = false;
  for (float a : alarms) stands = stands || a != 0;
  return !stands ? "clear" : master != 0 ? "active" : "acknowledged";
}

std::string AlarmWatch::topic_name(const std::string& description, int number) {
  std::string t;
  for (char ch : description) t += ch == '/' || ch == '+' || ch == '#' || ch == ' ' ? '_' : ch;
  return t.empty() ? std::to_string(number) : t;
}

std::vector<std::pair<std::string, std::string>> AlarmWatch::changed(Gateway& g, Connection& c) {
  std::vector<std::pair<std::string, std::string>> out;
  if (!listed_) {
    found_.clear();
    std::set<std::string> used;
    const auto& l = g.listing(c, true);
    int n = 0;
    for (size_t i = 0; i < l.size(); ++i) {
      if (l[i].rfind("  Alarm ", 0) != 0 && l[i] != "  Alarm") continue;
      std::string t = "alarm/" + topic_name(l[i].size() > 8 ? l[i].substr(8) : "", ++n);
      if (!used.insert(t).second) t += "_" + std::to_string(n);  // two of the same name
      used.insert(t);
      found_.push_back({i, l[i], t});
    }
    listed_ = true;
    // An alarm no longer in the program: an empty retained message takes
    // its last state off the broker.
    for (auto it = last_.begin(); it != last_.end();) {
      if (used.count(it->first)) {
        ++it;
        continue;
      }
      out.emplace_back(it->first, "");
      shown_.erase(it->first);
      it = last_.erase(it);
    }
  }
  for (const auto& f : found_) {
    Reply at = must(c, "apos||" + std::to_string(f.line));
    if (at.fail() || at.first() != f.listed) {  // the program changed: list it again next time
      listed_ = false;
      break;
    }
    Reply rows = must(c, "gconfig||0|0");
    if (rows.fail() || rows.lines.size() < 3) continue;
    auto ref = [](const std::string& line) { return line.substr(0, line.rfind('|')); };
    std::string master_name = ref(rows.lines[0]), alarm_name = ref(rows.lines[1]);
    long count = std::strtol(rows.lines[2].c_str(), nullptr, 10);
    if (master_name == "Null" || alarm_name == "Null") continue;
    float master = 0;
    Reply m = must(c, "rvar|" + master_name + "|0");
    if (m.fail() || !quorclient::wire_to_float(m.first(), &master)) continue;
    Reply a = must(c, "rvar|" + alarm_name + "|" + (count > 1 ? "1" : "0"));
    if (a.fail()) continue;
    std::vector<float> cells;
    for (long k = 0; k < count && size_t(k) < a.lines.size(); ++k) {
      float v;
      if (quorclient::wire_to_float(a.lines[size_t(k)], &v)) cells.push_back(v);
    }
    json p{{"state", state(master, cells)}, {"value", number(master)}, {"alarms", json::array()}};
    for (float v : cells) p["alarms"].push_back(number(v));
    std::string shown = p.dump();
    if (shown_[f.topic] == shown) continue;
    shown_[f.topic] = shown;
    // The controller's time of the change, as a number and as a UTC date.
    Reply d = must(c, "rdate");
    unsigned long t = d.fail() ? 0 : std::strtoul(d.first().c_str(), nullptr, 10);
    if (t) {
      std::time_t u = std::time_t(kEpoch2000 + (long long)t);
      std::tm tm{};
      gmtime_r(&u, &tm);
      char b[32];
      std::strftime(b, sizeof b, "%Y-%m-%dT%H:%M:%SZ", &tm);
      p["time"] = t;
      p["date"] = b;
    }
    last_[f.topic] = p.dump();
    out.emplace_back(f.topic, last_[f.topic]);
  }
  return out;
}

}  // namespace quorweb
