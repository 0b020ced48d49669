// Operator changes of instruction parameters copied into the start-up
// program file, so that a restart keeps them.
#pragma once
#include "core/control.h"

// After inst accepted the numeric value p at group g, row row: while the
// program in memory is the one in "quor.qrn", overwrite the stored value in
// place. Every earlier row's stored type must match the instruction's
// present one, and the target row's stored type the written one; any
// mismatch leaves the file untouched. True when the file was written; false
// also when it cannot be opened for writing (read-only, vanished) or the
// write, flush or close fails.
bool operator_write_through(Control* inst, const Iparam& p, u16 group, u16 row);
