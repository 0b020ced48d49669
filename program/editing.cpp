#include "program/editing.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/hooks.h"
#include "core/module.h"
#include "core/registry.h"
#include "program/cursor.h"
#include "program/hmi_io.h"
#include "program/naming.h"
#include "program/program_new.h"
#include "program/refs.h"

namespace {

bool is_standard(const Control* c) {
  return std::find(std::begin(loop_start), std::end(loop_start), c) != std::end(loop_start);
}

void clear_block() {
  block_start = block_end = nullptr;
  block_module_start = block_module_end = nullptr;
  block_len = 0;
}

// The last instruction of the module that contains c (c itself when the
// next element is a module or there is none).
Control* module_last(Control* c) {
  while (c->next && c->next->num() != 0) c = c->next;
  return c;
}

void set_cursor(Control* c) {
  current_instruction = c;
  current_module = module_of(c);
  current_loop = loop_of(c);
  update_module_pointer();
}

// Walks the block from block_start for the structural rules; on success
// sets block_end (when closing at `last`), block_len and block_module_end.
bool walk_block(Control* last, bool extend_modules) {
  Control* s = block_start;
  if (!s || is_standard(s)) return false;
  bool modules = s->num() == 0;
  u32 n = 0;
  Control* lastmod = nullptr;
  Control* c = s;
  for (;; c = c->next) {
    if (!c || is_standard(c)) return false;
    if (c->num() == 0) {
      if (!modules) return false;
      lastmod = c;
    }
    if (++n > 65535) return false;
    if (c == last) break;
  }
  if (modules) {
    if (extend_modules) {
      while (c->next && c->next->num() != 0) {
        c = c->next;
        ++n;
      }
      if (n > 65535) return false;
    } else if (!c->next || c->next->num() != 0) {
      return false;  // the block no longer ends with its last module's end
    }
  }
  block_end = c;
  block_len = u16(n);
  block_module_end = modules ? lastmod : nullptr;
  return true;
}

// A target inside the block: any of its elements but the last (copying
// right after a block is allowed).
bool in_block(const Control* t) {
  u16 i = 0;
  for (Control* c = block_start; c && c != block_end && i < block_len; c = c->next, ++i)
    if (c == t) return true;
  return false;
}

// Engine pointers that must not outlive the instructions they name.
void forget_engine_refs(Control* c) {
  Control* expect = c;
  break_execute.compare_exchange_strong(expect, nullptr);
  expect = c;
  break_hit.compare_exchange_strong(expect, nullptr);
  if (last_instruction == c) last_instruction = nullptr;
  if (next_step_instruction == c) next_step_instruction = nullptr;
  if (current_instruction_last == c) current_instruction_last = nullptr;
  if (run_instruction == c) run_instruction = nullptr;
  for (auto& r : return_instruction)
    if (r == c) r = nullptr;
}

// Copies every parameter of src into dst, references by name in the
// current scopes.
template <class Get, class Set>
bool copy_params(const Ilparam& sh, Get get, Set set) {
  bool ok = true;
  for (u32 g = 0; g <= sh.groups; ++g) {
    u16 n = g == 0 ? sh.rows : sh.group_rows;
    for (u16 r = 0; r < n; ++r) {
      Iparam p{};
      if (!get(&p, u16(g), r)) continue;
      std::string keep;
      if (p.type == ptype::Ref) {
        keep = ref_text(p.ref);
        if (!ref_resolve(keep.c_str(), &p.ref)) ok = false;
      } else if (p.type & 0x100) {
        // The source may change while the copy resolves names: hold the text.
        if (p.text) {
          keep = p.text;
          p.text = keep.c_str();
        }
      }
      set(&p, u16(g), r);
    }
  }
  return ok;
}

// Copies the screen objects of module src into module dst.
bool copy_objects(Module* src, Module* dst) {
  auto& h = hmi_file_hooks;
  if (!h.first || !h.insert || !h.select || !h.next || !h.first(src)) return true;
  bool ok = true;
  h.select(HMI_COPY_SESSION, dst);
  for (HMI_object* o = h.first(src); o; o = h.next(o)) {
    Ilparam sh{};
    h.lparam(o, &sh);
    HMI_object* n = h.insert(HMI_COPY_SESSION, h.num(o), h.name(o), sh.groups);
    if (!n) {
      ok = false;
      continue;
    }
    copy_params(
        sh,
        [&](Iparam* p, u16 g, u16 r) {
          p->user = HMI_COPY_SESSION;
          return h.gparam(o, p, g, r);
        },
        [&](Iparam* p, u16 g, u16 r) {
          p->user = HMI_COPY_SESSION;
          return h.sparam(n, p, g, r);
        });
  }
  h.select(HMI_COPY_SESSION, nullptr);
  return ok;
}

// Deletes one instruction of module m with what refers to it: its screen
// objects (an instruction block's), a module's screen, the engine's and the
// screens' pointers to it.
void delete_element(Module* m, Control* c, bool instruction_block) {
  if (instruction_block && hmi_file_hooks.instruction_deleted) hmi_file_hooks.instruction_deleted(m, c);
  if (c->num() == 0 && hmi_file_hooks.module_deleted) hmi_file_hooks.module_deleted(static_cast<Module*>(c));
  forget_engine_refs(c);
  if (HMI_basei == c) HMI_basei = nullptr;
  if (HMI_basem == c) HMI_basem = nullptr;
  inst_delete(c->num(), c);
}

// Deletes block_len instructions from block_start.
void delete_block_elements(bool instruction_block) {
  Module* m = module_of(block_start);
  Control* c = block_start;
  for (u16 i = 0; i < block_len && c; ++i) {
    Control* nx = c->next;
    delete_element(m, c, instruction_block);
    c = nx;
  }
}

}  // namespace

