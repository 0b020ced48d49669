// TCP socket helpers shared by the user port, the field protocols and the
// e-mail client. Descriptors are non-zero; 0 means none.
#pragma once
#include <netinet/in.h>

#include "core/types.h"

// 0: listening sockets (and the connections they accept) send without
// Nagle's delay. Kept at 1 (Nagle on) unless configured otherwise.
inline u8 nagle = 1;

// Creates a listening TCP socket on port (non-blocking, address reuse,
// backlog 10).
// The board listens on every local address; host mode only on 127.0.0.1,
// so a simulated controller is never reachable from the network.
// Returns the socket, or 0 on any failure.
int Port_Listen(u16 port, sockaddr_in* addr);
// Creates a non-blocking TCP socket for an outgoing connection and fills
// addr (AF_INET, port, ip). Returns the socket, or 0. The caller connects.
int Port_out(u16 port, const char* ip, sockaddr_in* addr);
// Closes a descriptor held in an int and sets it to 0.
void close_fd(int& fd);
