#include "core/variable.h"

#include <algorithm>

#include "core/scan_pause.h"

Ivar::Ivar(Ivar* p, const char* n, u16 sz) : prev(p), name(n ? n : "") {
  scan_requires(Pause::Stopped);  // links into a scope list the scan walks
  data = std::make_unique<Idata[]>(u32(sz) + 1);
  size = sz;
  var_generation_changed();
  if (prev) {
    next = prev->next;
    prev->next = this;
    if (next) next->prev = this;
  }
}

Ivar::~Ivar() {
  var_generation_changed();
  if (prev) prev->next = next;
  if (next) next->prev = prev;
}

void Ivar::Idata_create(u16 n) {
  // The old cells go: nothing may be reading them.
  scan_requires(Pause::Stopped);
  auto cells = std::make_unique<Idata[]>(u32(n) + 1);
  u32 keep = data ? std::min<u32>(size, n) + 1 : 0;
  for (u32 i = 0; i < keep; ++i) cells[i] = cell_load(&data[i]);
  data = std::move(cells);
  size = n;
  var_generation_changed();
}

bool Ivar::new_name(const char* n, bool force) {
  if (!n || !*n) return false;
  if (!prev && !force) return false;
  name = n;
  return true;
}

void destroy_var_list(Ivar* head) {
  while (head) {
    Ivar* nx = head->next;
    head->next = nullptr;  // unlink cheaply: the whole list goes
    if (nx) nx->prev = nullptr;
    delete head;
    head = nx;
  }
}

void revalidate_block(pIdata& r, u16 k) {
  if (u32(r.index) + k > 65535u) r.index = static_cast<u16>(65535u - k);
  if (r.var) r.var->reindex(static_cast<u16>(r.index + k));
}
