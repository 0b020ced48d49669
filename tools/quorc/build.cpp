// Text -> program file: every statement becomes the same calls the
// controller makes when it loads a program (inst_create, the parameter rows
// in row order, the configuration pages, the screen hooks), and every value
// the controller would refuse or change is reported against the text.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/module.h"
#include "core/registry.h"
#include "expr/names.h"
#include "program/file.h"
#include "program/hmi_io.h"
#include "program/naming.h"
#include "program/program_new.h"
#include "tools/quorc/access.h"
#include "tools/quorc/text.h"

namespace quorc {

std::string format_diag(const std::string& file, const Diag& d) {
  return file + ":" + std::to_string(d.line) + ":" + std::to_string(d.col) + ": " + d.msg;
}

namespace {

const char* const kStandard[5] = {"Loop_1", "Loop_2", "Loop_3", "Loop_4", "End"};
int standard_index(const std::string& name) {
  for (int i = 0; i < 5; ++i)
    if (name == kStandard[i]) return i;
  return -1;
}

struct Assign {
  u16 group;
  Tok key, value;
  int line;
};

struct Block {
  enum Kind { Page, Module, Inst, Object } kind;
  int line = 0;
  Tok head, name;
  u16 type = 0;  // page number, instruction type or object type
  u16 groups = 0;
  std::vector<Assign> rows;
};

struct FormatLine {
  u16 list;
  Tok text;
  int line;
};

class Builder {
 public:
  Builder(std::vector<Diag>* errs, size_t max) : errs_(errs), max_(max) {}

  void error(int line, int col, std::string msg) {
    if (errs_->size() < max_) errs_->push_back({line, col, std::move(msg)});
  }
  bool full() const { return errs_->size() >= max_; }

  void parse(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    int ln = 0;
    while (std::getline(in, line) && !full()) {
      ++ln;
      std::vector<Tok> t;
      int col = 0;
      std::string why;
      if (!lex_line(line, &t, &col, &why)) {
        error(ln, col, why);
        continue;
      }
      if (!t.empty()) statement(ln, t);
    }
  }

  void make();

 private:
  static std::string show(const Tok& t) { return t.kind == Tok::Str ? quoted(t.text) : "'" + t.text + "'"; }

  bool end_of(int ln, const std::vector<Tok>& t, size_t n, const char* what) {
    if (t.size() <= n) return true;
    error(ln, t[n].col, std::string("expected the end of the line after ") + what + ", found " + show(t[n]));
    return false;
  }
  bool need(int ln, const std::vector<Tok>& t, size_t i, const char* what) {
    if (i < t.size() && t[i].kind != Tok::Eq) return true;
    int col = i < t.size() ? t[i].col : t.back().col + int(t.back().text.size()) + (t.back().kind == Tok::Str ? 2 : 0);
    error(ln, col, std::string("expected ") + what);
    return false;
  }

