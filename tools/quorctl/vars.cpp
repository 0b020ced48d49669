// quorctl: variables by name or Module.name: get, set, watch.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "tools/quorctl/commands.h"

namespace quorctl {

namespace {

// Runs one command for a resolved variable; the cursor goes to its module.
Reply ask_var(Session& s, Program& p, const Program::Var& v, const std::string& line) {
  return v.module.empty() ? s.ask(line) : p.at(v.module, line);
}

[[noreturn]] void var_refused(Session& s, Program& p, const Program::Var& v, const std::string& text) {
  Reply m = ask_var(s, p, v, "mivar|" + v.name.substr(0, v.name.find('[')));
  if (!m.fail()) fail(EXIT_REFUSED, text + ": the index is beyond the variable's highest index " + m.first());
  fail(EXIT_REFUSED, "unknown variable \"" + text + "\"" + (text[0] == '!' ? " in the system scope" : ""));
}

std::vector<float> read_cells(Session& s, Program& p, const Program::Var& v, const std::string& text, long count) {
  Reply r = ask_var(s, p, v, "rvar|" + v.name + "|" + (count > 1 ? "1" : "0"));
  if (r.fail()) var_refused(s, p, v, text);
  if (r.lines.empty()) fail(EXIT_REFUSED, "no value in the reply for " + text);
  std::vector<float> out;
  for (long i = 0; i < count && i < long(r.lines.size()); ++i) {
    float f;
    if (!quorclient::wire_to_float(r.lines[size_t(i)], &f)) fail(EXIT_REFUSED, "bad value in the reply: " + r.lines[size_t(i)]);
    out.push_back(f);
  }
  return out;
}

}  // namespace

int cmd_get(const Args& a, const W& w) {
  if (w.size() < 2 || w.size() > 3) usage("get NAME [COUNT]");
  long count = 1;
  if (w.size() == 3 && (!parse_long(w[2], &count) || count < 1 || count > 128)) usage("COUNT must be 1 to 128");
  Session s(a, Need::none);
  Program p(s);
  auto v = p.resolve(w[1]);
  auto values = read_cells(s, p, v, w[1], count);
  if (a.json) {
    std::printf("{\"name\":%s,\"values\":[", json_string(w[1]).c_str());
    for (size_t i = 0; i < values.size(); ++i) std::printf("%s%s", i ? "," : "", show(values[i]).c_str());
    std::printf("]}\n");
  } else {
    for (float f : values) std::printf("%s\n", show(f).c_str());
  }
  return 0;
}

int cmd_set(const Args& a, const W& w) {
  if (w.size() != 3) usage("set NAME VALUE");
  float v;
  if (!parse_float(w[2], &v)) usage("VALUE must be a decimal number: " + w[2]);
  Session s(a, Need::none);
  Program p(s);
  auto var = p.resolve(w[1]);
  if (ask_var(s, p, var, "svar|" + var.name + "|" + quorclient::float_to_wire(v)).fail()) var_refused(s, p, var, w[1]);
  return 0;
}

int cmd_watch(const Args& a, const W& w) {
  std::vector<std::string> names;
  long count = 0;
  double interval = 1.0;
  for (size_t i = 1; i < w.size(); ++i) {
    if (w[i] == "--count" && i + 1 < w.size()) {
      if (!parse_long(w[++i], &count) || count < 1) usage("--count needs a positive number");
    } else if (w[i] == "--interval" && i + 1 < w.size()) {
      float f;
      if (!parse_float(w[++i], &f) || f < 0.05f || f > 3600) usage("--interval needs seconds from 0.05 to 3600");
      interval = f;
    } else if (w[i].rfind("--", 0) == 0) {
      usage("watch NAME... [--count N] [--interval SECONDS]");
    } else {
      names.push_back(w[i]);
    }
  }
  if (names.empty()) usage("watch NAME... [--count N] [--interval SECONDS]");
  Session s(a, Need::none);
  Program p(s);
  std::vector<Program::Var> vars;
  for (const auto& n : names) vars.push_back(p.resolve(n));
  // Refreshed in place on a terminal; one line a reading otherwise.
  const bool in_place = isatty(1) && !a.json && count == 0;
  auto next = std::chrono::steady_clock::now();
  for (long n = 0; count == 0 || n < count; ++n) {
    if (n) {
      next += std::chrono::milliseconds(long(interval * 1000));
      std::this_thread::sleep_until(next);
    }
    std::vector<float> values;
    for (int attempt = 0;; ++attempt) {
      try {
        values.clear();
        for (size_t i = 0; i < vars.size(); ++i) values.push_back(read_cells(s, p, vars[i], names[i], 1).at(0));
        break;
      } catch (const Failure& f) {
        // An idle session that is not logged in ends after two minutes.
        if (f.code != EXIT_CONNECT || attempt) throw;
        s.reopen();
        p.forget();
      }
    }
    time_t now = time(nullptr);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::localtime(&now));
    if (a.json) {
      std::printf("{\"time\":%ld,\"values\":{", long(now));
      for (size_t i = 0; i < values.size(); ++i)
        std::printf("%s%s:%s", i ? "," : "", json_string(names[i]).c_str(), show(values[i]).c_str());
      std::printf("}}\n");
    } else {
      std::string line = stamp;
      for (size_t i = 0; i < values.size(); ++i) line += "  " + names[i] + "=" + show(values[i]);
      std::printf(in_place ? "\r\033[K%s" : "%s\n", line.c_str());
    }
    std::fflush(stdout);
  }
  if (in_place) std::printf("\n");
  return 0;
}

}  // namespace quorctl
