// The receive procedures of the field protocols that listen: the Modbus
// slave, the ASCII slave and X10.
#pragma once

// Installs them into the scheduler's table; called by install_hooks(),
// after io_install_hooks().
void io_protocols_install_hooks();