  void statement(int ln, const std::vector<Tok>& t) {
    if (t.size() >= 2 && t[1].kind == Tok::Eq) return assignment(ln, t);
    const Tok& w = t[0];
    if (w.kind != Tok::Atom) {
      if (t.size() == 1 || t[1].kind != Tok::Eq)
        error(ln, t.size() > 1 ? t[1].col : w.col + int(w.text.size()) + 2, "expected '=' and a value after the row label");
      return;
    }
    if (w.text == "format") {
      if (!need(ln, t, 1, "a format list (an instruction type name or 0..32) after 'format'") ||
          !need(ln, t, 2, "the format text after the list") || !end_of(ln, t, 3, "the format text"))
        return;
      auto list = list_of(t[1].text);
      if (!list) return error(ln, t[1].col, "expected a format list: an instruction type name or a number 0..32");
      formats_.push_back({*list, t[2], ln});
      return;
    }
    if (w.text == "page") {
      if (!need(ln, t, 1, "a page name after 'page'") || !end_of(ln, t, 2, "the page name")) return;
      for (u8 p = 0; p < GEN_PAGES; ++p)
        if (t[1].text == gen_page_name[p]) return open(Block::Page, ln, t, p);
      std::string list;
      for (auto* n : gen_page_name) list += (list.empty() ? "" : ", ") + quoted(n);
      return error(ln, t[1].col, "expected a configuration page: " + list);
    }
    if (w.text == "module") {
      if (!need(ln, t, 1, "a module name after 'module'") || !end_of(ln, t, 2, "the module name")) return;
      return open(Block::Module, ln, t, 0);
    }
    if (w.text == "object") {
      if (!need(ln, t, 1, "an object type after 'object'") || !need(ln, t, 2, "the object's name after its type") ||
          !end_of(ln, t, 3, "the object's name"))
        return;
      if (!in_module_) return error(ln, w.col, "expected 'module' before its screen objects");
      std::optional<u16> type;
      for (u16 i = 0; i < object_info.types && object_info.type_name; ++i)
        if (const char* n = object_info.type_name(i); n && t[1].text == n) type = i;
      u32 n;
      if (!type && t[1].kind == Tok::Atom && parse_uint(t[1].text, &n) && n < 0xFFFF) type = u16(n);
      if (!type) {
        std::string list;
        for (u16 i = 0; i < object_info.types && object_info.type_name; ++i)
          list += (list.empty() ? "" : ", ") + object_type_text(i);
        return error(ln, t[1].col, "expected an object type" + (list.empty() ? std::string() : ": " + list));
      }
      return open(Block::Object, ln, t, *type);
    }
    if (w.text == "group") {
      if (blocks_.empty()) return error(ln, w.col, "expected an instruction, module, page or object before 'group'");
      Block& b = blocks_.back();
      if (t.size() > 1) {
        u32 n;
        if (t[1].kind != Tok::Atom || !parse_uint(t[1].text, &n) || n != u32(b.groups) + 1u)
          return error(ln, t[1].col, "expected 'group " + std::to_string(b.groups + 1) + "': groups are numbered in order from 1");
        if (!end_of(ln, t, 2, "the group number")) return;
      }
      if (b.groups == 0xFFFF) return error(ln, w.col, "too many groups");
      ++b.groups;
      return;
    }
    for (u16 ty = 1; ty < INST_TYPES; ++ty)
      if (inst_def_use[ty].name && w.text == inst_def_use[ty].name) {
        if (!need(ln, t, 1, "the instruction's description after its type") || !end_of(ln, t, 2, "the description"))
          return;
        if (!in_module_) return error(ln, w.col, "expected 'module' before the first instruction");
        if (in_screen_)
          return error(ln, w.col, "expected 'object': a module's instructions come before its screen objects");
        return open(Block::Inst, ln, t, ty);
      }
    error(ln, w.col,
          "expected an instruction type, 'module', 'page', 'format', 'object', 'group' or a row 'label = value'; '" +
              w.text + "' is none of them");
  }

  std::optional<u16> list_of(const std::string& s) {
    u32 n;
    if (parse_uint(s, &n)) return n < HMI_FORMAT_LISTS ? std::optional<u16>(u16(n)) : std::nullopt;
    for (u16 ty = 0; ty < INST_TYPES && ty < HMI_FORMAT_LISTS; ++ty)
      if (inst_def_use[ty].name && s == inst_def_use[ty].name) return ty;
    return std::nullopt;
  }

  void open(Block::Kind k, int ln, const std::vector<Tok>& t, u16 type) {
    Block b;
    b.kind = k;
    b.line = ln;
    b.head = t[0];
    b.name = k == Block::Object ? t[2] : t[1];
    if (k == Block::Object) b.head = t[1];
    b.type = type;
    blocks_.push_back(std::move(b));
    if (k == Block::Module) in_module_ = true, in_screen_ = false;
    if (k == Block::Page) in_module_ = false;
    if (k == Block::Object) in_screen_ = true;
  }

