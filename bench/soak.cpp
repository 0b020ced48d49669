// The soak run on its own: the controller binary under ten HMI sessions and
// ten Modbus TCP masters with a busy 10 ms loop, for as long as asked.
//
//   bench_soak [--seconds N] [--pause-us N] [--quor PATH]
//
// Without --quor the controller is taken from beside the bench directory.
// Exits 1 when a write was lost or read back wrong, descriptors leaked, or
// the controller stopped.
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "bench/soak_run.h"

int main(int argc, char** argv) {
  soak::Options o;
  o.seconds = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds"))
      o.seconds = std::atof(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--pause-us"))
      o.pause_us = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--quor"))
      o.quor = argv[i + 1];
    else {
      std::fprintf(stderr, "usage: %s [--seconds N] [--pause-us N] [--quor PATH]\n", argv[0]);
      return 2;
    }
  }
  if (o.quor.empty()) {
    std::error_code ec;
    auto self = std::filesystem::canonical("/proc/self/exe", ec);
    if (!ec) o.quor = (self.parent_path().parent_path() / "quor").string();
  }
  if (access(o.quor.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "no controller binary at %s (use --quor)\n", o.quor.c_str());
    return 2;
  }
  soak::Result r = soak::run(o);
  soak::print(r, stdout);
  bool good = r.error.empty() && r.alive && r.hmi.lost + r.hmi.wrong + r.modbus.lost + r.modbus.wrong == 0 &&
              r.fds_end <= r.fds_start;
  return good ? 0 : 1;
}
