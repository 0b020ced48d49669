#include "tools/quorctl/common.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quorctl {

void fail(int code, const std::string& why) { throw Failure{code, why}; }
void usage(const std::string& why) { throw Failure{EXIT_USAGE, why + " (see quorctl --help)"}; }

namespace {

[[noreturn]] void cannot_connect(const Args& a, int err) {
  std::string why = err ? std::strerror(err) : "the host name does not resolve";
  std::string hint;
  if (err == ECONNREFUSED)
    hint = " (is the controller running? the port comes from --port, else QUOR_PORT, else " +
           std::to_string(kDefaultPort) + ")";
  fail(EXIT_CONNECT, "cannot connect to " + a.where() + ": " + why + hint);
}

}  // namespace

std::string who_is_logged_in(const Args& a) {
  Connection c;
  Reply r;
  if (!c.connect(a.host, uint16_t(a.port), 2000) || !c.open_session(2000) || !c.command("users", r, 3000))
    return "";
  return r.first();
}

Session::Session(const Args& a, Need need) : a_(a), need_(need) { open(); }

void Session::open() {
  level_.clear();
  if (!c_.connect(a_.host, uint16_t(a_.port))) cannot_connect(a_, errno);
  if (!c_.open_session()) fail(EXIT_CONNECT, a_.where() + " does not answer as a controller");
  if (!a_.has_password && need_ == Need::none) return;
  std::string got = c_.login(a_.password, uint32_t(a_.key));
  if (got == "fail") {
    if (who_is_logged_in(a_) == "prog")
      fail(EXIT_ACCESS, "login refused: a programmer session is active on the controller, and it refuses "
                        "every other login until that session ends");
    fail(EXIT_ACCESS, a_.has_password ? "login refused: no password entry matches --password"
                                      : "login refused: the controller has no entry for the empty password "
                                        "(give one with --password)");
  }
  level_ = got;
  if (need_ == Need::programmer && level_ != "prog")
    fail(EXIT_ACCESS, "this command needs the programmer level; the password logs in as an operator (" + level_ +
                          ")");
}

void Session::reopen() {
  c_.close();
  open();
}

void Session::lost() {
  if (level_ != "prog" && who_is_logged_in(a_) == "prog")
    fail(EXIT_ACCESS, "a programmer session is active on the controller: it closes every other session "
                      "(only \"users\" is answered)");
  fail(EXIT_CONNECT, "the controller at " + a_.where() + " closed the connection");
}

Reply Session::ask(const std::string& line, int timeout_ms) {
  Reply r;
  if (!c_.command(line, r, timeout_ms)) lost();
  return r;
}

std::vector<Reply> Session::batch(const std::vector<std::string>& lines, int timeout_ms) {
  std::string all;
  for (const auto& l : lines) all += l + "\r";
  if (!c_.send_raw(all)) lost();
  std::vector<Reply> out(lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("sconfig", 0) == 0 && (lines[i].size() == 7 || lines[i][7] == '|')) continue;  // never answered
    if (!c_.read_block(out[i], timeout_ms)) lost();
  }
  return out;
}

std::string Session::access_reason(const std::string& keyword) const {
  const Keyword* k = find_keyword(keyword);
  if (!k) return "the controller has no command \"" + keyword + "\"";
  std::string acc = k->access;
  bool prog = level_ == "prog";
  if (acc == "programmer" && !prog) return keyword + " needs a programmer login (--password)";
  if (acc == "logged in" && level_.empty()) return keyword + " needs a login (--password)";
  if ((acc == "level<=1" || acc == "level 1") && !prog)
    return keyword + " needs a login at " + (acc == "level 1" ? "exactly level 1" : "level 0 or 1") +
           (level_.empty() ? " (--password)" : "");
  return "";
}

Reply Session::must(const std::string& line, const std::string& what) {
  Reply r = ask(line);
  if (r.fail()) {
    std::string kw = line.substr(0, line.find('|'));
    std::string why = access_reason(kw);
    fail(EXIT_REFUSED, (what.empty() ? kw : what) + ": refused" + (why.empty() ? "" : ": " + why));
  }
  return r;
}

// ---- values and text ----------------------------------------------------------

std::string show(float v) {
  char b[64];
  for (int p = 6; p <= 9; ++p) {  // the shortest form that reads back the same
    std::snprintf(b, sizeof b, "%.*g", p, double(v));
    if (std::strtof(b, nullptr) == v || std::isnan(v)) break;
  }
  return b;
}

std::string show_wire(const std::string& wire) {
  float v;
  return quorclient::wire_to_float(wire, &v) ? show(v) : wire;
}

bool parse_float(const std::string& s, float* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  float f = std::strtof(s.c_str(), &end);
  if (*end || errno == ERANGE || std::isnan(f)) return false;
  *v = f;
  return true;
}