  void assignment(int ln, const std::vector<Tok>& t) {
    if (t.size() < 3) return error(ln, t[1].col + 1, "expected a value after '='");
    if (t[2].kind == Tok::Eq) return error(ln, t[2].col, "expected a value after '=', found a second '='");
    if (!end_of(ln, t, 3, "the value")) return;
    if (blocks_.empty())
      return error(ln, t[0].col, "expected a 'module', 'page', instruction or 'object' line before the first row");
    Block& b = blocks_.back();
    b.rows.push_back({b.groups, t[0], t[2], ln});
  }

  // Applies a block's rows through a, in row order, as loading does.
  void apply(Block& b, const Access& a);
  void apply_page(Block& b);
  bool check_desc_of(const Block& b, const char* what) {
    if (check_desc(b.name.text.c_str())) return true;
    error(b.line, b.name.col,
          std::string("expected a ") + what +
              " name of printable characters other than '|' that is not Loop_1..Loop_4, End or System");
    return false;
  }

  std::vector<Diag>* errs_;
  size_t max_;
  std::vector<Block> blocks_;
  std::vector<FormatLine> formats_;
  bool in_module_ = false, in_screen_ = false;
};

// Where a formula stopped, in words.
std::string formula_status(const std::string& text, u32 status) {
  size_t at = status ? status - 1 : 0;
  std::string s = "the formula does not compile (status " + std::to_string(status) + "): ";
  if (at >= text.size())
    return s + "at its end: a group left open, an operator with nothing after it, or two operands with no "
               "operator between them";
  char c = text[at];
  std::string where = "at character " + std::to_string(at + 1) + " '" + std::string(1, c) + "'";
  if (c == ')') return s + where + ": nothing to close, or a group that holds a single operand";
  if (c == '(') return s + where + ": an operand cannot be followed by '(' without an operator";
  if (c == '=') return s + where + ": '=' alone is no operator (compare with '==')";
  if (c == '\'') return s + where + ": unknown quoted function";
  return s + where + ": not expected there (missing operator, unknown function or bad number)";
}

void Builder::apply(Block& b, const Access& a) {
  Ilparam sh{};
  if (!a.lparam(&sh)) return;
  Labels labels = Labels::of(a.dparam(), sh);
  if (b.groups && sh.groups != b.groups)
    error(b.line, b.head.col,
          "the text gives " + std::to_string(b.groups) + " groups; the controller keeps " + std::to_string(sh.groups));
  if (b.groups && sh.group_rows == 0) return;
  struct Item {
    u16 g, row;
    const Assign* as;
  };
  std::vector<Item> items;
  std::map<std::pair<u16, u16>, int> seen;
  for (const Assign& as : b.rows) {
    if (as.group > sh.groups) continue;  // reported with the group count
    std::string why;
    auto row = labels.find(as.group, as.key.text, &why);
    if (!row) {
      error(as.line, as.key.col, why);
      continue;
    }
    auto [it, fresh] = seen.emplace(std::pair{as.group, *row}, as.line);
    if (!fresh) {
      error(as.line, as.key.col, "this row was already given on line " + std::to_string(it->second));
      continue;
    }
    items.push_back({as.group, *row, &as});
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const Item& x, const Item& y) { return std::pair{x.g, x.row} < std::pair{y.g, y.row}; });
  // Every row is set first, in row order, as loading sets them; then every
  // row is compared with what the controller kept, since a later row may
  // change an earlier one.
  struct Done {
    const Item* it;
    const RowLabel* label;
    Iparam p;
    std::string wanted;
    bool taken;
  };
  std::vector<Done> done;
  for (const Item& it : items) {
    const Assign& as = *it.as;
    const auto& sec = labels.section(it.g);
    const RowLabel* label = it.row < sec.size() ? &sec[it.row] : nullptr;
    Iparam cur{};
    if (!a.gparam(&cur, it.g, it.row)) continue;
    Iparam p{};
    std::string why;
    if (!value_from(as.value, cur.type, label, &p, &why)) {
      error(as.line, as.value.col, why);
      continue;
    }
    if (p.type == ptype::Ref) {
      const char* name = p.text;
      p.text = nullptr;
      if (std::string(name) != "Null" && !var_name(name, &p.ref, true)) {
        std::string n = name;
        size_t dot = n.find('.');
        if (dot != std::string::npos && n.find('[') > dot)
          error(as.line, as.value.col,
                "expected a variable of this module: another module's '" + n.substr(dot + 1) +
                    "' cannot be named here; share it as !name (system scope) or #name (loop scope)");
        else
          error(as.line, as.value.col,
                "expected a variable name: a letter, '_', '!' (system) or '#' (loop) first, then letters, "
                "digits or '_', an optional [index]; not Loop_1..Loop_4, End or System");
        continue;
      }
    }
    std::string wanted = value_text(p, label);
    bool taken = a.sparam(&p, it.g, it.row);
    done.push_back({&it, label, p, wanted, taken});
  }
  // The value the text gives for a row, if any.
  auto given = [&](u16 g, u16 row) -> const Done* {
    for (const Done& d : done)
      if (d.it->g == g && d.it->row == row) return &d;
    return nullptr;
  };
  for (const Done& d : done) {
    const Assign& as = *d.it->as;
    const auto& sec = labels.section(d.it->g);
    Iparam now{};
    a.gparam(&now, d.it->g, d.it->row);
    std::string got = value_text(now, d.label);
    if (d.taken) {
      if (got != d.wanted)
        error(as.line, as.value.col, "out of range: the controller would store " + got + " instead of " + d.wanted);
      continue;
    }
    // A refused text with a status row beside it is a formula that does not
    // compile. The controller keeps such a formula (and saves it); the text
    // may keep it too by giving the same status.
    bool explained = false;
    if (d.p.type & 0x100)
      for (u16 r = 0; r < sec.size() && !explained; ++r) {
        Iparam st{};
        if (sec[r].label != "Status" || !a.gparam(&st, d.it->g, r) || (st.type & 0x100) || !st.value) continue;
        explained = true;
        const Done* ack = given(d.it->g, r);
        if (ack && ack->taken && ack->p.value == st.value && got == d.wanted) continue;
        error(as.line, as.value.col + (as.value.kind == Tok::Str ? 1 : 0) + int(st.value) - 1,
              formula_status(as.value.text, st.value));
      }
    // Otherwise a refusal that leaves the row as the text gives it is no
    // change at all.
    if (explained || got == d.wanted) continue;
    error(as.line, as.value.col, "refused: the controller does not take " + d.wanted + " here (it keeps " + got + ")");
  }
}

void Builder::make() {
  auto& h = hmi_file_hooks;
  program_new(true);
  current_loop = 0;
  current_instruction = current_module = nullptr;

  std::vector<u16> next_line(HMI_FORMAT_LISTS, 1);
  for (const FormatLine& f : formats_) {
    if (!h.format_insert) {
      error(f.line, f.text.col, "this controller keeps no format lists");
      break;
    }
    // As a whole program loads them: appended as they stand, when the
    // screens offer that.
    auto add = h.format_append ? h.format_append : h.format_insert;
    u16 at = add(f.list, f.text.text.c_str());
    u16 want = next_line[f.list]++;
    if (at == 0)
      error(f.line, f.text.col, "refused: a format text holds printable characters other than '|'");
    else if (at != want)
      error(f.line, f.text.col, "the same text as line " + std::to_string(at) + " of this list: each line must differ");
  }

  bool page_done[GEN_PAGES]{};
  int expected = 0;  // the next standard module
  Module* module = nullptr;
  Module* screen = nullptr;  // the screen selected for objects
  auto add_module = [&](const std::string& name) -> Module* {
    Control* c = inst_create(0, current_instruction, name.c_str(), 0);
    current_instruction = current_module = c;
    return static_cast<Module*>(c);
  };
  auto standard = [&](Module* m, int k) {
    loop_start[k] = m;
    if (k >= 1 && k <= 3) current_loop = u16(k);
    expected = k + 1;
  };
  for (Block& b : blocks_) {
    if (full()) break;
    if (screen && b.kind != Block::Object) h.select(0, screen = nullptr);
    switch (b.kind) {
      case Block::Page:
        if (page_done[b.type]) error(b.line, b.name.col, "this page was already given");
        page_done[b.type] = true;
        gen::on_page(u8(b.type), [&] {
          if (b.groups) gen_resize(b.groups);
          apply(b, Access::page());
          return true;
        });
        break;
      case Block::Module: {
        int k = standard_index(b.name.text);
        if (expected == 0 && k != 0) {
          error(b.line, b.name.col, "expected 'module Loop_1' first: a program begins with loop 1");
          return;
        }
        if (expected == 5) {
          error(b.line, b.head.col, "expected nothing after the module End but its screen objects");
          return;
        }
        if (k >= 0 && k != expected) {
          error(b.line, b.name.col, std::string("expected 'module ") + kStandard[expected] + "' before " + b.name.text);
          return;
        }
        if (k < 0 && !check_desc_of(b, "module")) break;
        module = add_module(b.name.text);
        apply(b, Access::of(module));
        if (k >= 0) standard(module, k);
        break;
      }
      case Block::Inst: {
        if (expected == 5) {
          error(b.line, b.head.col, "expected nothing after the module End but its screen objects");
          return;
        }
        if (!check_desc_of(b, "description")) break;
        Control* c = inst_create(b.type, current_instruction, b.name.text.c_str(), b.groups);
        if (!c) {
          error(b.line, b.head.col, "this controller cannot make a " + b.head.text);
          break;
        }
        current_instruction = c;
        apply(b, Access::of(c));
        break;
      }
      case Block::Object: {
        if (!h.select || !h.insert) {
          error(b.line, b.head.col, "this controller has no screen objects");
          break;
        }
        // One screen is selected for all its objects: each goes after the
        // one before, as they load.
        if (screen != module) h.select(0, screen = module);
        HMI_object* o = h.insert(0, b.type, b.name.text.c_str(), b.groups);
        if (!o)
          error(b.line, b.head.col, "refused: no such object type, or a name with '|' or a reserved name");
        else
          apply(b, Access::of(o));
        break;
      }
    }
  }
  if (screen) h.select(0, nullptr);
  if (expected == 0 && !full()) {
    error(1, 1, "expected 'module Loop_1': a program has at least its first loop");
    return;
  }
  while (expected < 5) standard(add_module(kStandard[expected]), expected);
  current_loop = 0;
  current_instruction = current_module = loop_start[0];
}

}  // namespace

