// Stand-in screens for program tests: objects with a name, a number, a
// variable reference and a format row, kept per module, and the 33 format
// lists. Installs itself in hmi_file_hooks while alive and restores what
// was there when it goes.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/module.h"
#include "program/hmi_io.h"
#include "program/refs.h"
#include "tests/support/hook_guard.h"

// Stands where the controller's screen objects would; the hooks see it as
// an opaque HMI_object pointer.
struct FakeObject {
  u16 type = 0;
  std::string name;
  u32 x = 0;
  pIdata ref{};
  u32 fmt = 0;  // row 7 of type 2 (type 9) or row 4 of type 3 (type 10)
  FakeObject* next = nullptr;
};
inline FakeObject* fake(HMI_object* o) { return reinterpret_cast<FakeObject*>(o); }
inline HMI_object* real(FakeObject* o) { return reinterpret_cast<HMI_object*>(o); }

struct FakeHmi {
  std::map<Module*, std::vector<std::unique_ptr<FakeObject>>> screens;
  std::vector<std::string> formats[HMI_FORMAT_LISTS];
  Module* slot[10]{};
  static inline FakeHmi* self = nullptr;
  HookGuard<HmiFileHooks> hooks_{hmi_file_hooks};
  HookGuard<void (*)(HMI_object*)> destroy_{hmi_destroy_objects};

  FakeHmi() {
    self = this;
    auto& h = hmi_file_hooks;
    h = HmiFileHooks{};  // nothing of the real screens stays in use
    h.format_get = [](u16 l, u16 n, const char** t) {
      auto& f = self->formats[l];
      if (n == 0 || n > f.size()) return false;
      *t = f[n - 1].empty() ? nullptr : f[n - 1].c_str();
      return true;
    };
    h.format_insert = [](u16 l, const char* t) -> u16 {
      if (l >= HMI_FORMAT_LISTS) return 0;
      auto& f = self->formats[l];
      for (size_t i = 0; i < f.size(); ++i)
        if (f[i] == t) return u16(i + 1);
      f.push_back(t);
      return u16(f.size());
    };
    h.first = [](Module* m) -> HMI_object* {
      auto it = self->screens.find(m);
      return it == self->screens.end() || it->second.empty() ? nullptr : real(it->second.front().get());
    };
    h.next = [](HMI_object* o) { return real(fake(o)->next); };
    h.num = [](HMI_object* o) { return fake(o)->type; };
    h.name = [](HMI_object* o) { return fake(o)->name.c_str(); };
    h.lparam = [](HMI_object* o, Ilparam* s) {
      *s = Ilparam{8, 0, 0};
      return true;
    };
    // Rows: 0 x (13), 5 the reference, 4/7 the format, others 0 (type 3).
    h.gparam = [](HMI_object* obj, Iparam* p, u16 g, u16 r) {
      FakeObject* o = fake(obj);
      if (g != 0 || r > 7) return false;
      if (r == 0) p->set_uint(13, o->x);
      else if (r == 5) {
        p->type = ptype::Ref;
        p->ref = o->ref;
      } else if (r == 4 && o->type == 3) p->set_uint(10, o->fmt);
      else if (r == 7 && o->type == 2) p->set_uint(ptype::SelSet, o->fmt);
      else p->set_uint(ptype::Dec, 0);
      return true;
    };
    h.sparam = [](HMI_object* obj, Iparam* p, u16 g, u16 r) {
      FakeObject* o = fake(obj);
      if (g != 0) return false;
      if (r == 0 && p->type == 13) o->x = p->value;
      else if (r == 5 && p->type == ptype::Ref) o->ref = p->ref;
      else if ((r == 4 && p->type == 10) || (r == 7 && p->type == ptype::SelSet)) o->fmt = p->value;
      else return false;
      return true;
    };
    h.select = [](int s, Module* m) { self->slot[s] = m; };
    h.insert = [](int s, u16 type, const char* name, u16) -> HMI_object* {
      Module* m = self->slot[s];
      if (!m || type > 6) return nullptr;
      return real(self->add(m, type, name));
    };
    h.clear_sessions = [] {
      for (auto& m : self->slot) m = nullptr;
    };
    h.module_deleted = [](Module*) {};
    // A module's screen goes with the module.
    hmi_destroy_objects = [](HMI_object* first) {
      for (auto it = self->screens.begin(); it != self->screens.end(); ++it)
        if (!it->second.empty() && real(it->second.front().get()) == first) {
          self->screens.erase(it);
          return;
        }
    };
  }
  ~FakeHmi() {
    for (auto& [m, v] : screens) m->objects = nullptr;
    self = nullptr;
  }
  FakeObject* add(Module* m, u16 type, const char* name) {
    auto& v = screens[m];
    v.push_back(std::make_unique<FakeObject>());
    auto* o = v.back().get();
    o->type = type;
    o->name = name;
    if (v.size() > 1) v[v.size() - 2]->next = o;
    m->objects = real(v.front().get());
    return o;
  }
  const std::vector<std::unique_ptr<FakeObject>>& of(Control* m) { return screens[static_cast<Module*>(m)]; }
};
