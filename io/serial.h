// Serial lines: the IO_def records 1-4, opened in raw mode on the device
// their line maps to ("--serial L=PATH", by default "/dev/ttyS(L-1)").
#pragma once
#include <termios.h>

#include "io/io_def.h"

// The termios speed of a configured baud rate: the rates of the table run
// as configured, anything else at 9600.
speed_t serial_speed(u32 baud);

// The terminal settings of a line: raw 8 data bits, one stop bit, modem
// lines ignored, parity as configured, VMIN 1 and VTIME 0.
termios serial_termios(const IO_def& line);

// Closes the line; unless close_only, opens its device again (read-write,
// non-blocking), applies the line settings and discards what was waiting.
// A device that cannot be opened leaves the descriptor 0. Execution thread,
// or scan stopped.
void set_serial(IO_def* line, bool close_only);
// Writes when the descriptor is open. True only when every byte went out:
// a short or failed write, or a closed line, gives false.
bool serial_write(int fd, const u8* bytes, int length);
// Reads what is waiting: the byte count, or -1 when nothing is waiting or
// the line is closed.
int serial_read(int fd, u8* buffer, int max);

// The settings of configuration page 1 for serial lines 1-4: the main
// thread's own copy. The page reads it (and so does program save) without
// touching the port records the scan is using; a write goes into the copy
// and is applied to the line's record while the scan is stopped.
struct SerialSettings {
  u8 kind = io_kind::Off;
  u32 baud = 9600;
  u8 parity = 0;    // 0 none, 1 even, 2 odd
  u32 address = 0;  // "Serial slave unit address"
};
inline SerialSettings serial_settings[4];
// Takes the copy from the four line records, after the I/O subsystem set
// them itself (creation, the new-program reset). Scan stopped.
void serial_settings_sync();

// The serial port and slave listener entries of the configuration pages
// (part of io_install_hooks).
void io_install_config_hooks();
