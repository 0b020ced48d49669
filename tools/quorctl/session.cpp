// quorctl: who is on, run control, the listing, raw protocol lines and the
// interactive shell.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "tools/quorctl/commands.h"

namespace quorctl {

namespace {

void no_args(const W& w) {
  if (w.size() != 1) usage(w[0] + " takes no arguments");
}

void print_json_lines(const char* key, const Reply& r) {
  std::printf("{%s:[", json_string(key).c_str());
  for (size_t i = 0; i < r.lines.size(); ++i) std::printf("%s%s", i ? "," : "", json_string(r.lines[i]).c_str());
  std::printf("]}\n");
}

// The level a keyword needs from the session that sends it.
Need need_of(const std::string& keyword) {
  const Keyword* k = find_keyword(keyword);
  if (!k) return Need::none;
  std::string a = k->access;
  if (a == "programmer") return Need::programmer;
  if (a == "logged in" || a == "level<=1" || a == "level 1") return Need::login;
  return Need::none;
}

}  // namespace

int cmd_users(const Args& a, const W& w) {
  no_args(w);
  Session s(a, Need::none);
  Reply r = s.must("users");
  if (a.json) {
    auto at = [&](size_t i) { return json_string(i < r.lines.size() ? r.lines[i] : ""); };
    std::printf("{\"logged_in\":%s,\"version\":%s,\"site\":%s}\n", at(0).c_str(), at(1).c_str(), at(2).c_str());
  } else {
    print_lines(r);
  }
  return 0;
}

int cmd_status(const Args& a, const W& w) {
  no_args(w);
  Session s(a, Need::none);
  Reply r = s.must("status");
  if (a.json)
    std::printf("{\"status\":%s}\n", json_string(r.first()).c_str());
  else
    print_lines(r);
  return 0;
}

int cmd_run_control(const Args& a, const W& w) {
  no_args(w);
  Session s(a, Need::programmer);
  Reply r = s.must(w[0]);
  if (a.json)
    print_json_lines("reply", r);
  else
    print_lines(r);
  return 0;
}

int cmd_list(const Args& a, const W& w) {
  no_args(w);
  Session s(a, Need::none);
  Program p(s);
  Reply r;
  r.lines = p.listing();
  if (a.json)
    print_json_lines("listing", r);
  else
    print_lines(r);
  return 0;
}

int cmd_raw(const Args& a, const W& w) {
  if (w.size() != 2) usage("raw 'LINE'");
  const std::string kw = w[1].substr(0, w[1].find('|'));
  Session s(a, need_of(kw));
  if (!s.conn().send_line(w[1])) s.lost();
  // Everything that arrives until the replies pause, as it comes.
  std::string part, all;
  bool any = false;
  // "sconfig" is never answered: a short wait shows whether anything came.
  const int first_wait = kw == "sconfig" ? 300 : 5000;
  while (s.conn().read_some(part, any ? 300 : first_wait) && !part.empty()) {
    any = true;
    all += part;
    std::fwrite(part.data(), 1, part.size(), stdout);
  }
  std::fflush(stdout);
  if (!any && kw != "sconfig" && !s.conn().is_open()) s.lost();
  if (all == "fail\n\r") {
    std::string why = s.access_reason(kw);
    fail(EXIT_REFUSED, kw + ": refused" + (why.empty() ? "" : ": " + why));
  }
  return 0;
}

// ---- the shell ------------------------------------------------------------------

namespace {

const char kShellHelp[] =
    "Protocol lines in, replies out: KEYWORD|TEXT|N1|N2|...\n"
    "Numbers with a decimal point (or the value of svar, ssys and a type-0 sconfig)\n"
    "are sent as the bit pattern of that float; =N sends N as it is. Cell values in\n"
    "replies (rvar, rsys, livar, gconfig, dper, devt, pevt) are shown as decimals.\n"
    "  help            this text and every keyword\n"
    "  help KEYWORD    one keyword\n"
    "  raw on|off      no conversion of numbers in either direction\n"
    "  quit            end (also end of input)\n"
    "The session is kept alive while logged in (--password).\n";

bool has_point(const std::string& f) { return f.find_first_of(".eE") != std::string::npos && f.find("0x") != 0; }

// A numeric field as the controller reads it: decimals become bit patterns.
std::string field_out(const std::string& f, bool is_cell) {
  if (f.size() > 1 && f[0] == '=') return f.substr(1);
  float v;
  if ((is_cell || has_point(f)) && parse_float(f, &v)) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return std::to_string(bits);
  }
  return f;
}

std::string convert_line(const std::string& line) {
  auto f = split(line, '|');
  if (f.size() < 3) return line;
  const std::string& kw = f[0];
  for (size_t i = 2; i < f.size(); ++i) {
    size_t n = i - 1;  // N1, N2, ...
    bool cell = (kw == "svar" && n == 1) || (kw == "ssys" && n >= 3) ||
                (kw == "sconfig" && n == 2 && f.size() > 4 && (f[4] == "0" || f[4].empty()));
    f[i] = field_out(f[i], cell);
  }
  std::string out = f[0];
  for (size_t i = 1; i < f.size(); ++i) out += "|" + f[i];
  return out;
}

// Reply lines with their cell values as decimals.
std::string convert_reply(const std::string& kw, const std::string& line) {
  if (line == "fail") return line;
  if (kw == "rvar" || kw == "rsys") return show_wire(line);
  auto f = split(line, '|');
  std::vector<size_t> cells;
  if (kw == "livar" && f.size() == 2) cells = {1};
  if (kw == "gconfig" && f.size() == 2 && f[1] == "0") cells = {0};
  if (kw == "dper")
    for (size_t i = 2; i < f.size(); ++i) cells.push_back(i);
  if ((kw == "devt" || kw == "pevt") && f.size() == 5 && f[0] != "-1") cells = {2, 3};
  if (cells.empty()) return line;
  for (size_t i : cells)
    if (i < f.size()) f[i] = f[i] == "2137108966" ? "empty" : show_wire(f[i]);
  std::string out = f[0];
  for (size_t i = 1; i < f.size(); ++i) out += "|" + f[i];
  return out;
}

void keyword_help(const std::string& name) {
  if (!name.empty()) {
    const Keyword* k = find_keyword(name);
    if (!k) {
      std::printf("no keyword %s\n", name.c_str());
      return;
    }
    std::printf("%s  (%s)\n  %s\n", k->form, k->access, k->purpose);
    return;
  }
  std::fputs(kShellHelp, stdout);
  for (const auto& k : keywords()) std::printf("  %-40s %-13s %s\n", k.form, k.access, k.purpose);
}

// Lines from standard input, waiting at most timeout_ms for the next one.
class Input {
 public:
  // 1 a line, 0 nothing yet, -1 end of input.
  int next(std::string& line, int timeout_ms) {
    for (;;) {
      size_t nl = buf_.find('\n');
      if (nl != std::string::npos) {
        line = buf_.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        buf_.erase(0, nl + 1);
        return 1;
      }
      if (eof_) {
        if (buf_.empty()) return -1;
        line.swap(buf_);
        buf_.clear();
        return 1;
      }
      pollfd p{0, POLLIN, 0};
      if (poll(&p, 1, timeout_ms) <= 0) return 0;
      char b[4096];
      ssize_t n = read(0, b, sizeof b);
      if (n <= 0)
        eof_ = true;
      else
        buf_.append(b, size_t(n));
    }
  }

