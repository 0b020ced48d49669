// Any bytes as a program file: program_load either loads a program or
// leaves the empty default one, and module import of the same bytes never
// leaves a part of a module behind. No crash, no leak.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/hooks.h"
#include "core/module.h"
#include "core/registry.h"
#include "platform/platform.h"
#include "program/file.h"
#include "program/program_new.h"

namespace {

std::unique_ptr<Platform> platform;

void check_structure() {
  // The five standard modules in order, "Loop_1" first and "End" last.
  int k = 0;
  Control* last = nullptr;
  for (Control* c = loop_start[0]; c; c = c->next) {
    if (c->prev != last) std::abort();
    if (k < 5 && c == loop_start[k]) ++k;
    last = c;
  }
  if (k != 5 || last != loop_start[4]) std::abort();
}

size_t count_elements() {
  size_t n = 0;
  for (Control* c = loop_start[0]; c; c = c->next) ++n;
  return n;
}

FILE* open_bytes(const uint8_t* data, size_t size, std::string& copy) {
  copy.assign(reinterpret_cast<const char*>(data), size);
  return fmemopen(copy.data(), copy.size(), "rb");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  platform = make_host_platform();
  plat = platform.get();
  install_hooks();
  inst_build();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  program_new(false);
  std::string copy;

  FILE* f = open_bytes(data, size, copy);
  if (!f) return 0;
  bool ok = program_load_stream(f, "fuzz.qrn", 0);
  std::fclose(f);
  check_structure();
  if (!ok && count_elements() != 5) std::abort();  // never half-loaded

  // Import every module of the same bytes into the default program.
  program_new(false);
  for (int m = 1; m <= 8; ++m) {
    f = open_bytes(data, size, copy);
    if (!f) return 0;
    STR_PTR list;
    std::string name;
    bool found = find_first_module(f, &list);
    for (int i = 0; found && i < m; ++i) found = move_next_module(f, name) && !name.empty();
    if (found) {
      size_t before = count_elements();
      if (!module_insert(f, &list, 0) && count_elements() != before) std::abort();
    }
    std::fclose(f);
    check_structure();
  }
  program_new(false);
  return 0;
}
