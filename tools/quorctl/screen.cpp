// quorctl: a module's operator screen with its objects' live values.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tools/quorctl/commands.h"

namespace quorctl {

namespace {

// A cell shown as a Variable object's format would (0..5 decimals, float,
// then the integer formats).
std::string show_as(float v, long fmt) {
  char b[64];
  if (fmt >= 0 && fmt <= 5)
    std::snprintf(b, sizeof b, "%.*f", int(fmt), double(v));
  else if (fmt == 9)
    std::snprintf(b, sizeof b, "0x%X", unsigned(v > 0 ? v : 0));
  else if (fmt >= 7 && fmt <= 11)
    std::snprintf(b, sizeof b, "%.0f", double(std::trunc(v)));
  else
    return show(v);
  return b;
}

}  // namespace

int cmd_screen(const Args& a, const W& w) {
  if (w.size() != 2) usage("screen MODULE");
  Session s(a, Need::none);
  Program p(s);
  const std::string& module = w[1];
  // The module at the cursor becomes this session's current screen.
  auto head = p.at(module, {"shmiw||9", "gfhmi", "hlist"});
  if (head[0].fail() || head[1].fail()) fail(EXIT_REFUSED, "screen: the controller shows no screen of " + module);
  std::printf("screen %s\n", split(head[1].first(), '|')[0].c_str());
  const Reply& list = head[2];
  if (list.fail()) return 0;  // no objects
  for (size_t i = 0; i < list.lines.size(); ++i) {
    auto f = split(list.lines[i], '|');
    if (list.lines[i] == "0|0|0|none" || f.size() < 4) {
      std::printf("%zu  (not visible at this level)\n", i + 1);
      continue;
    }
    std::string type = f[3].substr(0, f[3].find(' ')), name = f[3].substr(f[3].find(' ') + 1);
    // Live values: the cells of the object's variables, read by name.
    std::vector<std::string> vars;
    long fmt = 6;
    if (type == "Variable" || type == "Graph_vars") {
      Reply rows = s.batch({"hpos||" + std::to_string(i + 1), "gconfig||1"})[1];
      for (size_t k = 0; k < rows.lines.size() && !rows.fail(); ++k) {
        auto v = split(rows.lines[k], '|');
        if (v.size() != 2) continue;
        if (v[1] == "263" && v[0] != "Null") vars.push_back(v[0]);
        if (type == "Variable" && k == 6) fmt = std::strtol(v[0].c_str(), nullptr, 10);
      }
    }
    std::string value;
    for (const auto& v : vars) {
      Reply cell = p.at(module, "rvar|" + v);
      float x;
      value += (value.empty() ? "" : " ") + v + "=" +
               (!cell.fail() && quorclient::wire_to_float(cell.first(), &x) ? (fmt == 12 ? "(clock)" : show_as(x, fmt))
                                                                            : "?");
    }
    std::printf("%zu  %s,%s  %s  %s%s%s\n", i + 1, f[0].c_str(), f[1].c_str(), type.c_str(), name.c_str(),
                value.empty() ? "" : "  ", value.c_str());
  }
  return 0;
}

}  // namespace quorctl
