// The connection of a network master port (Modbus and ASCII masters): made
// on demand, kept across transactions, dropped when idle or broken.
#pragma once
#include "io/io_def.h"

// Opens the port's connection when it has none: true once it is
// established, false while it is still being made or could not be (the
// descriptor is then 0 again). An idle countdown of 0 drops the old
// connection first; one the peer has closed since the last transaction is
// made afresh, and bytes left from an earlier exchange are discarded.
// Execution thread.
bool tcp_client_connect(IO_def* port);
// Whether a connection being made has been established: 1 yes, 0 not yet,
// -1 it failed.
int tcp_client_connect_done(IO_def* port);
// Closes the connection; the next transaction makes a new one.
void tcp_client_drop(IO_def* port);
// recv errors that only mean "nothing yet".
bool tcp_transient(int error);
