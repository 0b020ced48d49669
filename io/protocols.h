// The receive procedures of the field protocols that listen: the Modbus
// slave, the ASCII slave and X10.
#pragma once

// Installs them into the scheduler's table (at start-up; tests that
// replaced them call it again).
void io_protocols_install_hooks();
