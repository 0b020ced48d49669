// Start-up shared by the fuzz targets that run the controller: the host
// platform, every hook, the instruction table and an empty program; for the
// field I/O targets also the four serial line records, whose devices do not
// exist (the targets feed bytes themselves).
#pragma once
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <memory>
#include <vector>

#include "core/engine.h"
#include "core/hooks.h"
#include "core/module.h"
#include "core/registry.h"
#include "core/startup.h"
#include "hmi/session.h"
#include "io/io_def.h"
#include "platform/platform.h"
#include "program/program_new.h"
#include "program/refs.h"
#include "fuzz/scratch_dir.h"

inline void fuzz_controller_setup() {
  static std::unique_ptr<Platform> platform = make_host_platform();
  plat = platform.get();
  install_hooks();
  inst_build();
  program_new(false);
}

inline void fuzz_io_setup() {
  for (auto& s : options.serial) s = "/nonexistent/quor-fuzz-tty";
  fuzz_controller_setup();
  create_serial_ports();
}

// The controller's seconds, and the login challenges drawn from them, as
// the recorded sessions in the seeds expect.
inline void fuzz_replay_clock() {
  timec = fuzz_scratch::kClock;
  challenge_source = challenge_from_clock;
}

// Sets one row of an instruction the target builds; any refusal is a fault
// of the target itself.
inline void fuzz_set_row(Control* c, u16 row, u16 type, u32 value, const char* text = nullptr) {
  Iparam p;
  p.set_uint(type, value);
  p.text = text;
  if (type == ptype::Ref && !ref_resolve(text, &p.ref)) std::abort();
  if (!c->sparam(&p, 0, row)) std::abort();
}

// A copy of every "!System" cell, and whether two copies agree bit for bit
// outside the given ranges of cells (ascending [first, last] pairs): a slave
// serving a window must leave every other cell as it was.
inline std::vector<float> fuzz_system_cells() {
  Ivar* sys = system_var();
  return std::vector<float>(sys->data.get(), sys->data.get() + sys->size + 1);
}
inline bool fuzz_same_outside(const std::vector<float>& a, const std::vector<float>& b,
                              std::initializer_list<std::pair<size_t, size_t>> skip) {
  if (a.size() != b.size()) return false;
  size_t at = 0;
  auto same = [&](size_t end) {
    end = std::min(end, a.size());
    return at >= end || std::memcmp(a.data() + at, b.data() + at, (end - at) * sizeof(float)) == 0;
  };
  for (auto [first, last] : skip) {
    if (!same(first)) return false;
    at = last + 1;
  }
  return same(a.size());
}
