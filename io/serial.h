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
// A device that cannot be opened leaves the descriptor 0.
void set_serial(IO_def* line, bool close_only);
// Writes when the descriptor is open; nothing otherwise.
void serial_write(int fd, const u8* bytes, int length);
// Reads what is waiting: the byte count, or -1 when nothing is waiting or
// the line is closed.
int serial_read(int fd, u8* buffer, int max);

// The serial port and slave listener entries of the configuration pages
// (part of io_install_hooks).
void io_install_config_hooks();