bool parse_long(const std::string& s, long* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(s.c_str(), &end, 0);
  if (*end || errno) return false;
  *v = n;
  return true;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> f;
  size_t start = 0;
  for (;;) {
    size_t at = s.find(sep, start);
    f.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return f;
    start = at + 1;
  }
}

std::string json_string(const std::string& s) {
  std::string o = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      o += '\\';
      o += char(c);
    } else if (c < 0x20) {
      char b[8];
      std::snprintf(b, sizeof b, "\\u%04x", c);
      o += b;
    } else {
      o += char(c);
    }
  }
  return o + "\"";
}

std::string csv(const std::string& s) {
  if (s.find_first_of(",\"\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

void print_lines(const Reply& r) {
  for (const auto& l : r.lines) std::printf("%s\n", l.c_str());
}

// ---- variables addressed by module -------------------------------------------------

const std::vector<std::string>& Program::listing() {
  if (listing_.empty()) {
    auto r = s_.batch({"apos||0", "alist"}, 60000);
    listing_ = r[1].lines;
  }
  return listing_;
}

void Program::forget() {
  listing_.clear();
  vars_.clear();
}

std::vector<std::string> Program::module_names() {
  std::vector<std::string> names;
  for (const auto& l : listing())
    if (l.rfind("Module ", 0) == 0) names.push_back(l.substr(7));
  return names;
}

long Program::module_position(const std::string& name) {
  const auto& l = listing();
  for (size_t i = 0; i < l.size(); ++i)
    if (l[i] == "Module " + name) return long(i);
  std::string all;
  for (const auto& n : module_names()) all += (all.empty() ? "" : ", ") + n;
  fail(EXIT_REFUSED, "no module \"" + name + "\" in the program (modules: " + all + ")");
}

std::vector<Reply> Program::at(const std::string& module, const std::vector<std::string>& lines) {
  for (int attempt = 0;; ++attempt) {
    long pos = module_position(module);
    std::vector<std::string> all = {"apos||" + std::to_string(pos)};
    all.insert(all.end(), lines.begin(), lines.end());
    auto r = s_.batch(all);
    if (r[0].first() == "Module " + module) return {r.begin() + 1, r.end()};
    // Somebody edited the program since it was listed: list it again.
    if (attempt == 1) fail(EXIT_REFUSED, "the program changes under us: module \"" + module + "\" moved");
    forget();
  }
}

Reply Program::at(const std::string& module, const std::string& line) {
  return at(module, std::vector<std::string>{line})[0];
}

const std::vector<std::string>& Program::variables_of(const std::string& module) {
  auto it = vars_.find(module);
  if (it == vars_.end()) {
    Reply r = at(module, "lvar");
    it = vars_.emplace(module, r.fail() ? std::vector<std::string>{} : r.lines).first;
  }
  return it->second;
}

Program::Var Program::resolve(const std::string& text) {
  // A module name may hold dots and blanks; a variable name cannot.
  size_t bracket = text.find('[');
  size_t dot = text.rfind('.', bracket == std::string::npos ? std::string::npos : bracket);
  if (dot != std::string::npos) {
    Var v{text.substr(0, dot), text.substr(dot + 1)};
    if (v.module.empty() || v.name.empty()) usage("a variable is NAME or MODULE.NAME: " + text);
    std::string base = v.name.substr(0, v.name.find('['));
    bool found = false;
    for (const auto& n : variables_of(v.module)) found = found || n == base;
    if (!found)
      fail(EXIT_REFUSED, "unknown variable \"" + base + "\" in module \"" + v.module + "\"" +
                             (base[0] == '#' ? " (or in the first module of its loop)" : ""));
    return v;
  }
  if (text.empty()) usage("empty variable name");
  if (text[0] == '!') return {"", text};  // the system scope is the same from everywhere
  // A plain name: the one module that has it, whatever the cursor.
  std::string base = text.substr(0, bracket);
  std::vector<std::string> where;
  for (const auto& m : module_names()) {
    if (m == "End") continue;
    for (const auto& n : variables_of(m))
      if (n == base) {
        where.push_back(m);
        break;
      }
  }
  // A "#" name is seen from every module of its loop: the first will do.
  if (where.size() == 1 || (!where.empty() && base[0] == '#')) return {where[0], text};
  if (where.empty()) fail(EXIT_REFUSED, "unknown variable \"" + base + "\": no module has it");
  std::string all;
  for (const auto& m : where) all += (all.empty() ? "" : ", ") + m + "." + text;
  fail(EXIT_USAGE, "\"" + base + "\" is in several modules: say which: " + all);
}

}  // namespace quorctl
