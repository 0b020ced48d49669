// Any bytes as program text: quorc either reports errors or builds a
// program file, and a built file dumps to a text that builds to the same
// bytes again. No crash, no leak.
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/quorc/quorc.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quorc::host_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string file, again, dumped, err;
  std::vector<quorc::Diag> errs;
  if (!quorc::build(text, &file, &errs)) {
    if (errs.empty()) std::abort();  // a failure always says why
    return 0;
  }
  if (!quorc::dump(file, &dumped, &err)) std::abort();
  if (!quorc::build(dumped, &again, &errs) || again != file) std::abort();
  return 0;
}