bool program_instruction(u16 type, const char* desc, u16 size) {
  if (!current_instruction || current_instruction == loop_start[4]) return false;
  if (!check_desc(desc) || type >= INST_TYPES) return false;
  Control* after = current_instruction;
  if (type == 0) {
    after = module_last(after);
    if (!after->next) return false;
  }
  Control* c = inst_create(type, after, desc, size);
  if (!c) return false;
  current_instruction = c;
  if (type == 0) current_module = c;
  return true;
}

bool program_rename(const char* desc) {
  clear_block();
  if (!current_instruction || !check_desc(desc) || is_standard(current_instruction)) return false;
  current_instruction->new_desc(desc);
  return true;
}

bool program_blockstart() {
  clear_block();
  if (!current_instruction) return false;
  block_start = current_instruction;
  block_loop = current_loop;
  block_module_start = current_module;
  return true;
}

bool program_block() {
  if (!block_start || !current_instruction || !walk_block(current_instruction, true)) {
    clear_block();
    return false;
  }
  return true;
}

int bcheck(Control* target, bool moving) {
  if (!block_start || !block_end || block_len == 0 || current_module == loop_start[4]) return 0;
  // Edits since the block was closed may have changed it: check it again.
  if (!walk_block(block_end, false)) return 0;
  int kind = block_start->num() == 0 ? 2 : 1;
  if (!target) return kind;
  if (kind == 1) {
    if (moving && (target == block_end || target == block_start->prev)) return 0;
    if (in_block(target)) return 0;
    return 1;
  }
  Control* saved = current_instruction;
  Control* t = module_last(target);
  if (in_block(t) || (moving && (t == block_start->prev || t == block_end)) || !t->next) {
    current_instruction = saved;
    return 0;
  }
  current_instruction = t;
  current_module = module_of(t);
  return 2;
}

bool program_delete() {
  int kind = bcheck(nullptr, false);
  if (!kind) return false;
  Control* before = block_start->prev;
  u16 cursor_loop = current_loop < 4 ? current_loop : 3;
  delete_block_elements(kind == 1);
  clear_block();
  set_cursor(kind == 1 ? before : loop_start[cursor_loop]);
  return true;
}

bool program_copy() {
  int kind = bcheck(current_instruction, false);
  if (!kind) return false;
  Control* base = current_instruction;
  std::vector<Control*> src;
  src.reserve(block_len);
  Control* c = block_start;
  for (u16 i = 0; i < block_len && c; ++i, c = c->next) src.push_back(c);

  bool ok = true;
  Module* src_module = nullptr;  // module of the source being copied
  Module* dst_module = nullptr;  // its copy
  bool skip_module = false;
  auto finish_module = [&] {
    if (src_module && dst_module && !copy_objects(src_module, dst_module)) ok = false;
    src_module = dst_module = nullptr;
  };
  for (Control* s : src) {
    bool is_module = s->num() == 0;
    if (is_module) {
      finish_module();
      skip_module = false;
    } else if (skip_module) {
      continue;  // the instructions of a module that could not be made
    }
    Ilparam sh{};
    s->lparam(&sh);
    if (!program_instruction(s->num(), s->desc.c_str(), sh.groups)) {
      ok = false;
      if (is_module) skip_module = true;
      continue;
    }
    Control* d = current_instruction;
    if (is_module) {
      src_module = static_cast<Module*>(s);
      dst_module = static_cast<Module*>(d);
    }
    if (!copy_params(
            sh, [&](Iparam* p, u16 g, u16 r) { return s->gparam(p, g, r); },
            [&](Iparam* p, u16 g, u16 r) { return d->sparam(p, g, r); }))
      ok = false;
  }
  finish_module();
  set_cursor(base);
  return ok;
}

bool program_move() {
  int kind = bcheck(current_instruction, true);
  if (!kind) return false;
  Control* t = current_instruction;
  Control* s = block_start;
  Control* e = block_end;
  bool same_loop = loop_of(t) == loop_of(s);
  bool relink = same_loop && (kind == 2 || module_of(t) == module_of(s));
  if (relink) {
    if (kind == 2) {
      auto* ms = static_cast<Module*>(s);
      auto* me = static_cast<Module*>(block_module_end);
      auto* cm = module_of(t);
      // Out of the module chain...
      if (ms->prev_module) ms->prev_module->next_module = me->next_module;
      if (me->next_module) me->next_module->prev_module = ms->prev_module;
      // ...and in again after the target's module.
      Module* cn = cm->next_module;
      cm->next_module = ms;
      ms->prev_module = cm;
      me->next_module = cn;
      if (cn) cn->prev_module = me;
    }
    // Out of the program list...
    s->prev->next = e->next;
    if (e->next) e->next->prev = s->prev;
    // ...and in again after the target.
    Control* tn = t->next;
    t->next = s;
    s->prev = t;
    e->next = tn;
    if (tn) tn->prev = e;
    program_shape_changed();
    clear_block();
    set_cursor(s->prev);
  } else {
    // A move that cannot copy the whole block changes nothing: the copies
    // made so far (between the target and what followed it) go again.
    Control* stop = t->next;
    if (!program_copy()) {
      Module* m = module_of(t);
      for (Control* c = t->next; c && c != stop;) {
        Control* nx = c->next;
        delete_element(m, c, kind == 1);
        c = nx;
      }
      set_cursor(t);
      return false;
    }
    Control* base = current_instruction;
    if (!program_delete()) return false;
    set_cursor(base);
    clear_block();
  }
  if (engine_hooks.program_moved) engine_hooks.program_moved();
  return true;
}
