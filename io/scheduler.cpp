// The I/O scheduler: the part of every execution pass that finishes and
// starts field transactions, serves the slave sockets and counts port time.
// It runs on the execution thread; the engine calls it through its hooks.
// The port list is the execution thread's own: the main thread changes it
// only while the scan is stopped, so nothing here locks, and no step, tick
// or second is ever skipped.
#include <atomic>

#include "core/engine.h"
#include "core/hooks.h"
#include "core/scan_pause.h"
#include "io/io_base.h"
#include "io/serial.h"
#include "program/program_new.h"

namespace {

// The instruction's protocol is the port's: a port switched to another
// kind leaves the instructions of the old one alone.
bool runs_on(const IO_def* port, IO_base* inst) {
  return port->kind != io_kind::Off && io_kind_of_type(inst->num()) == port->kind;
}

void write_pass_time(const IO_def* port) {
  if (!port->serial()) return;
  u32 now = io_msec_of_day();
  u32 ms = now >= port->pass_start ? now - port->pass_start : now + 86400000u - port->pass_start;
  sys_set(u16(16 + 4 * port->port_number), float(ms));
}

bool wants_pass(const IO_def* port) {
  for (IO_base* b = port->first; b; b = b->next_on_port)
    if (b->ready() && runs_on(port, b)) return true;
  return false;
}

// Every port forgets the instruction it was serving.
void forget_all() {
  for (IO_def* p = IO_start_def; p; p = p->next) {
    p->current = nullptr;
    p->busy = 0;
    p->reply_pending = 0;
  }
}

// Set by a restart of the run state while the scan is not stopped (a single
// step, the first start): the execution thread forgets at its next step.
std::atomic<bool> forget_requested{false};

// Finishes or continues the transactions in progress; true while some port
// still serves an instruction.
bool io_advance() {
  if (forget_requested.exchange(false, std::memory_order_acquire)) forget_all();
  bool serving = false;
  for (IO_def* p = IO_start_def; p; p = p->next) {
    if (p->busy) {
      IO_base* c = p->current;
      if (c && runs_on(p, c)) {
        c->end(p);
      } else {
        p->busy = 0;
        p->reply_pending = 0;
      }
      if (!p->busy) {
        // The pass moves on to the next instruction. The one just served
        // (finished, or armed again for a retry or by its loop meanwhile)
        // waits for the next pass, so that every instruction of the port
        // gets its turn however fast its loop re-arms it.
        if (c && p->current == c) p->current = c->next_on_port;
        bool go_on = p->current != nullptr;
        if (!go_on) {
          // The pass is complete. The next begins at once, at the head,
          // when an instruction of the port already wants a transaction.
          write_pass_time(p);
          go_on = wants_pass(p);
          if (go_on) p->pass_start = io_msec_of_day();
        }
        if (go_on) next_IO_instruction(p);
      }
    } else if (p->current) {
      next_IO_instruction(p);
    }
    if (p->current) serving = true;
  }
  return serving;
}

// Executing a ready I/O instruction starts a pass on every idle port.
void io_start(Control* executed) {
  if (!executed || !is_io_type(executed->num())) return;
  if (!static_cast<IO_base*>(executed)->ready()) return;
  u32 now = io_msec_of_day();
  for (IO_def* p = IO_start_def; p; p = p->next)
    if (!p->current && p->first) {
      p->pass_start = now;
      next_IO_instruction(p);
    }
}

// Slave sockets, then what each listening port received.
void io_serve() {
  process_slave_IOsockets();
  for (IO_def* p = IO_start_def; p;) {
    IO_def* next = p->next;  // a receive procedure may delete its own port
    if (p->kind < io_kind::Count && io_receive[p->kind]) io_receive[p->kind](p);
    p = next;
  }
}

// start_run: with the scan stopped (or on the execution thread) at once;
// otherwise the execution thread does it before its next transaction step.
void io_forget() {
  if (scan_level_held(Pause::Stopped)) {
    forget_requested.store(false, std::memory_order_relaxed);
    forget_all();
  } else {
    forget_requested.store(true, std::memory_order_release);
  }
}

void io_tick() {
  for (IO_def* p = IO_start_def; p; p = p->next) {
    if (p->gap_timer != 0xFFFFFFFFu) ++p->gap_timer;
    if (p->reply_timer != 0xFFFFFFFFu) ++p->reply_timer;
  }
}

void io_second() {
  for (IO_def* p = IO_start_def; p; p = p->next)
    if (p->idle_countdown) --p->idle_countdown;
}

// What the execution thread waits on between ticks: replies of busy ports,
// the slave listeners and connections, and lines whose kind receives.
// While a level-3 stop drains the transactions, only their replies count.
int io_fds(int* fds, int max) {
  u8 ctr = thread_ctr.load(std::memory_order_acquire);
  if (ctr >= 4) return 0;
  int n = 0;
  auto add = [&](int fd) {
    if (fd > 0 && n < max) fds[n++] = fd;
  };
  if (ctr < 3)
    for (int fd : IO_sockfd) add(fd);
  for (IO_def* p = IO_start_def; p; p = p->next) {
    if (p->busy && !p->reply_pending)
      add(p->descriptor);
    else if (ctr >= 3)
      continue;
    else if (p->kind < io_kind::Count && io_receive[p->kind])
      add(p->descriptor);
    else if (p->port_number == 0 && !p->network_master())
      add(p->descriptor);  // a slave connection
  }
  return n;
}

}  // namespace

// A pass always begins at the head of the port's list (io_start) and ends
// at its tail, so a pass continued from the middle has already been through
// the instructions before it.
void next_IO_instruction(IO_def* port) {
  if (!port) return;
  if (!port->current) {
    port->current = port->first;
    if (!port->current) return;
  }
  while (IO_base* c = port->current) {
    if (thread_ctr.load(std::memory_order_acquire) > 2) {
      port->current = nullptr;
      return;
    }
    if (runs_on(port, c)) c->start(port);
    if (port->busy) return;
    port->current = c->next_on_port;
  }
  write_pass_time(port);
}

void io_install_hooks() {
  io_install_config_hooks();
  engine_hooks.io_second = &io_second;
  engine_hooks.io_tick = &io_tick;
  engine_hooks.io_advance = &io_advance;
  engine_hooks.io_serve = &io_serve;
  engine_hooks.io_start = &io_start;
  engine_hooks.io_forget = &io_forget;
  engine_hooks.io_fds = &io_fds;
  engine_hooks.program_moved = &all_IO_linked_list;
  startup_hooks.create_ports = &create_serial_ports;
  on_program_new(ResetPhase::Detach, &io_reset);
}
