#include "tools/quorweb/panel.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "tools/quorweb/gateway.h"

namespace quorweb {

using json = nlohmann::json;
using quorclient::Connection;
using quorclient::Reply;

namespace {

// Panel reads wait up to 10 s a command.
Reply ask(Connection& c, const std::string& line) { return must(c, line, 10000); }

long num(const std::string& s) { return std::strtol(s.c_str(), nullptr, 10); }

// The current object becomes panel `obj` of module k; "" or why not.
std::string select(Connection& c, int k, int obj) {
  if (ask(c, "shmiw||0|" + std::to_string(k)).fail()) return "no such screen";
  if (num(ask(c, "hpos||" + std::to_string(obj + 1)).first()) != obj + 1) return "no such object";
  if (num(ask(c, "num||1").first()) != 3) return "not an instruction panel";
  return "";
}

struct Shape {
  long rows = 0, group_rows = 0, groups = 0;
};

bool shape(Connection& c, Shape* s) {
  Reply r = ask(c, "lconfig||2");
  if (r.fail() || r.lines.size() < 3) return false;
  *s = {num(r.lines[0]), num(r.lines[1]), num(r.lines[2])};
  return true;
}

json value_of(long type, const std::string& v) {
  if (type & 0x100) return v;
  uint32_t u = uint32_t(std::strtoll(v.c_str(), nullptr, 10));
  if (type != 0) return u;
  float f;
  std::memcpy(&f, &u, 4);
  return std::isfinite(f) ? json(f) : json();
}

}  // namespace

json read_panel(Gateway& g, Connection& c, int k, const std::string& module, int obj) {
  std::string why = select(c, k, obj);
  if (!why.empty()) return {{"error", why}};
  Shape s;
  if (!shape(c, &s)) return {{"error", "not shown at this level"}};
  json out{{"labels", json::array()}, {"choices", json::array()}, {"rows", json::array()}, {"group_rows", s.group_rows}};
  Reply d = ask(c, "gquorfig||2");
  std::string desc = d.fail() ? "" : d.first();
  for (size_t at = 0; !desc.empty() && at <= desc.size();) {
    size_t end = std::min(desc.find('}', at), desc.size());
    std::string label = desc.substr(at, end - at);
    json choices = json::array();
    size_t tilde = label.find('~');
    for (size_t t = tilde; t != std::string::npos;) {
      size_t next = label.find('~', t + 1);
      choices.push_back(label.substr(t + 1, next == std::string::npos ? std::string::npos : next - t - 1));
      t = next;
    }
    out["labels"].push_back(label.substr(0, tilde));
    out["choices"].push_back(choices);
    at = end + 1;
  }
  std::vector<std::string> refs;
  for (int part = 0; part < 2; ++part) {
    if ((part == 0 && s.rows <= 0) || (part == 1 && (s.groups <= 0 || s.group_rows <= 0))) continue;
    Reply r = ask(c, "gconfig||2|" + std::to_string(part));
    for (size_t i = 0; i < r.lines.size() && r.lines[i] != "fail"; ++i) {
      auto bar = r.lines[i].rfind('|');
      if (bar == std::string::npos) continue;
      long type = num(r.lines[i].substr(bar + 1));
      std::string v = r.lines[i].substr(0, bar);
      long group = part == 0 ? 0 : long(i) / s.group_rows + 1, row = part == 0 ? long(i) : long(i) % s.group_rows;
      out["rows"].push_back({{"group", group}, {"row", row}, {"type", type}, {"value", value_of(type, v)}});
      if (type == 263 && v != "Null") refs.push_back(v);
    }
  }
  // The variables the rows name, read where the instruction sees them.
  if (!refs.empty() && g.cursor_to_module(c, module)) {
    for (auto& row : out["rows"]) {
      if (row["type"] != 263 || row["value"] == "Null") continue;
      float f;
      Reply r = ask(c, "rvar|" + row["value"].get<std::string>() + "|0");
      if (!r.fail() && quorclient::wire_to_float(r.first(), &f) && std::isfinite(f)) row["live"] = f;
    }
  }
  return out;
}

json write_panel(Connection& c, int k, int obj, int group, int row, double value) {
  json res{{"ok", false}};
  std::string why = select(c, k, obj);
  Shape s;
  if (why.empty() && !shape(c, &s)) why = "not shown at this level";
  if (!why.empty()) return res["error"] = why, res;
  if (!std::isfinite(value) || group < 0 || row < 0 || (group == 0 && row >= s.rows) ||
      (group > 0 && (group > s.groups || row >= s.group_rows)))
    return res["error"] = "no such row", res;
  size_t at = size_t(group == 0 ? row : (group - 1) * s.group_rows + row);
  Reply before = ask(c, "gconfig||2|" + std::string(group ? "1" : "0"));
  if (before.fail() || at >= before.lines.size()) return res["error"] = "row unreadable", res;
  long type = num(before.lines[at].substr(before.lines[at].rfind('|') + 1));
  if (type >= 6) return res["error"] = "not an operator row", res;
  std::string wire;
  if (type == 0) {
    wire = quorclient::float_to_wire(float(value));
  } else {
    if (value < 0 || value > 4294967295.0 || value != std::floor(value)) return res["error"] = "refused: not a whole number", res;
    wire = std::to_string(uint32_t(value));
  }
  // "sconfig" never answers: the row read back tells whether it was taken.
  c.send_line("sconfig||2|" + wire + "|" + std::to_string(type) + "|" + std::to_string(group) + "|" + std::to_string(row));
  Reply after = ask(c, "gconfig||2|" + std::string(group ? "1" : "0"));
  if (after.fail() || at >= after.lines.size()) return res["error"] = "row unreadable", res;
  std::string got = after.lines[at].substr(0, after.lines[at].rfind('|'));
  bool same = type == 0 ? got == wire : uint32_t(std::strtoll(got.c_str(), nullptr, 10)) == uint32_t(std::strtoll(wire.c_str(), nullptr, 10));
  if (!same && got == before.lines[at].substr(0, before.lines[at].rfind('|')))
    return res["error"] = "refused by the controller", res;
  if (!same) res["clamped"] = true;  // taken, within the row's limits
  res["ok"] = true;
  return res;
}

}  // namespace quorweb
