// Replies of the slaves, on their TCP connections and serial lines.
#pragma once
#include <cstddef>

#include "io/io_def.h"

// Sends a reply on a slave connection without blocking. Without queue the
// socket must take it whole at once; with queue what it cannot take yet
// waits in the connection's output and goes out with slave_flush. False
// when the connection is broken or the reply could not be sent whole: the
// caller closes the connection. Execution thread.
bool slave_send(IO_def* connection, const u8* bytes, size_t length, bool queue);
// Sends what waits in the connection's output; false when the connection
// is broken. Execution thread.
bool slave_flush(IO_def* connection);
