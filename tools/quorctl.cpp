// quorctl: a command-line client of the controller's user port.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/client/client.h"

using namespace quorclient;

namespace {

const char kHelp[] =
    "usage: quorctl [--host H] [--port N] [--password P] [--key K] CMD [ARGS]\n"
    "Talks to a controller's user port (default 127.0.0.1:80). With --password the\n"
    "session logs in first (K: the password entry's encryption key, default 0);\n"
    "run, stop, cont, save and load log in as the programmer (empty password by\n"
    "default) and so end every other session. The controller restarts a stopped\n"
    "program when the programmer's session ends, so to stop and single-step use\n"
    "shell with --password.\n"
    "\n"
    "commands:\n"
    "  users                      who is logged in, version, site title\n"
    "                             quorctl --port 8080 users\n"
    "  list                       the whole program listing\n"
    "                             quorctl list\n"
    "  screen MODULE              the module's screen: each object's position, type,\n"
    "                             name and live value (moves the program cursor)\n"
    "                             quorctl screen Boiler\n"
    "  get NAME [COUNT]           COUNT cells of a variable from NAME, as numbers\n"
    "                             quorctl get tank[2] 3\n"
    "  set NAME VALUE             write one cell\n"
    "                             quorctl set level 12.5\n"
    "  run | stop | cont          restart, stop, continue the program\n"
    "                             quorctl stop\n"
    "  status                     Run or Stop\n"
    "                             quorctl status\n"
    "  save [FILE]                save the program (default quor.qrn)\n"
    "                             quorctl save backup.qrn\n"
    "  load FILE                  load a program file\n"
    "                             quorctl load backup.qrn\n"
    "  download FILE [-o OUT]     fetch a file of the working directory\n"
    "                             quorctl download quor1.per -o hist.per\n"
    "  upload FILE [--as NAME]    send a local file (under NAME), then read it back\n"
    "                             quorctl upload new.qrn --as quor.qrn\n"
    "  history per|evt FILE [--last N] [--from TIME]\n"
    "                             records of history file FILE (1-4) as CSV: slot,\n"
    "                             time (controller seconds), date, then the bins of a\n"
    "                             periodic file (empty: never written) or event,name,\n"
    "                             value,status of an event file; TIME is seconds or\n"
    "                             YYYY-MM-DD[THH:MM[:SS]]\n"
    "                             quorctl history per 1 --from 2026-12-07T08:00\n"
    "  hstatus per|evt FILE       the file's status, one name=value a line\n"
    "                             quorctl hstatus evt 2\n"
    "  files | disk               the working directory / free disk space in KiB\n"
    "                             quorctl files\n"
    "  flen FILE                  size in bytes and modification time\n"
    "                             quorctl flen quor1.per\n"
    "  fdel FILE | fren FROM TO | fcopy FROM TO\n"
    "                             delete, rename, copy in the working directory\n"
    "                             (log in as level 0 or 1: empty password by default)\n"
    "                             quorctl fcopy quor.qrn keep.qrn\n"
    "  raw 'LINE'                 one protocol line; the reply printed as it comes\n"
    "                             quorctl raw 'rvar|level|0'\n"
    "  shell                      interactive: protocol lines in, replies out\n"
    "                             quorctl --password secret shell\n"
    "\n"
    "exit status: 0 success, 1 the controller answered fail, 2 usage error,\n"
    "3 cannot connect.\n";

int usage(const std::string& why) {
  std::fprintf(stderr, "quorctl: %s (see quorctl --help)\n", why.c_str());
  return 2;
}

int failed(const std::string& why) {
  std::fprintf(stderr, "quorctl: %s\n", why.c_str());
  return 1;
}

struct Args {
  std::string host = "127.0.0.1";
  int port = 80;
  bool has_password = false;
  std::string password;
  unsigned long key = 0;
  std::vector<std::string> cmd;
};

void print_reply(const Reply& r) {
  for (const auto& l : r.lines) std::printf("%s\n", l.c_str());
}

std::string show(float v) {
  char b[64];
  std::snprintf(b, sizeof b, "%.9g", double(v));
  return b;
}

class Session {
 public:
  explicit Session(const Args& a) : a_(a) {}
  // 0, or the exit status of the failure. With `login` the session logs in
  // even without --password.
  int open(bool programmer, bool login = false) {
    if (!c_.connect(a_.host, uint16_t(a_.port)) || !c_.open_session()) {
      std::fprintf(stderr, "quorctl: cannot connect to %s:%d\n", a_.host.c_str(), a_.port);
      return 3;
    }
    if (a_.has_password || programmer || login) {
      std::string level = c_.login(a_.password, uint32_t(a_.key));
      if (level == "fail") return failed("login refused");
      if (programmer && level != "prog") return failed("the password does not give the programmer level");
    }
    return 0;
  }
  // One command; 1 on "fail" or a broken exchange.
  int ask(const std::string& line, Reply& r) {
    if (!c_.command(line, r, 30000)) return failed("no reply from the controller");
    return r.fail() ? failed(line.substr(0, line.find('|')) + ": fail") : 0;
  }
  Connection& conn() { return c_; }