 private:
  std::string buf_;
  bool eof_ = false;
};

}  // namespace

int cmd_shell(const Args& a, const W& w) {
  no_args(w);
  Session s(a, Need::none);
  const bool tty = isatty(0);
  bool raw = false;
  Input in;
  using Clock = std::chrono::steady_clock;
  auto last = Clock::now();
  for (;;) {
    if (tty) std::fputs("quor> ", stdout), std::fflush(stdout);
    std::string line;
    int got;
    while ((got = in.next(line, 5000)) == 0) {
      // The controller ends a session after 120 idle seconds; a logged-in
      // session renews itself, any other reconnects when it is used again.
      if (!s.level().empty() && Clock::now() - last > std::chrono::seconds(60)) {
        s.ask("alive");
        last = Clock::now();
      }
    }
    if (got < 0) break;
    if (line == "quit" || line == "exit") break;
    if (line.empty()) continue;
    if (line == "help" || line.rfind("help ", 0) == 0) {
      keyword_help(line.size() > 5 ? line.substr(5) : "");
      continue;
    }
    if (line == "raw on" || line == "raw off") {
      raw = line == "raw on";
      continue;
    }
    const std::string kw = line.substr(0, line.find('|'));
    const std::string out = raw ? line : convert_line(line);
    try {
      // A session the controller closed while idle is opened again.
      if (!s.conn().is_open() || s.conn().wait_closed(1)) {
        std::fprintf(stderr, "quorctl: the session had ended; connecting again\n");
        s.reopen();
      }
      if (!s.conn().send_line(out)) s.lost();
      last = Clock::now();
      if (kw == "sconfig") continue;  // never answered
      int blocks = kw == "init" ? 5 : 1;
      for (int b = 0; b < blocks; ++b) {
        Reply r;
        if (!s.conn().read_block(r, 60000)) s.lost();
        for (const auto& l : r.lines) std::printf("%s\n", (raw ? l : convert_reply(kw, l)).c_str());
        std::fflush(stdout);
      }
      if (kw == "logoff") s.conn().close();
    } catch (const Failure& f) {
      if (f.code == EXIT_ACCESS) throw;
      std::fprintf(stderr, "quorctl: %s\n", f.why.c_str());
      s.conn().close();  // the next line connects again
    }
  }
  return 0;
}

}  // namespace quorctl
