// IO_base: the master I/O instructions (Modbus, X10, Ascii) and the
// scheduler that runs their transactions, one at a time per port, in the
// program order of each port's list.
#pragma once
#include <atomic>
#include <string>

#include "core/control.h"
#include "io/io_def.h"

// Type numbers of the master I/O instructions.
inline constexpr u16 TYPE_MODBUS = 11;
inline constexpr u16 TYPE_X10 = 25;
inline constexpr u16 TYPE_ASCII = 31;

inline bool is_io_type(u16 type) {
  return type == TYPE_MODBUS || type == TYPE_X10 || type == TYPE_ASCII;
}
// The port kind a master instruction type runs on (0 for other types).
u8 io_kind_of_type(u16 type);

class IO_base : public Control {
 public:
  // Attempts left; non-zero: wants a transaction. It hands the request
  // between execute (which may run on the main thread in a single step)
  // and the scheduler: stored with release order after the request's
  // state, loaded with acquire before it is read.
  std::atomic<u8> pending{0};
  u8 com_type = 2;                // 0 Ethernet, 1-4 serial line
  IO_def* port = nullptr;         // the port attached to
  IO_base* next_on_port = nullptr;
  std::string address;            // IP address text, at most 15 characters
  u16 ip_port = 502;

  IO_base(Control* prev, const char* desc) : Control(prev, desc) {}
  // Detaches (delete_IO_def).
  ~IO_base() override;

  // Attaches to the port that matches the communication settings, or to a
  // new one. Called by the derived constructor once the object is complete
  // and whenever com type, address or IP port change. Scan stopped.
  virtual void create_IO_def(IO_base* inst);
  // Unlinks from the port; a network port nobody uses any more is deleted.
  // Scan stopped.
  virtual void delete_IO_def(IO_base* inst);
  // 0: cannot run (detaches an unconfigured Ethernet instruction), 1: the
  // port fits, 2: another port is needed. Scan stopped.
  virtual int check_match(IO_base* inst, IO_def* port);
  virtual bool ready() const { return pending.load(std::memory_order_relaxed) != 0; }

  // Transaction steps, called by the scheduler on the execution thread for
  // a port of this instruction's kind. start sends a request (the port
  // becomes busy) or does nothing; end advances the transaction in flight
  // and clears busy once it and the turnaround gap are over.
  virtual void start(IO_def* port) = 0;
  virtual void end(IO_def* port) = 0;
};

// Links, in program order, every master I/O instruction attached to port.
// With none, a network master port is deleted and a serial port's list
// emptied. Returns false when the port was deleted. Scan stopped.
bool build_list(IO_def* port);
// build_list for every port; after program-editing moves. Scan stopped.
void all_IO_linked_list();
// Continues or starts the port's poll pass (execution thread).
void next_IO_instruction(IO_def* port);
// Clears every link of the program's I/O instructions to ports. Scan
// stopped.
void io_detach_all();
// The field I/O hook entries: the scheduler's engine and start-up entries,
// the serial settings of the configuration pages, and the detach on
// program_new.
void io_install_hooks();
