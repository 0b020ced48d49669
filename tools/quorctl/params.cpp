// quorctl: parameters of instructions, modules and configuration pages by
// row label, with decimal values: params, set-param.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/quorctl/commands.h"

namespace quorctl {

namespace {

const char* const kPages[] = {"General/Password", "HMI edit/Serial ports", "Internet Connections",
                              "Periodic File 1",  "Periodic File 2",       "Periodic File 3",
                              "Periodic File 4",  "Event File 1",          "Event File 2",
                              "Event File 3",     "Event File 4"};

// What a parameter command talks to: a line that puts the cursor (or the
// page selection) on it, the reply that line must give, and the target.
struct Target {
  std::string prefix, expect, name;
  int target = 0;
};

std::string strip(const std::string& line) {
  size_t i = line.find_first_not_of(' ');
  return i == std::string::npos ? "" : line.substr(i);
}

Target page_target(const std::string& which) {
  long n = -1;
  if (!parse_long(which, &n))
    for (int i = 0; i < 11; ++i)
      if (!strcasecmp(which.c_str(), kPages[i])) n = i;
  if (n < 0 || n > 10) {
    std::string all;
    for (int i = 0; i < 11; ++i) all += std::string(i ? ", " : "") + std::to_string(i) + " " + kPages[i];
    usage("no configuration page \"" + which + "\" (pages: " + all + ")");
  }
  return {"gpos||" + std::to_string(n), "OK", kPages[n], 4};
}

// MODULE, MODULE/N (the N-th instruction), MODULE/DESCRIPTION or MODULE/TYPE.
Target program_target(Program& p, const std::string& what) {
  const auto& l = p.listing();
  for (size_t i = 0; i < l.size(); ++i)
    if (l[i] == "Module " + what) return {"apos||" + std::to_string(i), l[i], what, 0};
  size_t slash = what.rfind('/');
  if (slash == std::string::npos) p.module_position(what);  // throws: no such module
  const std::string module = what.substr(0, slash), which = what.substr(slash + 1);
  size_t first = size_t(p.module_position(module));
  std::vector<size_t> lines;
  for (size_t i = first + 1; i < l.size() && l[i].rfind("Module ", 0) != 0; ++i) lines.push_back(i);
  long n = 0;
  auto pick = [&](size_t i) { return Target{"apos||" + std::to_string(i), l[i], what, 0}; };
  if (parse_long(which, &n)) {
    if (n >= 1 && size_t(n) <= lines.size()) return pick(lines[size_t(n - 1)]);
  } else {
    for (size_t i : lines) {  // by description
      std::string s = strip(l[i]);
      if (s.substr(s.find(' ') + 1) == which) return pick(i);
    }
    for (size_t i : lines)  // by type name: the first of that type
      if (strip(l[i]).substr(0, strip(l[i]).find(' ')) == which) return pick(i);
  }
  std::string all;
  for (size_t k = 0; k < lines.size(); ++k) all += "\n  " + std::to_string(k + 1) + ": " + strip(l[lines[k]]);
  fail(EXIT_REFUSED, "module \"" + module + "\" has no instruction \"" + which + "\"" +
                         (all.empty() ? " (it has none)" : "; it has:" + all));
}

struct Row {
  std::string label;
  std::vector<std::string> choices;
  int group = 0, row = 0;
  int type = 0;
  std::string value;  // as the controller sent it
  std::string shown() const;
  std::string name() const { return group ? label + "[" + std::to_string(group) + "]" : label; }
};

std::string Row::shown() const {
  if (type == 0) return value == "2137108966" ? "3e+38" : show_wire(value);
  if (type & 0x100) return value;
  unsigned long v = std::strtoul(value.c_str(), nullptr, 10);
  if (value[0] == '-') v = (unsigned long)(uint32_t)std::strtol(value.c_str(), nullptr, 10);
  if (type == 5 && v < choices.size()) return choices[v];
  if (type == 4) {
    char b[24];
    std::snprintf(b, sizeof b, "0x%lX", v);
    return b;
  }
  return std::to_string(v);
}

class Params {
 public:
  Params(Session& s, Program& p, const Args& a, const std::string& what) : s_(s) {
    t_ = what.rfind("--page=", 0) == 0 ? page_target(what.substr(7)) : program_target(p, what);
  }
  std::vector<Row> read() {
    const std::string n = std::to_string(t_.target);
    auto r = batch({"lconfig||" + n, "gquorfig||" + n, "gconfig||" + n + "|0", "gconfig||" + n + "|1"});
    if (r[0].fail() || r[0].lines.size() < 3) fail(EXIT_REFUSED, t_.name + ": the controller gives no parameter shape");
    const int rows = std::atoi(r[0].lines[0].c_str()), group_rows = std::atoi(r[0].lines[1].c_str());
    auto labels = r[1].fail() ? std::vector<std::string>{} : split(r[1].first(), '}');
    // A module has rows but no descriptor: its screen's title and settings.
    if (r[1].fail() && t_.expect.rfind("Module ", 0) == 0)
      labels = {"Screen title", "Screen setting 1", "Screen setting 2", "Screen setting 3"};
    std::vector<Row> out;
    auto add = [&](const Reply& values, bool groups) {
      if (values.fail()) return;
      for (size_t i = 0; i < values.lines.size(); ++i) {
        Row row;
        row.group = groups ? int(i) / std::max(group_rows, 1) + 1 : 0;
        row.row = groups ? int(i) % std::max(group_rows, 1) : int(i);
        size_t li = size_t(groups ? rows + row.row : row.row);
        auto parts = split(li < labels.size() ? labels[li] : "row " + std::to_string(li), '~');
        row.label = parts[0];
        row.choices.assign(parts.begin() + 1, parts.end());
        size_t bar = values.lines[i].rfind('|');
        row.value = values.lines[i].substr(0, bar);
        row.type = bar == std::string::npos ? 0 : std::atoi(values.lines[i].c_str() + bar + 1);
        out.push_back(row);
      }
    };
    add(r[2], false);
    if (group_rows) add(r[3], true);
    return out;
  }
  // Writes one row; the caller reads it back.
  void write(const Row& row, const std::string& text, const std::string& value) {
    batch({"sconfig|" + text + "|" + std::to_string(t_.target) + "|" + value + "|" + std::to_string(row.type) + "|" +
           std::to_string(row.group) + "|" + std::to_string(row.row)});
  }
  const Target& target() const { return t_; }