bool build(const std::string& text, std::string* out, std::vector<Diag>* errs, size_t max_errors) {
  errs->clear();
  Builder b(errs, max_errors);
  b.parse(text);
  if (errs->empty()) b.make();
  if (hmi_file_hooks.select) hmi_file_hooks.select(0, nullptr);
  bool ok = errs->empty();
  if (ok) {
    char tmpl[] = "/tmp/quorc_XXXXXX";
    const char* dir = mkdtemp(tmpl);
    std::string path = dir ? std::string(dir) + "/quor.qrn" : std::string();
    ok = dir && program_save(path.c_str());
    if (ok) {
      std::ifstream f(path, std::ios::binary);
      std::stringstream ss;
      ss << f.rdbuf();
      *out = ss.str();
    } else {
      errs->push_back({0, 0, "the program could not be saved (no space in /tmp?)"});
    }
    if (dir) {
      std::remove(path.c_str());
      rmdir(dir);
    }
  }
  if (!ok) program_new(false);
  return ok;
}

bool build_reported(const std::string& text, const std::string& file, std::string* out, std::string* report) {
  std::vector<Diag> errs;
  if (build(text, out, &errs)) return true;
  report->clear();
  for (const auto& d : errs) *report += format_diag(file, d) + "\n";
  return false;
}

}  // namespace quorc
