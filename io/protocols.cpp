#include "io/protocols.h"

#include "io/ascii_slave.h"
#include "io/modbus_slave.h"
#include "io/x10.h"

void io_protocols_install_hooks() {
  // Each: execution thread, unless stopped (skipped while lock(3) stands),
  // once per scheduler step for every port of its kind.
  io_receive[io_kind::ModbusSlave] = &modbus_rec_proc;  // serial lines and TCP connections
  io_receive[io_kind::AsciiSlave] = &Ascii_rec_proc;    // serial lines and TCP connections
  io_receive[io_kind::X10] = &X10_rec_proc;             // serial lines
}