 private:
  const Args& a_;
  Connection c_;
};

int simple(const Args& a, const std::string& line, bool programmer) {
  Session s(a);
  if (int rc = s.open(programmer)) return rc;
  Reply r;
  int rc = s.ask(line, r);
  if (!rc) print_reply(r);
  return rc;
}

int cmd_list(const Args& a) {
  Session s(a);
  if (int rc = s.open(false)) return rc;
  Reply r;
  if (int rc = s.ask("start", r)) return rc;
  if (int rc = s.ask("alist", r)) return rc;
  print_reply(r);
  return 0;
}

std::vector<std::string> split_bar(const std::string& line) {
  std::vector<std::string> f;
  size_t start = 0;
  for (size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1) f.push_back(line.substr(start, bar - start));
  f.push_back(line.substr(start));
  return f;
}

// A cell shown as a Variable object's format would (0..5 decimals, float,
// then the integer formats).
std::string show_as(float v, long fmt) {
  char b[64];
  if (fmt >= 0 && fmt <= 5) std::snprintf(b, sizeof b, "%.*f", int(fmt), double(v));
  else if (fmt == 9) std::snprintf(b, sizeof b, "0x%X", unsigned(v > 0 ? v : 0));
  else if (fmt >= 7 && fmt <= 11) std::snprintf(b, sizeof b, "%.0f", double(std::trunc(v)));
  else return show(v);
  return b;
}

int cmd_screen(const Args& a, const std::vector<std::string>& w) {
  if (w.size() != 2) return usage("screen MODULE");
  Session s(a);
  if (int rc = s.open(false)) return rc;
  Reply r;
  if (int rc = s.ask("start", r)) return rc;
  if (int rc = s.ask("alist", r)) return rc;
  // Listing line n is absolute position n; modules are not indented.
  auto at = std::find(r.lines.begin(), r.lines.end(), "Module " + w[1]);
  if (at == r.lines.end()) return failed("no module " + w[1]);
  if (int rc = s.ask("apos||" + std::to_string(at - r.lines.begin()), r)) return rc;
  if (int rc = s.ask("shmiw||9", r)) return rc;
  if (int rc = s.ask("gfhmi", r)) return rc;
  std::printf("screen %s\n", split_bar(r.first())[0].c_str());
  Reply list;
  if (!s.conn().command("hlist", list, 30000)) return failed("no reply from the controller");
  if (list.fail()) return 0;  // no objects
  for (size_t i = 0; i < list.lines.size(); ++i) {
    auto f = split_bar(list.lines[i]);
    if (list.lines[i] == "0|0|0|none" || f.size() < 4) {
      std::printf("%zu  (not visible at this level)\n", i + 1);
      continue;
    }
    std::string type = f[3].substr(0, f[3].find(' ')), name = f[3].substr(f[3].find(' ') + 1);
    // Live values: the cells of the object's variables, read by name.
    std::vector<std::string> vars;
    long fmt = 6;
    if (type == "Variable" || type == "Graph_vars") {
      Reply rows;
      if (int rc = s.ask("hpos||" + std::to_string(i + 1), r)) return rc;
      if (int rc = s.ask("gconfig||1", rows)) return rc;
      for (size_t k = 0; k < rows.lines.size(); ++k) {
        auto v = split_bar(rows.lines[k]);
        if (v.size() != 2) continue;
        if (v[1] == "263" && v[0] != "Null") vars.push_back(v[0]);
        if (type == "Variable" && k == 6) fmt = std::strtol(v[0].c_str(), nullptr, 10);
      }
    }
    std::string value;
    for (const auto& v : vars) {
      Reply cell;
      float x;
      if (!s.conn().command("rvar|" + v, cell, 30000)) return failed("no reply from the controller");
      value += (value.empty() ? "" : " ") + v + "=" +
               (!cell.fail() && wire_to_float(cell.first(), &x) ? (fmt == 12 ? "(clock)" : show_as(x, fmt)) : "?");
    }
    std::printf("%zu  %s,%s  %s  %s%s%s\n", i + 1, f[0].c_str(), f[1].c_str(), type.c_str(), name.c_str(),
                value.empty() ? "" : "  ", value.c_str());
  }
  return 0;
}

int cmd_get(const Args& a, const std::vector<std::string>& w) {
  if (w.size() < 2 || w.size() > 3) return usage("get NAME [COUNT]");
  long count = 1;
  if (w.size() == 3) {
    char* end = nullptr;
    count = std::strtol(w[2].c_str(), &end, 10);
    if (*end || count < 1 || count > 128) return usage("COUNT must be 1 to 128");
  }
  Session s(a);
  if (int rc = s.open(false)) return rc;
  Reply r;
  if (int rc = s.ask("rvar|" + w[1] + "|" + (count > 1 ? "1" : "0"), r)) return rc;
  for (long i = 0; i < count && i < long(r.lines.size()); ++i) {
    float v;
    if (!wire_to_float(r.lines[size_t(i)], &v)) return failed("bad value in the reply: " + r.lines[size_t(i)]);
    std::printf("%s\n", show(v).c_str());
  }
  return 0;
}

int cmd_set(const Args& a, const std::vector<std::string>& w) {
  if (w.size() != 3) return usage("set NAME VALUE");
  char* end = nullptr;
  float v = std::strtof(w[2].c_str(), &end);
  if (w[2].empty() || *end) return usage("VALUE must be a number");
  Session s(a);
  if (int rc = s.open(false)) return rc;
  Reply r;
  return s.ask("svar|" + w[1] + "|" + float_to_wire(v), r);
}

int cmd_download(const Args& a, const std::vector<std::string>& w) {
  std::string file, out;
  for (size_t i = 1; i < w.size(); ++i) {
    if (w[i] == "-o" && i + 1 < w.size())
      out = w[++i];
    else if (file.empty())
      file = w[i];
    else
      return usage("download FILE [-o OUT]");
  }
  if (file.empty()) return usage("download FILE [-o OUT]");
  if (out.empty()) out = file.substr(file.rfind('/') + 1);
  std::string body;
  int st = download(a.host, uint16_t(a.port), file, &body);
  if (st < 0) {
    std::fprintf(stderr, "quorctl: cannot connect to %s:%d\n", a.host.c_str(), a.port);
    return 3;
  }
  if (st == 404) return failed(file + ": not found");
  std::ofstream f(out, std::ios::binary);
  f.write(body.data(), std::streamsize(body.size()));
  if (!f) return failed("cannot write " + out);
  return 0;
}

int cmd_upload(const Args& a, const std::vector<std::string>& w) {
  std::string file, as;
  for (size_t i = 1; i < w.size(); ++i) {
    if (w[i] == "--as" && i + 1 < w.size())
      as = w[++i];
    else if (file.empty())
      file = w[i];
    else
      return usage("upload FILE [--as NAME]");
  }
  if (file.empty()) return usage("upload FILE [--as NAME]");
  if (as.empty()) as = file.substr(file.rfind('/') + 1);
  std::ifstream f(file, std::ios::binary);
  if (!f) return usage("cannot read " + file);
  std::stringstream ss;
  ss << f.rdbuf();
  Connection probe;
  if (!probe.connect(a.host, uint16_t(a.port))) {
    std::fprintf(stderr, "quorctl: cannot connect to %s:%d\n", a.host.c_str(), a.port);
    return 3;
  }
  probe.close();
  const std::string data = ss.str();
  if (!upload(a.host, uint16_t(a.port), as, data)) return failed("upload not completed");
  // The controller sends no reply to an upload and closes the connection
  // whether or not it stored the file: read it back to find out.
  std::string back;
  if (download(a.host, uint16_t(a.port), as, &back) != 200 || back != data)
    return failed("the controller did not store " + as);
  return 0;
}

// ---- history and files ---------------------------------------------------

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

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> f;
  size_t start = 0;
  for (;;) {
    size_t bar = line.find('|', start);
    f.push_back(line.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) return f;
    start = bar + 1;
  }
}

