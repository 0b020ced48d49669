// quorctl: history files as CSV, and their status.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "tools/quorctl/commands.h"

namespace quorctl {

namespace {

// Controller time counts seconds from 1 January 2000 00:00:00.
constexpr long long kEpoch2000 = 946684800;

std::string date_text(unsigned long t) {
  time_t u = time_t(kEpoch2000 + (long long)t);
  tm d{};
  gmtime_r(&u, &d);
  char b[32];
  std::strftime(b, sizeof b, "%Y-%m-%d %H:%M:%S", &d);
  return b;
}

// Seconds, or a date YYYY-MM-DD[THH:MM[:SS]] (also with a blank for T).
bool parse_time(const std::string& s, unsigned long* t) {
  char* end = nullptr;
  unsigned long v = std::strtoul(s.c_str(), &end, 10);
  if (!s.empty() && !*end) {
    *t = v;
    return true;
  }
  tm d{};
  int y = 0, mo = 0, da = 0, h = 0, mi = 0, se = 0;
  int n = std::sscanf(s.c_str(), "%d-%d-%d%*[T ]%d:%d:%d", &y, &mo, &da, &h, &mi, &se);
  if (n != 3 && n < 5) return false;
  d.tm_year = y - 1900;
  d.tm_mon = mo - 1;
  d.tm_mday = da;
  d.tm_hour = h;
  d.tm_min = mi;
  d.tm_sec = se;
  long long u = (long long)timegm(&d) - kEpoch2000;
  if (u < 0 || u > 0xFFFFFFFFLL) return false;
  *t = (unsigned long)u;
  return true;
}

// A value's bit pattern as a number; the never-written marker as nothing.
std::string csv_value(const std::string& wire) { return wire == "2137108966" ? "" : show_wire(wire); }

struct Which {
  bool periodic = true;
  std::string file;  // "0".."3"
};

Which parse_which(const W& w, const char* use) {
  if (w.size() < 3 || (w[1] != "per" && w[1] != "evt")) usage(use);
  long f;
  if (!parse_long(w[2], &f) || f < 1 || f > 4) usage("FILE must be 1 to 4");
  return {w[1] == "per", std::to_string(f - 1)};
}

std::vector<std::string> status_of(Session& s, const Which& h, const std::string& file_arg) {
  Reply st = s.ask((h.periodic ? "sper||" : "sevt||") + h.file);
  if (st.fail())
    fail(EXIT_REFUSED, std::string(h.periodic ? "periodic" : "event") + " history file " + file_arg +
                           " cannot be read: its configuration page sets no variables, or the file is missing");
  auto f = split(st.first(), '|');
  if (f.size() < 7) fail(EXIT_REFUSED, "bad status reply: " + st.first());
  return f;
}

}  // namespace

int cmd_hstatus(const Args& a, const W& w) {
  const char* use = "hstatus per|evt FILE";
  Which h = parse_which(w, use);
  if (w.size() != 3) usage(use);
  Session s(a, Need::none);
  auto f = status_of(s, h, w[2]);
  std::vector<std::string> names = {h.periodic ? "bins" : "events", "records", "newest", "oldest_time", "newest_time"};
  if (h.periodic) names.push_back("interval");
  names.push_back("oldest");
  names.push_back("selection_set");
  if (a.json) std::printf("{");
  for (size_t i = 0; i < names.size() && i < f.size(); ++i) {
    if (a.json)
      std::printf("%s%s:%s", i ? "," : "", json_string(names[i]).c_str(), f[i].c_str());
    else
      std::printf("%s=%s\n", names[i].c_str(), f[i].c_str());
  }
  if (a.json) std::printf("}\n");
  return 0;
}

int cmd_history(const Args& a, const W& w) {
  const char* use = "history per|evt FILE [--last N] [--from TIME]";
  Which h = parse_which(w, use);
  unsigned long last = 0, from = 0;
  bool has_from = false;
  for (size_t i = 3; i < w.size(); ++i) {
    if (w[i] == "--last" && i + 1 < w.size()) {
      long n;
      if (!parse_long(w[++i], &n) || n < 1) usage("--last needs a count");
      last = (unsigned long)n;
    } else if (w[i] == "--from" && i + 1 < w.size()) {
      if (!parse_time(w[++i], &from)) usage("--from needs seconds or YYYY-MM-DD[THH:MM[:SS]]");
      has_from = true;
    } else {
      usage(use);
    }
  }
  Session s(a, Need::none);
  const std::string& f = h.file;
  auto sf = status_of(s, h, w[2]);
  const unsigned long records = std::strtoul(sf[1].c_str(), nullptr, 10);
  const unsigned long newest = std::strtoul(sf[2].c_str(), nullptr, 10);
  const unsigned long newest_time = std::strtoul(sf[4].c_str(), nullptr, 10);
  const unsigned long oldest = std::strtoul(sf[h.periodic ? 6 : 5].c_str(), nullptr, 10);
  Reply head = s.must((h.periodic ? "hper||" : "hevt||") + f, "history header");
  std::vector<std::string> names;
  for (const auto& l : head.lines) {
    auto hf = split(l, '|');
    names.push_back(hf.size() > 1 ? hf[1] : "");
  }
  std::string title = "slot,time,date";
  if (h.periodic)
    for (const auto& n : names) title.append(",").append(csv(n));
  else
    title += ",event,name,value,status";
  std::printf("%s\n", title.c_str());
  if (records == 0 || newest_time == 0) return 0;  // never written

  // The valid records run from the oldest to the newest slot.
  unsigned long count = (newest + records - oldest) % records + 1, start = oldest;
  if (has_from) {
    std::string q = h.periodic ? "tper||" + f + "|" + std::to_string(from) : "tevt||" + f + "|" + std::to_string(from) + "|0";
    Reply t = s.ask(q);
    if (t.fail()) return 0;
    start = std::strtoul(t.first().c_str(), nullptr, 10);
    count = (newest + records - start) % records + 1;
  }
  if (last && last < count) {
    start = (start + count - last) % records;
    count = last;
  }
  std::string q = (h.periodic ? "dper||" : "devt||") + f + "|2|" + std::to_string(count) + "|" + std::to_string(start);
  Reply recs = s.ask(q, 600000);
  if (recs.fail()) fail(EXIT_REFUSED, "the controller refused to read the records");
  for (const auto& l : recs.lines) {
    auto rf = split(l, '|');
    if (rf.size() < 2) continue;
    unsigned long t = std::strtoul(rf[1].c_str(), nullptr, 10);
    if (t == 0 || (has_from && t < from)) continue;
    std::string row = rf[0] + "," + rf[1] + "," + date_text(t);
    if (h.periodic) {
      for (size_t i = 2; i < rf.size(); ++i) row.append(",").append(csv_value(rf[i]));
    } else if (rf.size() >= 5) {
      unsigned long ev = std::strtoul(rf[4].c_str(), nullptr, 10);
      std::string name = ev >= 1 && ev <= names.size() ? names[ev - 1] : "";
      row += "," + rf[4] + "," + csv(name) + "," + csv_value(rf[2]) + "," + csv_value(rf[3]);
    }
    std::printf("%s\n", row.c_str());
  }
  return 0;
}

}  // namespace quorctl
