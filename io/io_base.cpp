#include "io/io_base.h"

#include "core/module.h"
#include "core/scan_pause.h"

u8 io_kind_of_type(u16 type) {
  switch (type) {
    case TYPE_MODBUS: return io_kind::ModbusMaster;
    case TYPE_X10: return io_kind::X10;
    case TYPE_ASCII: return io_kind::AsciiMaster;
    default: return io_kind::Off;
  }
}

namespace {

void delete_port(IO_def* port) {
  // A port is only deleted while idle, but make sure nothing points at it.
  for (Control* c = loop_start[0]; c; c = c->next)
    if (is_io_type(c->num())) {
      auto* b = static_cast<IO_base*>(c);
      if (b->port == port) {
        b->port = nullptr;
        b->next_on_port = nullptr;
      }
    }
  delete port;
}

}  // namespace

bool build_list(IO_def* port) {
  if (!port) return false;
  scan_requires(Pause::Stopped);
  IO_base* head = nullptr;
  IO_base* tail = nullptr;
  bool current_kept = false;
  for (Control* c = loop_start[0]; c; c = c->next) {
    if (!is_io_type(c->num())) continue;
    auto* b = static_cast<IO_base*>(c);
    if (b->port != port) continue;
    if (tail)
      tail->next_on_port = b;
    else
      head = b;
    tail = b;
    if (b == port->current) current_kept = true;
  }
  if (tail) tail->next_on_port = nullptr;
  port->first = head;
  if (!current_kept && port->current) {
    // The instruction served left this port: abandon its transaction.
    port->current = nullptr;
    port->busy = 0;
    port->reply_pending = 0;
  }
  if (!head && port->network_master()) {
    delete_port(port);
    return false;
  }
  return true;
}

void all_IO_linked_list() {
  scan_requires(Pause::Stopped);
  for (IO_def* p = IO_start_def; p;) {
    IO_def* next = p->next;  // p may be deleted
    build_list(p);
    p = next;
  }
}

void io_detach_all() {
  scan_requires(Pause::Stopped);
  for (Control* c = loop_start[0]; c; c = c->next)
    if (is_io_type(c->num())) {
      auto* b = static_cast<IO_base*>(c);
      b->port = nullptr;
      b->next_on_port = nullptr;
    }
  for (IO_def* p = IO_start_def; p; p = p->next) {
    p->first = p->current = nullptr;
    p->busy = 0;
    p->reply_pending = 0;
  }
}

IO_base::~IO_base() { delete_IO_def(this); }

int IO_base::check_match(IO_base* inst, IO_def* p) {
  if (!inst || !p) return 0;
  scan_requires(Pause::Stopped);
  if (inst->com_type == 0 && (inst->address.empty() || inst->ip_port == 0)) {
    IO_def* old = inst->port;
    inst->port = nullptr;
    inst->next_on_port = nullptr;
    if (old) build_list(old);
    return 0;
  }
  if (inst->com_type != p->port_number) return 2;
  if (inst->com_type != 0) return 1;
  // A network port serves one peer with one protocol.
  if (p->network_master() && !p->address.empty() && p->ip_port == inst->ip_port &&
      p->address == inst->address && p->kind == io_kind_of_type(inst->num()))
    return 1;
  return 2;
}

void IO_base::create_IO_def(IO_base* inst) {
  if (!inst) return;
  scan_requires(Pause::Stopped);
  inst->pending.store(0, std::memory_order_relaxed);
  IO_def* previous = inst->port;
  if (previous) {
    int r = check_match(inst, previous);
    if (r == 0 || r == 1) return;
  }
  IO_def* found = nullptr;
  for (IO_def* p = IO_start_def; p;) {
    IO_def* next = p->next;
    int r = check_match(inst, p);
    if (r == 0) return;
    if (r == 1) {
      found = p;
      break;
    }
    p = next;
  }
  if (!found) {
    found = new IO_def();
    found->port_number = inst->com_type;
    found->ip_port = inst->ip_port;
    found->kind = io_kind_of_type(inst->num());
    found->address = inst->address;
  }
  inst->port = found;
  build_list(found);
  if (previous && previous != found) build_list(previous);
}

void IO_base::delete_IO_def(IO_base* inst) {
  if (!inst) return;
  scan_requires(Pause::Stopped);
  IO_def* p = inst->port;
  IO_base* after = inst->next_on_port;
  inst->port = nullptr;
  inst->next_on_port = nullptr;
  inst->pending.store(0, std::memory_order_relaxed);
  if (!p) return;
  // Unlink from the port's list; the list is rebuilt from the program,
  // which still holds inst but no longer as attached.
  if (p->current == inst) {
    p->current = nullptr;
    p->busy = 0;
    p->reply_pending = 0;
  }
  for (IO_base** link = &p->first; *link; link = &(*link)->next_on_port)
    if (*link == inst) {
      *link = after;
      break;
    }
  bool used = false;
  for (Control* c = loop_start[0]; c && !used; c = c->next)
    if (c != inst && is_io_type(c->num()) && static_cast<IO_base*>(c)->port == p) used = true;
  if (!used && p->network_master()) delete_port(p);
}
