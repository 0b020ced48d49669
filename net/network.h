// Network set-up at start-up: the clock from the clock chip, the host name,
// Ethernet addressing (static or DHCP), the DHCP server and a PPP link on a
// serial line. All of it is done by the system's own tools, run through the
// platform (recorded, not run, in host mode). The modem line helpers and the
// PPP daemon's command line are shared with the modem dialler.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "core/types.h"

// Start a DHCP server at start-up (no configuration row sets it yet).
inline u8 con_dhcp_server = 0;
inline int pppd_PID = 0;  // the PPP daemon last started (board), 0 none

// Seconds start-up waits for the DHCP client before it goes on.
inline constexpr int DHCP_WAIT_S = 30;

// Steps 1-5 of start-up: clock, host name, Ethernet, DHCP server, PPP.
// Main thread, before the execution thread starts.
void network_setup();

// The host name: the site title with spaces as ".", other characters than
// letters, digits, "-" and "." dropped, at most 63 characters; "QUOR" when
// nothing is left.
std::string host_name();
// A dotted quad of four numbers 0..255, nothing else.
bool valid_quad(std::string_view s);
// The IPv4 address of a dotted quad or host name, in network order; 0 when
// it has none.
u32 hostname_tonl(const char* name);

// Serial line (1, 3, 4) of a connection type 1..6; 0 for Ethernet only.
int modem_line(u8 type);
// "/usr/sbin/pppd" with its arguments for connection type 1..6.
std::vector<std::string> pppd_args(u8 type);
// Opens serial line 1..4 (its --serial mapping) raw at 115200 baud without
// parity, non-blocking. The descriptor, or 0.
int modem_open(int line);
// Writes all of bytes (a few dozen at most), waiting at most 1 s for a
// full output buffer. False when they did not all go out.
bool modem_write(int fd, std::string_view bytes);
