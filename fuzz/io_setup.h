// Start-up shared by the field I/O fuzz targets: the host platform, every
// hook, the instruction table, an empty program and the four serial line
// records, whose devices do not exist (the targets feed bytes themselves).
#pragma once
#include <memory>

#include "core/hooks.h"
#include "core/registry.h"
#include "core/startup.h"
#include "io/io_def.h"
#include "platform/platform.h"
#include "program/program_new.h"

inline void fuzz_io_setup() {
  static std::unique_ptr<Platform> platform = make_host_platform();
  plat = platform.get();
  for (auto& s : options.serial) s = "/nonexistent/quor-fuzz-tty";
  install_hooks();
  inst_build();
  program_new(false);
  create_serial_ports();
}
