#include <memory>

#include "core/config.h"
#include "core/hooks.h"
#include "core/registry.h"
#include "core/startup.h"
#include "hmi/hmi_object.h"
#include "platform/platform.h"
#include "program/program_new.h"
#include "tools/quorc/quorc.h"

namespace quorc {

void quiet_hooks() {
  // The pages may still read and store serial settings, but no line is
  // opened, no listener started, no watchdog touched, no history file made.
  config_hooks.serial_clear_receive = [](int) {};
  config_hooks.serial_reopen = [](int) {};
  config_hooks.slave_port_listen = [](u16, u8, bool) {};
  config_hooks.watchdog_enable = [](bool) {};
  config_hooks.watchdog_disable = [] {};
  config_hooks.watchdog_type = [](u8) {};
  config_hooks.create_periodic = [](int) { return false; };
  config_hooks.create_event = [](int) { return false; };
  engine_hooks.program_loaded = nullptr;
}

void use_screens() {
  if (startup_hooks.hmi_build) startup_hooks.hmi_build();
  object_info.type_name = [](u16 t) -> const char* { return t < HMI_TYPES ? hmi_def_use[t].name : nullptr; };
  object_info.types = HMI_TYPES;
  object_info.dparam = [](HMI_object* o) { return o->dparam(); };
}

void host_setup() {
  static std::unique_ptr<Platform> platform = make_host_platform();
  plat = platform.get();
  install_hooks();
  quiet_hooks();
  inst_build();
  use_screens();
  start_init();
  gen_startup();
  program_new(false);
}

}  // namespace quorc
