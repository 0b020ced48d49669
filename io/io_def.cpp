#include "io/io_def.h"

#include <cstdio>

#include "core/engine.h"
#include "core/scan_pause.h"
#include "io/io_base.h"
#include "io/serial.h"
#include "net/sockets.h"

IO_def::IO_def() {
  scan_requires(Pause::Stopped);
  int position = 1;
  IO_def** link = &IO_start_def;
  while (*link) {
    link = &(*link)->next;
    ++position;
  }
  *link = this;
  port_number = position <= 4 ? u8(position) : 0;
}

IO_def::~IO_def() {
  scan_requires(Pause::Stopped);
  close_fd(descriptor);
  for (IO_def** link = &IO_start_def; *link; link = &(*link)->next)
    if (*link == this) {
      *link = next;
      break;
    }
}

IO_def* io_port_at(int g) {
  IO_def* p = IO_start_def;
  for (int i = 1; p && i < g; ++i) p = p->next;
  return g >= 1 ? p : nullptr;
}

void create_serial_ports() {
  scan_requires(Pause::Stopped);
  io_detach_all();
  while (IO_start_def) delete IO_start_def;
  for (int i = 0; i < 4; ++i) {
    auto* line = new IO_def();
    line->word = 9600;
  }
  serial_settings_sync();
}

void io_reset() {
  scan_requires(Pause::Stopped);
  IO_slave_port_listen(0, io_kind::ModbusSlave, false);
  IO_slave_port_listen(0, io_kind::AsciiSlave, false);
  io_detach_all();
  for (IO_def* p = IO_start_def; p;) {
    IO_def* next = p->next;
    if (!p->serial()) {
      delete p;
    } else {
      // Transaction state back to rest; the line keeps its protocol and
      // parity and runs at 9600 baud until the configuration says otherwise.
      p->frame.fill(0);
      p->progress = 0;
      p->pass_start = 0;
      p->word = 9600;
      p->count = p->gap_timer = p->reply_timer = 0;
      p->idle_countdown = IO_IDLE_SECONDS;
      p->function = p->expected = p->skip = p->reply_pending = 0;
      p->work1 = p->work2 = 0;
      p->synced = 0;
      set_serial(p, p->kind == io_kind::Off);
    }
    p = next;
  }
  serial_settings_sync();
}

u32 io_msec_of_day() {
  return (timec.load(std::memory_order_relaxed) % 86400u) * 1000u +
         u32(dtime.load(std::memory_order_relaxed)) / 1000u;
}

void print_list() {
  scan_requires(Pause::Stopped);
  if (!IO_start_def) {
    std::fputs("No IO objects!\n", stdout);
    return;
  }
  static const char* const kKinds[io_kind::Count] = {"off",         "Modbus master",
                                                     "Modbus slave", "X10",
                                                     "Ascii master", "Ascii slave"};
  int n = 0;
  for (IO_def* p = IO_start_def; p; p = p->next) {
    const char* kind = p->kind < io_kind::Count ? kKinds[p->kind] : "?";
    if (p->serial())
      std::printf("%d: serial %u, %s, %u baud, parity %u", ++n, p->port_number, kind, p->word,
                  p->line_flag);
    else if (p->network_master())
      std::printf("%d: network %s:%u, %s, %s", ++n, p->address.c_str(), p->ip_port, kind,
                  p->line_flag ? "connected" : "not connected");
    else
      std::printf("%d: connection, %s, idle %u s", ++n, kind, p->idle_countdown);
    std::printf(", fd %d%s%s\n", p->descriptor, p->busy ? ", busy" : "",
                p->current ? ", in a pass" : "");
    for (IO_base* b = p->first; b; b = b->next_on_port)
      std::printf("    %s%s\n", b->desc.c_str(), b == p->current ? " <" : "");
  }
  std::fflush(stdout);
}
