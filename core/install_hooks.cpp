// The one place that installs every subsystem's hook entries, lowest layer
// first. The controller calls it at start-up; the test runner, the fuzz
// targets and the benchmarks call it before they use the program.
#include "alarm/alarm_hooks.h"
#include "core/hooks.h"
#include "expr/names.h"
#include "history/history.h"
#include "hmi/hmi_object.h"
#include "hmi/listing.h"
#include "io/io_base.h"
#include "io/protocols.h"
#include "net/hardware.h"
#include "net/user_port.h"
#include "program/file.h"

void install_hooks() {
  expr_install_hooks();
  program_install_hooks();
  io_install_hooks();
  io_protocols_install_hooks();
  history_install_hooks();
  hmi_install_hooks();
  screens_install_hooks();
  net_install_hooks();
  hardware_install_hooks();
  alarm_install_hooks();
}
