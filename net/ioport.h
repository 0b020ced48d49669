// The PC/104 8-bit I/O window as formulas see it: ports 0..1023 through the
// platform. A port is a float truncated to an integer; a port outside
// 0..1023 touches nothing and gives the overflow value.
#pragma once
#include "core/types.h"

// Writes the low byte of value to port; 0.0.
float foutb(float port, float value);
// Writes value as 16 bits, low byte to port, high byte to port + 1; 0.0.
float fout2b(float port, float value);
// The byte at port.
float finb(float port);
// Low byte at port, high byte at port + 1, read until two successive
// readings agree (at most ten readings); the last reading.
float fin2b(float port);
// Polls port until (byte AND low byte of mask) is non-zero (level true) or
// zero (level false): 0.0. Gives up with the overflow value after about
// 10 ms, measured on the monotonic clock.
float loop(float port, float mask, bool level);