std::string csv(const std::string& s) {
  if (s.find_first_of(",\"\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

// A value's bit pattern as a number; the never-written marker as nothing.
std::string csv_value(const std::string& wire) {
  if (wire == "2137108966") return "";  // 0x7F61B1E6
  float v;
  return wire_to_float(wire, &v) ? show(v) : wire;
}

struct HistWhich {
  bool periodic = true;
  int file = 0;  // 0..3
};

int parse_which(const std::vector<std::string>& w, HistWhich* h, const char* use) {
  if (w.size() < 3 || (w[1] != "per" && w[1] != "evt")) return usage(use);
  char* end = nullptr;
  long f = std::strtol(w[2].c_str(), &end, 10);
  if (*end || f < 1 || f > 4) return usage("FILE must be 1 to 4");
  h->periodic = w[1] == "per";
  h->file = int(f - 1);
  return 0;
}

int cmd_hstatus(const Args& a, const std::vector<std::string>& w) {
  HistWhich h;
  if (int rc = parse_which(w, &h, "hstatus per|evt FILE")) return rc;
  if (w.size() != 3) return usage("hstatus per|evt FILE");
  Session s(a);
  if (int rc = s.open(false)) return rc;
  Reply r;
  if (int rc = s.ask((h.periodic ? "sper||" : "sevt||") + std::to_string(h.file), r)) return rc;
  auto f = fields(r.first());
  std::vector<std::string> names = {h.periodic ? "bins" : "events", "records", "newest", "oldest_time", "newest_time"};
  if (h.periodic) names.push_back("interval");
  names.push_back("oldest");
  names.push_back("selection_set");
  for (size_t i = 0; i < names.size() && i < f.size(); ++i) std::printf("%s=%s\n", names[i].c_str(), f[i].c_str());
  return 0;
}

int cmd_history(const Args& a, const std::vector<std::string>& w) {
  const char* use = "history per|evt FILE [--last N] [--from TIME]";
  HistWhich h;
  if (int rc = parse_which(w, &h, use)) return rc;
  unsigned long last = 0, from = 0;
  bool has_from = false;
  for (size_t i = 3; i < w.size(); ++i) {
    if (w[i] == "--last" && i + 1 < w.size()) {
      char* end = nullptr;
      last = std::strtoul(w[++i].c_str(), &end, 10);
      if (*end || last == 0) return usage("--last needs a count");
    } else if (w[i] == "--from" && i + 1 < w.size()) {
      if (!parse_time(w[++i], &from)) return usage("--from needs seconds or YYYY-MM-DD[THH:MM[:SS]]");
      has_from = true;
    } else {
      return usage(use);
    }
  }
  Session s(a);
  if (int rc = s.open(false)) return rc;
  const std::string f = std::to_string(h.file);
  Reply st, head, recs;
  if (int rc = s.ask((h.periodic ? "sper||" : "sevt||") + f, st)) return rc;
  auto sf = fields(st.first());
  if (sf.size() < 7) return failed("bad status reply: " + st.first());
  const unsigned long records = std::strtoul(sf[1].c_str(), nullptr, 10);
  const unsigned long newest = std::strtoul(sf[2].c_str(), nullptr, 10);
  const unsigned long newest_time = std::strtoul(sf[4].c_str(), nullptr, 10);
  const unsigned long oldest = std::strtoul(sf[h.periodic ? 6 : 5].c_str(), nullptr, 10);
  if (int rc = s.ask((h.periodic ? "hper||" : "hevt||") + f, head)) return rc;
  std::vector<std::string> names;
  for (const auto& l : head.lines) {
    auto hf = fields(l);
    names.push_back(hf.size() > 1 ? hf[1] : "");
  }
  std::string title = "slot,time,date";
  if (h.periodic)
    for (const auto& n : names) title += "," + csv(n);
  else
    title += ",event,name,value,status";
  std::printf("%s\n", title.c_str());
  if (records == 0 || newest_time == 0) return 0;  // never written

  // The valid records run from the oldest to the newest slot.
  unsigned long count = (newest + records - oldest) % records + 1, start = oldest;
  if (has_from) {
    Reply t;
    std::string q = h.periodic ? "tper||" + f + "|" + std::to_string(from) : "tevt||" + f + "|" + std::to_string(from) + "|0";
    if (!s.conn().command(q, t, 30000)) return failed("no reply from the controller");
    if (t.fail()) return 0;
    start = std::strtoul(t.first().c_str(), nullptr, 10);
    count = (newest + records - start) % records + 1;
  }
  if (last && last < count) {
    start = (start + count - last) % records;
    count = last;
  }
  std::string q = (h.periodic ? "dper||" : "devt||") + f + "|2|" + std::to_string(count) + "|" + std::to_string(start);
  if (!s.conn().command(q, recs, 600000)) return failed("no reply from the controller");
  if (recs.fail()) return failed(q.substr(0, 4) + ": fail");
  for (const auto& l : recs.lines) {
    auto rf = fields(l);
    if (rf.size() < 2) continue;
    unsigned long t = std::strtoul(rf[1].c_str(), nullptr, 10);
    if (t == 0 || (has_from && t < from)) continue;
    std::string row = rf[0] + "," + rf[1] + "," + date_text(t);
    if (h.periodic) {
      for (size_t i = 2; i < rf.size(); ++i) row += "," + csv_value(rf[i]);
    } else if (rf.size() >= 5) {
      unsigned long ev = std::strtoul(rf[4].c_str(), nullptr, 10);
      std::string name = ev >= 1 && ev <= names.size() ? names[ev - 1] : "";
      row += "," + rf[4] + "," + csv(name) + "," + csv_value(rf[2]) + "," + csv_value(rf[3]);
    }
    std::printf("%s\n", row.c_str());
  }
  return 0;
}

// File commands: one protocol line; changes need a login.
int cmd_file(const Args& a, const std::vector<std::string>& w) {
  const std::string& c = w[0];
  std::string line;
  bool change = c == "fdel" || c == "fren" || c == "fcopy";
  if (c == "files" && w.size() == 1) line = "fdir";
  else if (c == "disk" && w.size() == 1) line = "gdisk";
  else if ((c == "flen" || c == "fdel") && w.size() == 2) line = c + "|" + w[1];
  else if ((c == "fren" || c == "fcopy") && w.size() == 3) line = c + "|" + w[1] + "~" + w[2];
  else return usage(c == "files" || c == "disk" ? c + " takes no arguments" : "wrong arguments to " + c);
  for (size_t i = 1; i < w.size(); ++i)
    if (w[i].find_first_of("|~") != std::string::npos) return usage("file names cannot hold | or ~");
  Session s(a);
  if (int rc = s.open(false, change)) return rc;
  Reply r;
  if (!s.conn().command(line, r, 600000)) return failed("no reply from the controller");
  if (r.fail()) return failed(c + ": fail");
  if (c == "flen") {
    auto f = fields(r.first());
    std::printf("%s %s\n", f[0].c_str(), f.size() > 1 ? f[1].c_str() : "0");
    return 0;
  }
  print_reply(r);
  return 0;
}

int cmd_raw(const Args& a, const std::vector<std::string>& w) {
  if (w.size() != 2) return usage("raw 'LINE'");
  Session s(a);
  if (int rc = s.open(false)) return rc;
  if (!s.conn().send_line(w[1])) return failed("cannot send");
  // Print everything that arrives until the replies pause.
  std::string part;
  bool any = false, was_fail = false;
  std::string all;
  while (s.conn().read_some(part, any ? 300 : 5000) && !part.empty()) {
    any = true;
    all += part;
    std::fwrite(part.data(), 1, part.size(), stdout);
  }
  was_fail = all == "fail\n\r";
  return was_fail ? 1 : 0;
}

int cmd_shell(const Args& a) {
  Session s(a);
  if (int rc = s.open(false)) return rc;
  bool tty = isatty(0);
  std::string line;
  for (;;) {
    if (tty) std::fputs("quor> ", stdout), std::fflush(stdout);
    if (!std::getline(std::cin, line)) break;
    if (line == "quit" || line == "exit") break;
    if (!s.conn().send_line(line)) return failed("connection lost");
    if (line.rfind("sconfig", 0) == 0) continue;  // never answered
    int blocks = line == "init" ? 5 : 1;
    for (int b = 0; b < blocks; ++b) {
      Reply r;
      if (!s.conn().read_block(r, 30000)) return failed("connection lost");
      print_reply(r);
      std::fflush(stdout);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Args a;
  for (int i = 1; i < argc; ++i) {
    std::string s = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (s == "--help" || s == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a.cmd.empty() && s == "--host") {
      const char* v = value();
      if (!v) return usage("--host needs a host");
      a.host = v;
    } else if (a.cmd.empty() && s == "--port") {
      const char* v = value();
      char* end = nullptr;
      long p = v ? std::strtol(v, &end, 10) : 0;
      if (!v || *end || p < 1 || p > 65535) return usage("--port needs a port number 1..65535");
      a.port = int(p);
    } else if (a.cmd.empty() && s == "--password") {
      const char* v = value();
      if (!v) return usage("--password needs a password");
      a.password = v;
      a.has_password = true;
    } else if (a.cmd.empty() && s == "--key") {
      const char* v = value();
      char* end = nullptr;
      a.key = v ? std::strtoul(v, &end, 0) : 0;
      if (!v || *end) return usage("--key needs a number");
    } else {
      a.cmd.push_back(s);
    }
  }
  if (a.cmd.empty()) return usage("no command");
  const auto& w = a.cmd;
  const std::string& c = w[0];
  auto no_args = [&](int rc_if_ok) { return w.size() == 1 ? rc_if_ok : usage(c + " takes no arguments"); };
  if (c == "users") return no_args(0) ? 2 : simple(a, "users", false);
  if (c == "status") return no_args(0) ? 2 : simple(a, "status", false);
  if (c == "run" || c == "stop" || c == "cont") return no_args(0) ? 2 : simple(a, c, true);
  if (c == "list") return no_args(0) ? 2 : cmd_list(a);
  if (c == "get") return cmd_get(a, w);
  if (c == "screen") return cmd_screen(a, w);
  if (c == "set") return cmd_set(a, w);
  if (c == "save") {
    if (w.size() > 2) return usage("save [FILE]");
    return simple(a, "save|" + (w.size() == 2 ? w[1] : std::string("quor.qrn")), true);
  }
  if (c == "load") {
    if (w.size() != 2) return usage("load FILE");
    return simple(a, "load|" + w[1], true);
  }
  if (c == "download") return cmd_download(a, w);
  if (c == "upload") return cmd_upload(a, w);
  if (c == "raw") return cmd_raw(a, w);
  if (c == "history") return cmd_history(a, w);
  if (c == "hstatus") return cmd_hstatus(a, w);
  if (c == "files" || c == "disk" || c == "flen" || c == "fdel" || c == "fren" || c == "fcopy") return cmd_file(a, w);
  if (c == "shell") return no_args(0) ? 2 : cmd_shell(a);
  return usage("unknown command " + c);
}
