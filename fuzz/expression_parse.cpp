// Fuzz target: compiles arbitrary text as a formula and runs the steps.
// The text is given without anything after its terminator, so a read past
// it is caught by the address sanitizer; every compiled step must name
// cells that exist.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/hooks.h"
#include "core/module.h"
#include "core/registry.h"
#include "expr/expression.h"
#include "platform/fake.h"
#include "program/program_new.h"

namespace {
FakePlatform* fake_platform() {
  static FakePlatform fake;
  return &fake;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  plat = fake_platform();
  install_hooks();
  inst_build();
  program_new(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A fresh program now and then keeps the pool and the variables small.
  static unsigned runs = 0;
  if (++runs % 512 == 0) program_new(false);

  // The loopz/loopnz functions would poll for 10 ms: keep them out.
  auto text = std::make_unique<char[]>(size + 1);
  std::memcpy(text.get(), data, size);
  text[size] = 0;
  if (std::strstr(text.get(), "loop")) return 0;
  const bool names_scratch = std::strstr(text.get(), "Exp_tmp") != nullptr;

  static Mstep steps[PARSE_STEPS];
  int n = expression_parse(std::span<Mstep, PARSE_STEPS>(steps), text.get());
  if (n > 0) {
    if (n > MAX_STEPS) std::abort();
    for (int j = 0; j < n; ++j) {
      const Mstep& s = steps[j];
      if (!s.arg1.valid() || !s.arg2.valid()) std::abort();
      // A temporary is written before it is read.
      for (const pIdata* a : {&s.arg1, &s.arg2})
        if (!names_scratch && a->var == Exp_tmp.var && a->index >= j) std::abort();
    }
    Expression e(nullptr, "fuzz", 1);
    Iparam p;
    p.type = ptype::Ref;
    var_name("out", &p.ref, true);
    e.sparam(&p, 1, 0);
    p.type = ptype::Text;
    p.text = text.get();
    if (size <= Expression::MAX_TEXT && e.sparam(&p, 1, 2) && e.row(0).nsteps != n)
      std::abort();
    e.evaluate();
  }
  return 0;
}
