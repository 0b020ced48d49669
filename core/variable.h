// Variables: named arrays of cells, kept in per-scope doubly linked lists.
#pragma once
#include <atomic>
#include <memory>
#include <string>

#include "core/types.h"

// Bumped whenever a variable is made, grows or goes, i.e. whenever a cell
// address taken earlier may have changed. Changed by the main thread with
// the scan stopped; code that keeps cell addresses compares it before use.
inline std::atomic<u32> var_generation{1};
inline void var_generation_changed() { var_generation.fetch_add(1, std::memory_order_relaxed); }

class Ivar {
 public:
  Ivar* next = nullptr;
  Ivar* prev = nullptr;  // null for the head variable of a list
  std::string name;
  std::unique_ptr<Idata[]> data;  // size + 1 cells
  u16 size = 0;                   // highest valid index

  // With a null prev the variable heads a new list; otherwise it is linked
  // directly after prev.
  Ivar(Ivar* prev, const char* name, u16 size);
  ~Ivar();
  Ivar(const Ivar&) = delete;
  Ivar& operator=(const Ivar&) = delete;

  // Reallocates to n + 1 cells keeping the old values; new cells are 0.0.
  void Idata_create(u16 n);
  // Makes index n valid; never shrinks.
  void reindex(u16 n) {
    if (n > size) Idata_create(n);
  }
  // Renames; a head variable only when forced; a null or empty name fails.
  bool new_name(const char* name, bool force);

  Idata get(u16 i) const { return i <= size ? cell_load(&data[i]) : 0.0f; }
  void set(u16 i, Idata v) {
    if (i <= size) cell_store(&data[i], v);
  }
};

// Destroys a whole scope list starting at its head.
void destroy_var_list(Ivar* head);

// A reference to one cell: a variable and an index.
struct pIdata {
  Ivar* var = nullptr;  // null: no variable ("Null")
  u16 index = 0;

  bool valid() const { return var != nullptr && index <= var->size; }
  // Reads 0.0 and ignores writes when the reference is empty or, should the
  // variable ever be smaller than the index, out of range.
  Idata get() const { return var ? var->get(index) : 0.0f; }
  void set(Idata v) const {
    if (var) var->set(index, v);
  }
  // Cell k places after the referenced one (blocks of consecutive cells).
  Idata get(u16 k) const { return var ? var->get(static_cast<u16>(index + k)) : 0.0f; }
  void set(u16 k, Idata v) const {
    if (var && u32(index) + k <= 65535u) var->set(static_cast<u16>(index + k), v);
  }
  bool operator==(const pIdata&) const = default;
};

// Block rule: a block of k + 1 cells starting at r never wraps past 65535
// and always fits in its variable.
void revalidate_block(pIdata& r, u16 k);
