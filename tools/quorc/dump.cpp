// Program file -> text: load the file as the controller does, then walk the
// program and write every row through the parameter protocol.
#include <cstdio>
#include <string>

#include "core/config.h"
#include "core/module.h"
#include "core/registry.h"
#include "program/file.h"
#include "program/hmi_io.h"
#include "program/program_new.h"
#include "tools/quorc/access.h"
#include "tools/quorc/text.h"

namespace quorc {

Access Access::page() {
  return {[](Ilparam* s) { return gen::lparam(s); }, [] { return gen::dparam(); },
          [](Iparam* p, u16 g, u16 r) { return gen::gparam(p, g, r); },
          [](Iparam* p, u16 g, u16 r) { return gen::sparam(p, g, r); }};
}

std::string object_type_text(u16 type) {
  const char* n = object_info.type_name && type < object_info.types ? object_info.type_name(type) : nullptr;
  return n && *n ? word_or_quoted(n) : std::to_string(type);
}

namespace {

// Every row of a list, fixed rows first, then "group N" and its rows. Rows
// without a label are left out where they hold what `fresh` (a new element
// of the same kind) holds: building gives them that value again.
void write_rows(std::string& out, Access a, const std::string& indent, const Access* fresh = nullptr) {
  Ilparam sh{};
  if (!a.lparam(&sh)) return;
  Labels labels = Labels::of(a.dparam(), sh);
  for (u16 g = 0; g <= sh.groups; ++g) {
    u16 n = g ? sh.group_rows : sh.rows;
    if (g && n == 0) break;
    std::string in = indent;
    if (g) {
      out += indent + "group " + std::to_string(g) + "\n";
      in += "  ";
    }
    for (u16 r = 0; r < n; ++r) {
      Iparam p{};
      if (!a.gparam(&p, g, r)) continue;
      const auto& sec = labels.section(g);
      const RowLabel* label = r < sec.size() ? &sec[r] : nullptr;
      Iparam q{};
      if (fresh && (!label || label->label.empty()) && fresh->gparam(&q, g, r) && q.type == p.type &&
          value_text(q, label) == value_text(p, label))
        continue;
      out += in + labels.key(g, r) + " = " + value_text(p, r < sec.size() ? &sec[r] : nullptr) + "\n";
    }
  }
}

std::string page_text(u8 page) {
  return gen::on_page(page, [page] {
    std::string body;
    write_rows(body, Access::page(), "  ");
    return "page " + word_or_quoted(gen_page_name[page]) + "\n" + body;
  });
}

}  // namespace

bool dump(const std::string& bytes, std::string* out, std::string* err) {
  // What a page looks like in a new program: such pages are left out.
  program_new(false);
  std::string defaults[GEN_PAGES];
  for (u8 p = 0; p < GEN_PAGES; ++p) defaults[p] = page_text(p);

  std::string copy = bytes;
  FILE* f = copy.empty() ? nullptr : fmemopen(copy.data(), copy.size(), "rb");
  if (!f) {
    *err = "empty file";
    return false;
  }
  bool ok = program_load_stream(f, "quorc", 0);
  std::fclose(f);
  if (!ok) {
    *err = bytes.compare(0, 5, std::string("QUOR\0", 5)) ? "not a program file (no \"QUOR\" header)"
                                                         : "a damaged program file: the controller would not load it";
    program_new(false);
    return false;
  }

  std::string& t = *out;
  t = "# quor program\n";
  auto& h = hmi_file_hooks;
  bool any = false;
  for (u16 l = 0; l < HMI_FORMAT_LISTS && h.format_get; ++l)
    for (u16 n = 1; n <= 255; ++n) {
      const char* text = nullptr;
      if (!h.format_get(l, n, &text)) break;
      if (!any) t += "\n";
      any = true;
      const char* list = l < INST_TYPES ? inst_def_use[l].name : nullptr;
      t += "format " + (list ? std::string(list) : std::to_string(l)) + " " + quoted(text ? text : "") + "\n";
    }
  for (u8 p = 0; p < GEN_PAGES; ++p) {
    std::string pt = page_text(p);
    if (pt != defaults[p]) t += "\n" + pt;
  }

  Module* module = nullptr;
  for (Control* c = loop_start[0]; c; c = c->next) {
    if (c->num() == 0) {
      module = static_cast<Module*>(c);
      t += "\nmodule " + word_or_quoted(c->desc) + "\n";
      // A module's rows (its screen's title and settings) have no labels.
      Control* probe = inst_create(0, nullptr, "probe", 0);
      Access fresh = Access::of(probe);
      write_rows(t, Access::of(c), "  ", &fresh);
      inst_delete(0, probe);
    } else {
      const char* name = c->num() < INST_TYPES ? inst_def_use[c->num()].name : nullptr;
      t += "\n  " + (name ? std::string(name) : std::to_string(c->num())) + " " + quoted(c->desc) + "\n";
      write_rows(t, Access::of(c), "    ");
    }
    bool last = c == loop_start[4];
    // After a module's last instruction comes its screen.
    if (module && (last || !c->next || c->next->num() == 0) && h.first && h.next && h.num && h.name)
      for (HMI_object* o = h.first(module); o; o = h.next(o)) {
        const char* name = h.name(o);
        t += "\n  object " + object_type_text(h.num(o)) + " " + quoted(name ? name : "") + "\n";
        write_rows(t, Access::of(o), "    ");
      }
    if (last) break;
  }
  return true;
}

}  // namespace quorc
