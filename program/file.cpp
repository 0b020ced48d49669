#include "program/file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "core/config.h"
#include "core/engine.h"
#include "core/hooks.h"
#include "core/module.h"
#include "core/registry.h"
#include "core/scan_pause.h"
#include "platform/platform.h"
#include "program/cursor.h"
#include "program/hmi_io.h"
#include "program/naming.h"
#include "program/program_new.h"
#include "program/refs.h"

STR_PTR::~STR_PTR() {
  // Unlink the chain node by node instead of recursing through it.
  std::unique_ptr<STR_PTR> n = std::move(next);
  while (n) n = std::move(n->next);
}

bool fwrite_string_space(FILE* f, const char* s) {
  if (s && std::fputs(s, f) == EOF) return false;
  return std::fputc(0, f) != EOF;
}

bool fread_string_space(FILE* f, char* buf, int max) {
  int n = 0;
  for (;;) {
    int c = std::getc(f);
    if (c == EOF) {
      buf[0] = 0;
      return false;
    }
    if (c == 0) break;
    if (n < max) buf[n++] = char(c);
  }
  buf[n] = 0;
  return true;
}

namespace {

constexpr u16 HMI_SECTION = 0xFFFF;
constexpr u16 STR_BIT = 0x100;

struct Limits {
  u16 rows, groups, group_rows;
};
constexpr Limits kRecordLimits{FILE_MAX_ROWS, FILE_MAX_GROUPS, FILE_MAX_GROUP_ROWS};
constexpr Limits kPageLimits{FILE_MAX_ROWS, FILE_MAX_PAGE_GROUPS, FILE_MAX_GROUP_ROWS};

const char* const kStandard[5] = {"Loop_1", "Loop_2", "Loop_3", "Loop_4", "End"};

int standard_index(const std::string& s) {
  for (int i = 0; i < 5; ++i)
    if (s == kStandard[i]) return i;
  return -1;
}

// ---- reading ---------------------------------------------------------

// Reads the stream; every read reports the end of the file as false, which
// callers turn into a failed load when it falls inside a record.
struct Reader {
  FILE* f;
  u32 pos;
  explicit Reader(FILE* file) : f(file) {
    long p = std::ftell(file);
    pos = p > 0 ? u32(p) : 0;
  }
  bool byte(u8& b) {
    int c = getc_unlocked(f);
    if (c == EOF) return false;
    b = u8(c);
    ++pos;
    return true;
  }
  bool u16v(u16& v) {
    u8 a, b;
    if (!byte(a) || !byte(b)) return false;
    v = u16(a | (b << 8));
    return true;
  }
  bool u32v(u32& v) {
    u16 a, b;
    if (!u16v(a) || !u16v(b)) return false;
    v = u32(a) | (u32(b) << 16);
    return true;
  }
  // A string cut to max characters (the rest is consumed and dropped).
  bool str(std::string& s, size_t max) {
    s.clear();
    for (;;) {
      int c = getc_unlocked(f);
      if (c == EOF) return false;
      ++pos;
      if (c == 0) return true;
      if (s.size() < max) s.push_back(char(c));
    }
  }
  bool at_end() {
    int c = getc_unlocked(f);
    if (c == EOF) return true;
    ungetc(c, f);
    return false;
  }
};

bool read_shape(Reader& r, const Limits& lim, Ilparam& sh) {
  if (!r.u16v(sh.rows) || !r.u16v(sh.groups) || !r.u16v(sh.group_rows)) return false;
  return sh.rows <= lim.rows && sh.groups <= lim.groups && sh.group_rows <= lim.group_rows;
}

// Receives each parameter read; null drops them (and resolves nothing).
using Sink = void (*)(void* ctx, Iparam* p, u16 group, u16 row);

bool read_params(Reader& r, const Ilparam& sh, Sink sink, void* ctx) {
  std::string text;
  for (u32 g = 0; g <= sh.groups; ++g) {
    u16 n = g == 0 ? sh.rows : sh.group_rows;
    for (u16 row = 0; row < n; ++row) {
      Iparam p{};
      if (!r.u16v(p.type)) return false;
      if (p.type & STR_BIT) {
        if (!r.str(text, FILE_MAX_STRING)) return false;
        if (!sink) continue;
        if (p.type == ptype::Ref)
          ref_resolve(text.c_str(), &p.ref);
        else
          p.text = text.c_str();
      } else {
        if (!r.u32v(p.value)) return false;
        if (!sink) continue;
      }
      sink(ctx, &p, u16(g), row);
    }
  }
  return true;
}

bool skip_block(Reader& r, const Limits& lim) {
  Ilparam sh{};
  return read_shape(r, lim, sh) && read_params(r, sh, nullptr, nullptr);
}

// Format lists: each line handed to add(list, text) (null: dropped).
template <class Add>
bool read_formats(Reader& r, Add add) {
  u16 lists;
  if (!r.u16v(lists)) return false;
  std::string line;
  for (u32 l = 0; l < lists; ++l) {
    for (int n = 0;; ++n) {
      if (!r.str(line, FILE_MAX_FORMAT)) return false;
      if (line == "\x01") break;
      if (n >= FILE_MAX_FORMAT_LINES) return false;
      add(u16(l), line);
    }
  }
  return true;
}

void sink_control(void* ctx, Iparam* p, u16 g, u16 row) { static_cast<Control*>(ctx)->sparam(p, g, row); }
void sink_page(void*, Iparam* p, u16 g, u16 row) { gen::sparam(p, g, row); }

bool read_pages(Reader& r, bool apply) {
  u8 pages;
  if (!r.byte(pages)) return false;
  for (u32 page = 0; page < pages; ++page) {
    Ilparam sh{};
    if (!read_shape(r, kPageLimits, sh)) return false;
    bool known = apply && page < 11;
    if (known) {
      gen_sel = u8(page);
      gen_resize(sh.groups);
    }
    if (!read_params(r, sh, known ? &sink_page : nullptr, nullptr)) return false;
  }
  return true;
}

// One screen object's parameters on their way into the object.
struct ObjectSink {
  HMI_object* obj;
  u16 type;
  int session;
  Module* module;         // the module being imported (format remapping)
  const STR_PTR* list;    // the formats collected from the imported file
};

// The n-th (1-based) collected line of group `group`; with any_group the
// n-th line of the whole list, which must belong to `group`.
const STR_PTR* collected(const STR_PTR* list, int group, u32 n, bool any_group) {
  if (n == 0) return nullptr;
  for (const STR_PTR* s = list; s && s->next; s = s->next.get()) {
    if (!any_group && s->group != group) continue;
    if (--n == 0) return s->group == group ? s : nullptr;
  }
  return nullptr;
}

u32 remap_format(const STR_PTR* list, int group, u32 n, bool any_group) {
  const STR_PTR* s = collected(list, group, n, any_group);
  if (!s || !hmi_file_hooks.format_insert) return 0;
  return hmi_file_hooks.format_insert(u16(group), s->text.c_str());
}

void sink_object(void* ctx, Iparam* p, u16 g, u16 row) {
  auto* o = static_cast<ObjectSink*>(ctx);
  p->user = u16(o->session);
  if (o->list && g == 0) {
    if (o->type == 2 && row == 7 && p->type == ptype::SelSet) {
      p->value = remap_format(o->list, 0, p->value & 0xFF, true);
    } else if (o->type == 3 && row == 4 && p->type == 10) {
      // Low 16 bits: the instruction's position after the module; bits
      // 16..23: the format's position in the list of that instruction's type.
      u32 idx = p->value & 0xFFFF, fmt = (p->value >> 16) & 0xFF;
      Control* c = o->module;
      for (u32 i = 0; c && i < idx; ++i) {
        c = c->next;
        if (c && c->num() == 0) c = nullptr;
      }
      u32 nf = (c && idx && fmt) ? remap_format(o->list, c->num(), fmt, false) : 0;
      p->value = idx | (nf << 16);
    }
  }
  hmi_file_hooks.sparam(o->obj, p, g, row);
}

// The records of one HMI section, its opening 0xFFFF already read.
bool read_hmi_section(Reader& r, Module* m, int session, const STR_PTR* list) {
  auto& h = hmi_file_hooks;
  bool home = h.select && h.insert && h.sparam;
  if (home) h.select(session, m);
  bool ok = true;
  for (;;) {
    u16 type;
    std::string name;
    Ilparam sh{};
    if (!r.u16v(type)) {
      ok = false;
      break;
    }
    if (type == HMI_SECTION) break;
    if (!r.str(name, FILE_MAX_STRING) || !read_shape(r, kRecordLimits, sh)) {
      ok = false;
      break;
    }
    HMI_object* o = home ? h.insert(session, type, name.c_str(), sh.groups) : nullptr;
    ObjectSink os{o, type, session, m, list};
    if (!read_params(r, sh, o ? &sink_object : nullptr, &os)) {
      ok = false;
      break;
    }
  }
  if (home) h.select(session, nullptr);
  return ok;
}

// An instruction record after its type word: made after the cursor when
// its class exists (it then becomes the cursor), else read and dropped.
bool read_instruction(Reader& r, u16 type, Control** made, std::string* desc_out = nullptr) {
  std::string desc;
  Ilparam sh{};
  if (!r.str(desc, FILE_MAX_STRING)) return false;
  u32 at = r.pos;
  if (!read_shape(r, kRecordLimits, sh)) return false;
  if (desc_out) *desc_out = desc;
  Control* c = type < INST_TYPES ? inst_create(type, current_instruction, desc.c_str(), sh.groups) : nullptr;
  *made = c;
  if (c) {
    current_instruction = c;
    c->file_pos = at;
    if (type == 0) current_module = c;
  }
  return read_params(r, sh, c ? &sink_control : nullptr, c);
}

// The modules of a file being loaded. The five standard modules must come
// in order, "Loop_1" first and "End" last, or the file is refused.
bool read_modules(Reader& r, int session) {
  int expected = 0;  // index of the next standard module
  for (;;) {
    if (r.at_end()) return expected == 5;
    u16 type;
    if (!r.u16v(type)) return false;
    if (type == HMI_SECTION) {
      if (!current_module || !read_hmi_section(r, static_cast<Module*>(current_module), session, nullptr))
        return false;
      continue;
    }
    if (expected == 5) return false;  // nothing follows "End" but its screen
    if (expected == 0 && type != 0) return false;
    Control* c = nullptr;
    std::string desc;
    // Standard names are recognised before the module is made, so that the
    // structure is known while its parameters are read.
    if (!read_instruction(r, type, &c, &desc)) return false;
    if (type != 0) continue;
    int k = standard_index(desc);
    if (expected == 0 && k != 0) return false;
    if (k < 0) continue;
    if (k != expected) return false;
    loop_start[k] = c;
    if (k >= 1 && k <= 3) current_loop = u16(k);
    expected = k + 1;
  }
}

// HMI sessions are the client slots 0..9.
int valid_session(int s) { return s >= 0 && s < 10 ? s : 0; }

bool load_stream(FILE* f, const std::string& fname, int session) {
  session = valid_session(session);
  Reader r(f);
  std::string header;
  if (!r.str(header, 8) || header != "QUOR") return false;

  current_prog = fname;
  // Loading may take long: the hardware watchdog is switched off (through
  // the configuration row that does exactly that).
  gen::on_page(0, [] {
    Iparam off{};
    off.type = ptype::Select;
    return gen::sparam(&off, 0, 5);
  });
  program_new(true);
  current_loop = 0;

  bool ok = read_formats(r,
                         [](u16 list, const std::string& line) {
                           auto add = hmi_file_hooks.format_append ? hmi_file_hooks.format_append
                                                                   : hmi_file_hooks.format_insert;
                           if (list < HMI_FORMAT_LISTS && add) add(list, line.c_str());
                         }) &&
            read_pages(r, true);
  if (ok && r.at_end()) {
    // Nothing but the configuration: the empty default program.
    program_new(false);
    return true;
  }
  ok = ok && read_modules(r, session);
  if (!ok) {
    // Whatever was made goes, from the first element made on.
    if (current_instruction) {
      Control* head = current_instruction;
      while (head->prev) head = head->prev;
      loop_start[0] = head;
    }
    program_new(false);
    return false;
  }

  if (hmi_file_hooks.select) hmi_file_hooks.select(session, nullptr);
  current_loop = 0;
  current_loop_exec = 0;
  current_instruction = current_module = last_instruction = loop_start[0];
  HMI_basei = HMI_basem = loop_start[0];
  HMI_basel = 0;
  HMI_row = 0;
  break_execute.store(nullptr);
  block_start = block_end = nullptr;
  block_len = 0;
  for (int L = 0; L < 4; ++L) {
    run_status[L].store(0);
    return_instruction[L] = nullptr;
  }
  if (engine_hooks.program_loaded) engine_hooks.program_loaded();
  if (fname == PROGRAM_FILE) run_inst_update.store(1);
  return true;
}

// ---- writing ---------------------------------------------------------

struct Writer {
  std::string b;
  u32 pos() const { return u32(b.size()); }
  void byte(u8 v) { b.push_back(char(v)); }
  void u16v(u16 v) {
    byte(u8(v));
    byte(u8(v >> 8));
  }
  void u32v(u32 v) {
    u16v(u16(v));
    u16v(u16(v >> 16));
  }
  void str(const char* s) {
    if (s) b.append(s);
    b.push_back(0);
  }
};

template <class Get>
void write_block(Writer& w, const Ilparam& sh, Get get) {
  w.u16v(sh.rows);
  w.u16v(sh.groups);
  w.u16v(sh.group_rows);
  for (u32 g = 0; g <= sh.groups; ++g) {
    u16 n = g == 0 ? sh.rows : sh.group_rows;
    for (u16 row = 0; row < n; ++row) {
      Iparam p{};
      get(&p, u16(g), row);
      w.u16v(p.type);
      if (p.type == ptype::Ref)
        w.str(ref_text(p.ref).c_str());
      else if (p.type & STR_BIT)
        w.str(p.text);
      else
        w.u32v(p.value);
    }
  }
}

void write_objects(Writer& w, Module* m) {
  auto& h = hmi_file_hooks;
  if (!h.first || !h.next || !h.num || !h.name || !h.lparam || !h.gparam) return;
  HMI_object* o = h.first(m);
  if (!o) return;
  if (h.select) h.select(0, m);
  w.u16v(HMI_SECTION);
  for (; o; o = h.next(o)) {
    w.u16v(h.num(o));
    w.str(h.name(o));
    Ilparam sh{};
    if (!h.lparam(o, &sh)) sh = Ilparam{};
    write_block(w, sh, [&](Iparam* p, u16 g, u16 row) {
      p->user = 0;
      return h.gparam(o, p, g, row);
    });
  }
  w.u16v(HMI_SECTION);
  if (h.select) h.select(0, nullptr);
}

bool exists_nonempty(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

}  // namespace

bool program_load_stream(FILE* f, const char* name, int session) {
  scan_requires(Pause::Stopped);
  return load_stream(f, name ? name : PROGRAM_FILE, session);
}

bool program_load(const char* name, int session) {
  scan_requires(Pause::Stopped);
  std::string fname = name ? name : PROGRAM_FILE;
  FILE* f = std::fopen(fname.c_str(), "rb");
  if (!f) return false;
  bool ok = load_stream(f, fname, session);
  std::fclose(f);
  return ok;
}

bool program_save(const char* name) {
  // Reads every instruction's rows and records each one's file position,
  // which a capturing Constant reads as it runs.
  scan_requires(Pause::Paused);
  std::string fname = (name && *name) ? name : PROGRAM_FILE;
  if (!loop_start[0] || !loop_start[4]) return false;

  Writer w;
  w.b.reserve(1 << 16);
  w.str("QUOR");
  w.u16v(HMI_FORMAT_LISTS);
  for (u16 l = 0; l < HMI_FORMAT_LISTS; ++l) {
    for (u16 n = 1; n <= 255 && hmi_file_hooks.format_get; ++n) {
      const char* text = nullptr;
      if (!hmi_file_hooks.format_get(l, n, &text)) break;
      w.str(text);
    }
    w.str("\x01");
  }
  w.byte(11);
  for (u8 page = 0; page < 11; ++page)
    gen::on_page(page, [&] {
      Ilparam sh{};
      gen::lparam(&sh);
      write_block(w, sh, [](Iparam* p, u16 g, u16 row) { return gen::gparam(p, g, row); });
      return true;
    });

  std::vector<std::pair<Control*, u32>> offsets;
  Module* module = nullptr;
  for (Control* c = loop_start[0]; c; c = c->next) {
    if (c->num() == 0) module = static_cast<Module*>(c);
    w.u16v(c->num());
    w.str(c->desc.c_str());
    offsets.emplace_back(c, w.pos());
    Ilparam sh{};
    c->lparam(&sh);
    write_block(w, sh, [c](Iparam* p, u16 g, u16 row) { return c->gparam(p, g, row); });
    bool last = c == loop_start[4];
    if (module && (last || !c->next || c->next->num() == 0)) write_objects(w, module);
    if (last) break;
  }

  // The new file goes under a temporary name and reaches the disk before
  // anything is renamed, so a failed save never costs the previous program.
  std::string tmp = fname + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(w.b.data(), 1, w.b.size(), f) == w.b.size();
  ok = std::fflush(f) == 0 && ok;
  ok = ::fsync(fileno(f)) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  if (!ok || (plat && plat->free_disk_kib() < 1)) {
    std::remove(tmp.c_str());
    return false;
  }
  static const char* const kSuffix[] = {"", ".bkup", ".bkup2", ".bkup3", ".bkup4"};
  for (int i = 3; i >= 1; --i) {
    std::string from = fname + kSuffix[i], to = fname + kSuffix[i + 1];
    if (exists_nonempty(from)) std::rename(from.c_str(), to.c_str());
  }
  // The current file becomes the first backup by a second link, so that the
  // name never goes missing: a crash from here on leaves the old program or
  // the new one under it. Where links are not supported, it is moved.
  const std::string first_backup = fname + kSuffix[1];
  bool linked = false;
  if (exists_nonempty(fname)) {
    ::unlink(first_backup.c_str());
    linked = ::link(fname.c_str(), first_backup.c_str()) == 0;
    if (!linked) std::rename(fname.c_str(), first_backup.c_str());
  }
  if (std::rename(tmp.c_str(), fname.c_str()) != 0) {
    if (!linked) std::rename(first_backup.c_str(), fname.c_str());  // put the old one back
    std::remove(tmp.c_str());
    return false;
  }

  current_prog = fname;
  for (auto& [c, at] : offsets) c->file_pos = at;
  if (fname == PROGRAM_FILE) run_inst_update.store(1);
  return true;
}

// ---- module import ---------------------------------------------------

bool find_first_module(FILE* f, STR_PTR* list) {
  Reader r(f);
  std::string header;
  if (!r.str(header, 8) || header != "QUOR") return false;
  STR_PTR* node = list;
  bool ok = read_formats(r, [&node](u16 l, const std::string& line) {
    if (!node) return;
    node->group = l;
    node->text = line;
    node->next = std::make_unique<STR_PTR>();
    node = node->next.get();
  });
  u16 type;
  return ok && read_pages(r, false) && r.u16v(type) && type == 0;
}

bool move_next_module(FILE* f, std::string& name) {
  Reader r(f);
  name.clear();
  std::string desc;
  if (!r.str(desc, FILE_MAX_STRING)) return false;
  if (desc == "End") return true;
  name = desc;
  if (!skip_block(r, kRecordLimits)) return false;
  for (;;) {
    if (r.at_end()) return true;
    u16 type;
    if (!r.u16v(type)) return false;
    if (type == 0) return true;
    if (type == HMI_SECTION) {
      for (;;) {
        if (!r.u16v(type)) return false;
        if (type == HMI_SECTION) break;
        if (!r.str(desc, FILE_MAX_STRING) || !skip_block(r, kRecordLimits)) return false;
      }
    } else if (!r.str(desc, FILE_MAX_STRING) || !skip_block(r, kRecordLimits)) {
      return false;
    }
  }
}

bool module_insert(FILE* f, STR_PTR* list, int session) {
  session = valid_session(session);
  if (!current_instruction || !current_module || current_module == loop_start[4]) return false;
  Reader r(f);
  std::string desc;
  Ilparam sh{};
  if (!r.str(desc, FILE_MAX_STRING) || !check_desc(desc.c_str()) || !read_shape(r, kRecordLimits, sh))
    return false;

  Control* after = current_instruction;
  while (after->next && after->next->num() != 0) after = after->next;
  if (!after->next) return false;
  Control* saved_module = current_module;
  auto* m = static_cast<Module*>(inst_create(0, after, desc.c_str(), 0));
  if (!m) return false;
  current_instruction = current_module = m;

  bool ok = read_params(r, sh, &sink_control, m);
  while (ok && !r.at_end()) {
    u16 type;
    if (!r.u16v(type)) {
      ok = false;
    } else if (type == 0) {
      break;  // the next module's type word
    } else if (type == HMI_SECTION) {
      ok = read_hmi_section(r, m, session, list);
      break;
    } else {
      Control* c = nullptr;
      ok = read_instruction(r, type, &c);
    }
  }
  if (!ok) {
    // The file ends inside a record: the module goes again, whole.
    Control* last = current_instruction;
    for (Control* c = m; c;) {
      Control* nx = c == last ? nullptr : c->next;
      if (c == m && hmi_file_hooks.module_deleted) hmi_file_hooks.module_deleted(m);
      inst_delete(c->num(), c);
      c = nx;
    }
    current_instruction = after;
    current_module = saved_module;
    return false;
  }
  for (Control* c = m; c && c != current_instruction->next; c = c->next) c->file_pos = 0;
  current_module = m;
  return true;
}

void program_install_hooks() {
  // Start-up: the stored program, or its newest backup.
  startup_hooks.program_load = [] { return program_load(nullptr, 0) || program_load("quor.qrn.bkup", 0); };
  // A break point moved the cursor: the listing follows it.
  engine_hooks.cursor_moved = &update_module_pointer;
}
