// The libmodbus peer the Modbus benchmarks measure against: built beside
// the benchmarks (bench/../peers/modbus_peer) when libmodbus is installed.
#pragma once
#include <limits.h>
#include <unistd.h>

#include <string>

inline std::string modbus_peer_path() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string self(buf, size_t(n));
  return self.substr(0, self.rfind('/')) + "/../peers/modbus_peer";
}
