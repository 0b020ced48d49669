#include "core/registry.h"

#include "core/module.h"
#include "core/scan_pause.h"

namespace {
const inst_def kTypes[INST_TYPES] = {
    {"Module", "none", nullptr},
    {"Convert", "Enter number of cal pairs (2-20)", nullptr},
    {"Counter", "none", nullptr},
    {"Constant", "Enter number of constants (1-100)", nullptr},
    {"Limit", "none", nullptr},
    {"Fuzin", "none", nullptr},
    {"Onoff", "none", nullptr},
    {"Pwm", "none", nullptr},
    {"Timepos", "none", nullptr},
    {"Pid", "none", nullptr},
    {"Bounds", "none", nullptr},
    {"Modmaster", "Enter number of elements", nullptr},
    {"Timer", "none", nullptr},
    {"Fan", "none", nullptr},
    {"Circbuf", "Enter number of calculations", nullptr},
    {"Histper", "none", nullptr},
    {"Histevt", "none", nullptr},
    {"Map", "Enter number of individual variables to map into an array", nullptr},
    {"Pulse", "none", nullptr},
    {"Correct", "none", nullptr},
    {"Expression", "Number of expressions", nullptr},
    {"If", "Number of expressions", nullptr},
    {"ElseIf", "Number of expressions", nullptr},
    {"EndIf", "none", nullptr},
    {"Statistics", "Enter number of calculations", nullptr},
    {"X10", "none", nullptr},
    {"Translate", "Enter number of translations", nullptr},
    {"Alarm", "none", nullptr},
    {"OWconfig", "Enter number of 1-wire devices", nullptr},
    {"Lookup", "Enter number of lookup table pairs", nullptr},
    {"Modslave", "none", nullptr},
    {"Asciimaster", "none", nullptr},
    {"Asciislave", "none", nullptr},
};
}  // namespace

void inst_build() {
  for (u16 t = 0; t < INST_TYPES; ++t) inst_def_use[t] = kTypes[t];
}

Control* inst_create(u16 type, Control* prev, const char* desc, u16 n) {
  if (type >= INST_TYPES) return nullptr;
  scan_requires(Pause::Stopped);  // links into the program list
  if (type == 0) return new Module(prev, desc, 0);
  InstFactory f = inst_factory[type];
  return f ? f(prev, desc, n) : nullptr;
}

void inst_delete(u16 type, Control* c) {
  if (!c || type >= INST_TYPES) return;
  scan_requires(Pause::Stopped);
  delete c;  // the destructor is virtual: the right class's runs
}
