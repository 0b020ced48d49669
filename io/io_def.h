// Field I/O ports. One IO_def is one serial line, one TCP peer that master
// instructions talk to, or one accepted connection of a slave server. Every
// record sits in one singly linked list in creation order; the first four
// ever made are the serial lines 1-4 and live for the whole process.
#pragma once
#include <netinet/in.h>

#include <array>
#include <string>

#include "core/types.h"

class IO_base;

// Bytes of a request or reply frame held by a port.
inline constexpr u32 IO_FRAME = 300;
// Seconds a network connection lives without a good transaction.
inline constexpr u32 IO_IDLE_SECONDS = 120;

// Protocol on a port; the numbers are the "Serial type" choices and are
// stored in the program file.
namespace io_kind {
inline constexpr u8 Off = 0;
inline constexpr u8 ModbusMaster = 1;
inline constexpr u8 ModbusSlave = 2;
inline constexpr u8 X10 = 3;
inline constexpr u8 AsciiMaster = 4;
inline constexpr u8 AsciiSlave = 5;
inline constexpr u8 Count = 6;
}  // namespace io_kind

struct IO_def {
  IO_def* next = nullptr;      // next record of the global list
  IO_base* first = nullptr;    // first instruction of this port (build_list)
  IO_base* current = nullptr;  // where the poll pass stands; null: idle
  std::string address;         // IP text of a network master port
  u8 port_number = 0;          // 1-4: serial line; 0: network
  u8 line_flag = 0;            // network: connected; serial: parity 0/1/2
  std::array<u8, IO_FRAME> frame{};
  u8 kind = io_kind::Off;
  u8 progress = 0;             // 0 nothing received, 1 bytes, 2 frame started
  u16 ip_port = 0;
  u32 pass_start = 0;          // millisecond of the day the pass began
  u32 word = 0;                // baud / transaction counter / bytes received
  u32 count = 0;               // bytes collected in the frame
  u32 gap_timer = 0;           // 10-ms ticks since the last transaction ended
  u32 reply_timer = 0;         // 10-ms ticks since the request (or last byte)
  u32 idle_countdown = IO_IDLE_SECONDS;
  u32 function = 0;            // function code of the request in flight
  u32 expected = 0;            // expected reply length
  u32 skip = 0;                // network header bytes still to discard
  u32 reply_pending = 0;       // the 20 ms turnaround gap is running
  u32 work1 = 0;               // protocol working field
  u32 work2 = 0;               // serial line: "Serial slave unit address"
  int descriptor = 0;          // socket or serial device; 0: none
  u8 busy = 0;                 // a transaction is in flight
  u8 synced = 0;               // the frame's first byte has been seen
  sockaddr_in peer{};          // peer of a network master port
  // Slave connection: bytes received and not yet consumed (a request may
  // arrive split over segments, or several in one), and reply bytes the
  // socket has not taken yet.
  std::string input, output;

  // Zeroed, appended to the list; the first four get port numbers 1-4.
  // Scan stopped, or the execution thread.
  IO_def();
  // Closes the descriptor and unlinks the record. Scan stopped, or the
  // execution thread.
  ~IO_def();
  IO_def(const IO_def&) = delete;
  IO_def& operator=(const IO_def&) = delete;

  bool serial() const { return port_number >= 1 && port_number <= 4; }
  // A TCP peer of master instructions (not a slave connection).
  bool network_master() const {
    return port_number == 0 && kind != io_kind::ModbusSlave && kind != io_kind::AsciiSlave;
  }
};

// Head of the list of every port.
inline IO_def* IO_start_def = nullptr;

// The port list belongs to the execution thread, which walks it on every
// step without a lock. It changes only while the scan is stopped (lock(3):
// no transaction in flight, the scheduler idle) or on the execution thread
// itself (a slave connection accepted or deleted). Every function below
// that changes it requires the stopped level.

// The four serial port records, made once at start-up (and by tests).
// Scan stopped.
void create_serial_ports();
// The g-th record of the list (1-based), or null.
IO_def* io_port_at(int g);
// Deletes every record except the four serial lines, resets those, and
// closes the slave listeners: the state of a freshly started controller.
// Scan stopped.
void io_reset();

// Millisecond of the day by the controller clock (pass times).
u32 io_msec_of_day();

// Diagnostic dump of the ports to standard output (scan stopped).
void print_list();

// Slave server listeners: index 0 Modbus slave, 1 ASCII slave.
inline int IO_sockfd[2]{};
inline sockaddr_in IO_addr[2]{};
// Deletes the connections of kind (2 or 5), closes its listener and, when
// enabled and port is non-zero, listens anew. Other kinds do nothing.
// Scan stopped.
void IO_slave_port_listen(u16 port, u8 kind, bool enable);
// Most bytes a slave connection holds unconsumed; beyond it, reading waits.
inline constexpr size_t IO_INPUT_MAX = 4096;
// Serves the slave listeners and reads their connections (execution thread).
void process_slave_IOsockets();

// Receive procedures of the kinds that listen (Modbus slave, X10, ASCII
// slave), installed by their protocol files; called once per scheduler
// step for every port of that kind.
inline void (*io_receive[io_kind::Count])(IO_def* port){};
