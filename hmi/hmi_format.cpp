#include "hmi/hmi_format.h"

#include <cstring>

#include "core/config.h"
#include "core/module.h"
#include "core/registry.h"
#include "hmi/hmi_object.h"
#include "program/naming.h"

namespace {
hmi_format*& head(u16 list) { return inst_def_use[list].selection_sets; }

hmi_format* append(u16 list, const char* text) {
  if (list >= HMI_FORMAT_LIST_COUNT || hmi_format_count(list) >= HMI_FORMAT_MAX_ENTRIES) return nullptr;
  auto* f = new hmi_format;
  f->new_name(text);
  hmi_format** at = &head(list);
  while (*at) at = &(*at)->next;
  *at = f;
  return f;
}

// Objects and history files that point at f let go of it.
void forget_format(const hmi_format* f) {
  for (Control* c = loop_start[0]; c; c = static_cast<Module*>(c)->next_module)
    for (HMI_object* o = static_cast<Module*>(c)->objects; o; o = o->next) o->forget(f, nullptr);
  for (int i = 0; i < 4; ++i) {
    if (per_vformat[i] == f) per_vformat[i] = nullptr;
    if (evt_vformat[i] == f) evt_vformat[i] = nullptr;
  }
}
}  // namespace


u16 hmi_format_count(u16 list) {
  if (list >= HMI_FORMAT_LIST_COUNT) return 0;
  u16 n = 0;
  for (hmi_format* f = head(list); f; f = f->next) ++n;
  return n;
}

u16 HMI_format_append(u16 list, const char* text) {
  hmi_format* f = append(list, text);
  return f ? hmi_format_count(list) : 0;
}

u16 HMI_format_insert(u16 list, const char* text) {
  if (list >= HMI_FORMAT_LIST_COUNT || !check_desc(text)) return 0;
  if (std::strcmp(text, "{null}") != 0) {
    u16 pos = 1;
    for (hmi_format* f = head(list); f; f = f->next, ++pos)
      if (f->text == text) return pos;
  }
  return HMI_format_append(list, text);
}

bool HMI_format_delete(u16 list, u16 n) {
  hmi_format* f = hmi_format_ptr(list, n);
  if (!f) return false;
  forget_format(f);
  hmi_format** at = &head(list);
  while (*at != f) at = &(*at)->next;
  *at = f->next;
  delete f;
  return true;
}

hmi_format* hmi_format_ptr(u16 list, u16 n) {
  if (list >= HMI_FORMAT_LIST_COUNT || n == 0) return nullptr;
  hmi_format* f = head(list);
  for (u16 i = 1; f && i < n; ++i) f = f->next;
  return f;
}

u16 hmi_format_index(u16 list, const hmi_format* f) {
  if (list >= HMI_FORMAT_LIST_COUNT || !f) return 0;
  u16 pos = 1;
  for (hmi_format* h = head(list); h; h = h->next, ++pos)
    if (h == f) return pos;
  return 0;
}

void hmi_formats_clear() {
  for (u16 l = 0; l < HMI_FORMAT_LIST_COUNT; ++l) {
    hmi_format* f = head(l);
    head(l) = nullptr;
    while (f) {
      hmi_format* nx = f->next;
      delete f;
      f = nx;
    }
  }
  for (int i = 0; i < 4; ++i) per_vformat[i] = evt_vformat[i] = nullptr;
}