 private:
  std::vector<Reply> batch(std::vector<std::string> lines) {
    lines.insert(lines.begin(), t_.prefix);
    auto r = s_.batch(lines);
    if (r[0].first() != t_.expect)
      fail(EXIT_REFUSED, t_.name + ": the program changed while reading it; try again");
    r.erase(r.begin());
    return r;
  }
  Session& s_;
  Target t_;
};

std::string target_arg(const W& w, size_t& i) {
  if (w[i] == "--page") {
    if (i + 1 >= w.size()) usage("--page needs a page number or name");
    return "--page=" + w[++i];
  }
  return w[i];
}

// The wire value of VALUE for a row: the text field and the number.
void encode(const Row& row, const std::string& value, std::string* text, std::string* number) {
  *text = "";
  number->assign(1, '0');
  if (row.type & 0x100) {
    if (value.find('|') != std::string::npos || (value.find('~') != std::string::npos && value[0] != '{'))
      usage("a text value cannot hold \"|\", nor \"~\" unless it starts with \"{\"");
    *text = value;
    return;
  }
  if (row.type == 0) {
    float f;
    if (!parse_float(value, &f)) usage(row.name() + " takes a decimal number, not \"" + value + "\"");
    *number = std::to_string(uint32_t(std::stoll(quorclient::float_to_wire(f))));
    return;
  }
  if (row.type == 5 && !row.choices.empty()) {
    for (size_t i = 0; i < row.choices.size(); ++i)
      if (!strcasecmp(row.choices[i].c_str(), value.c_str())) {
        *number = std::to_string(i);
        return;
      }
    long n;
    if (parse_long(value, &n) && n >= 0 && size_t(n) < row.choices.size()) {
      *number = std::to_string(n);
      return;
    }
    std::string all;
    for (const auto& c : row.choices) all += (all.empty() ? "" : ", ") + c;
    usage(row.name() + " is one of: " + all);
  }
  long n;
  if (!parse_long(value, &n) || n < 0 || n > 0xFFFFFFFFL) usage(row.name() + " takes a whole number, not \"" + value + "\"");
  *number = std::to_string(n);
}

void print_rows(const Args& a, const std::vector<Row>& rows) {
  if (a.json) {
    std::printf("[");
    for (size_t i = 0; i < rows.size(); ++i) {
      const Row& r = rows[i];
      bool number = r.type != 5 && !(r.type & 0x100);
      std::string v = number && r.type != 4 ? r.shown() : json_string(r.shown());
      std::printf("%s{\"label\":%s,\"group\":%d,\"row\":%d,\"type\":%d,\"value\":%s}", i ? "," : "",
                  json_string(r.label).c_str(), r.group, r.row, r.type, v.c_str());
    }
    std::printf("]\n");
    return;
  }
  for (const auto& r : rows) std::printf("%s = %s\n", r.name().c_str(), r.shown().c_str());
}

}  // namespace

int cmd_params(const Args& a, const W& w) {
  size_t i = 1;
  if (w.size() < 2) usage("params MODULE[/INSTRUCTION] | params --page PAGE");
  std::string target = target_arg(w, i);
  if (i + 1 != w.size()) usage("params MODULE[/INSTRUCTION] | params --page PAGE");
  Session s(a, Need::none);
  Program p(s);
  Params params(s, p, a, target);
  print_rows(a, params.read());
  return 0;
}

int cmd_set_param(const Args& a, const W& w) {
  size_t i = 1;
  if (w.size() < 4) usage("set-param MODULE[/INSTRUCTION]|--page PAGE LABEL VALUE");
  std::string target = target_arg(w, i);
  if (i + 3 != w.size()) usage("set-param MODULE[/INSTRUCTION]|--page PAGE LABEL VALUE");
  const std::string label = w[i + 1], value = w[i + 2];
  Session s(a, Need::programmer);
  Program p(s);
  Params params(s, p, a, target);
  auto rows = params.read();
  const Row* row = nullptr;
  for (int pass = 0; pass < 2 && !row; ++pass)
    for (const auto& r : rows)
      if (pass ? !strcasecmp(r.name().c_str(), label.c_str()) : r.name() == label) {
        row = &r;
        break;
      }
  if (!row) {
    std::string all;
    for (const auto& r : rows) all += "\n  " + r.name();
    fail(EXIT_USAGE, params.target().name + " has no row \"" + label + "\"; its rows are:" + all);
  }
  std::string text, number;
  encode(*row, value, &text, &number);
  Row before = *row;
  params.write(before, text, number);
  Row after = before;
  for (const auto& r : params.read())
    if (r.group == before.group && r.row == before.row) after = r;
  std::printf("%s = %s\n", after.name().c_str(), after.shown().c_str());
  // The controller never answers a write: what it did shows in the value.
  Row wanted = before;
  wanted.value = (before.type & 0x100) ? text : number;
  if (before.type == 0) wanted.value = std::to_string(int32_t(uint32_t(std::stoul(number))));
  // An empty text or "Null" clears a row: it reads back as "none" ("Null"
  // for a variable reference).
  const bool clears = (before.type & 0x100) && (text.empty() || text == "Null");
  bool same_as_wanted = after.shown() == wanted.shown() ||
                        (clears && after.value == (before.type == 263 ? "Null" : "none"));
  if (same_as_wanted) return 0;
  if (after.value == before.value)
    fail(EXIT_REFUSED, after.name() + ": the controller did not take " + value + " (the row keeps " + after.shown() +
                           ")");
  std::fprintf(stderr, "quorctl: %s: the controller limited %s to %s\n", after.name().c_str(), value.c_str(),
               after.shown().c_str());
  return 0;
}

}  // namespace quorctl
