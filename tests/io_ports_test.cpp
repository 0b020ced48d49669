// Ports: which instructions share a port, port lists in program order,
// deletion, the new-program reset, the slave listeners and the serial line
// settings of configuration page 1.
#include <arpa/inet.h>
#include <sys/socket.h>

#include "tests/support/io_fixture.h"
#include "tests/support/quor_process.h"

namespace {

int port_count() {
  int n = 0;
  for (IO_def* p = IO_start_def; p; p = p->next) ++n;
  return n;
}

using IoPorts = IoTest;

TEST_F(IoPorts, SharingOwnPortsAndDeletion) {
  ASSERT_EQ(port_count(), 4);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(io_port_at(i)->port_number, i);

  Modbus* a = tcp_modbus(1502, 2, mb_reg::Unsigned, 1, 1, nullptr);
  Modbus* b = tcp_modbus(1502, 2, mb_reg::Unsigned, 1, 1, nullptr);
  Modbus* c = tcp_modbus(1503, 2, mb_reg::Unsigned, 1, 1, nullptr);
  ASSERT_NE(a->port, nullptr);
  EXPECT_EQ(a->port, b->port);
  EXPECT_NE(c->port, a->port);
  EXPECT_EQ(port_count(), 6);
  EXPECT_EQ(a->port->port_number, 0);
  EXPECT_EQ(a->port->kind, io_kind::ModbusMaster);
  EXPECT_EQ(a->port->first, a);
  EXPECT_EQ(a->next_on_port, b);
  EXPECT_EQ(b->next_on_port, nullptr);

  // Changing the IP port of b moves it to c's port; a's port keeps a.
  set_num(b, PORT, 1503);
  EXPECT_EQ(b->port, c->port);
  EXPECT_EQ(a->port->first, a);
  EXPECT_EQ(a->next_on_port, nullptr);
  EXPECT_EQ(c->port->first, b);  // program order: b comes before c
  EXPECT_EQ(b->next_on_port, c);

  // An Ethernet instruction with an empty address is detached and never runs.
  set_text(b, IP, "");
  EXPECT_EQ(b->port, nullptr);
  Ivar* v = var("v");
  set_ref(b, TRANSFER, v);
  b->execute();
  EXPECT_FALSE(b->ready());

  // A serial port stays, with an empty list, when its last one goes.
  Modbus* s = serial_modbus(3, 2, mb_reg::Unsigned, 1, 1, nullptr);
  EXPECT_EQ(io_port_at(3)->first, s);
  inst_delete(TYPE_MODBUS, s);
  EXPECT_EQ(io_port_at(3)->first, nullptr);
  EXPECT_EQ(io_port_at(3)->port_number, 3);

  // A new program detaches everything: network ports go, serial ports stay
  // and run at 9600 baud.
  io_port_at(2)->word = 19200;
  program_new(false);
  EXPECT_EQ(port_count(), 4);
  EXPECT_EQ(io_port_at(2)->word, 9600u);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(io_port_at(i)->first, nullptr);
}

TEST_F(IoPorts, ListsFollowProgramOrderAfterAMove) {
  Modbus* a = serial_modbus(1, 2, mb_reg::Unsigned, 1, 1, nullptr);
  Modbus* b = serial_modbus(1, 2, mb_reg::Unsigned, 1, 1, nullptr);
  Modbus* c = serial_modbus(1, 2, mb_reg::Unsigned, 1, 1, nullptr);
  IO_def* line = io_port_at(1);
  EXPECT_EQ(line->first, a);
  // Move a after c in the program list, as the editor does.
  a->prev->next = b;
  b->prev = a->prev;
  a->next = c->next;
  if (c->next) c->next->prev = a;
  c->next = a;
  a->prev = c;
  ASSERT_NE(engine_hooks.program_moved, nullptr);
  engine_hooks.program_moved();
  EXPECT_EQ(line->first, b);
  EXPECT_EQ(b->next_on_port, c);
  EXPECT_EQ(c->next_on_port, a);
  EXPECT_EQ(a->next_on_port, nullptr);
}

TEST_F(IoPorts, SlaveListenerConnections) {
  u16 port = free_port();
  IO_slave_port_listen(port, io_kind::ModbusSlave, true);
  ASSERT_GT(IO_sockfd[0], 0);
  auto connections = [] {
    int n = 0;
    for (IO_def* p = IO_start_def; p; p = p->next) n += p->port_number == 0 && p->kind == io_kind::ModbusSlave;
    return n;
  };
  std::vector<int> clients;
  for (int i = 0; i < 11; ++i) {
    clients.push_back(connect_to(port));
    ASSERT_GE(clients.back(), 0);
    run_for_us(1000);  // one accept per step
  }
  EXPECT_EQ(connections(), 11);
  run_for_us(1000);  // the eleventh is closed at the next step
  EXPECT_EQ(connections(), 10);
  char c;
  pollfd pf{clients[10], POLLIN, 0};
  ASSERT_EQ(poll(&pf, 1, 1000), 1);
  EXPECT_EQ(recv(clients[10], &c, 1, 0), 0);

  // A peer that closes is deleted.
  close(clients[1]);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  run_for_us(1000);
  EXPECT_EQ(connections(), 9);

  // Idle connections go after 120 seconds, counted only below thread_ctr 4.
  thread_ctr = 4;
  for (int s = 0; s < 200; ++s) run_for_us(1000000, 500000);
  thread_ctr = 0;
  EXPECT_EQ(connections(), 9);
  for (int s = 0; s < 121; ++s) run_for_us(1000000, 500000);
  EXPECT_EQ(connections(), 0);

  // Re-making the listener drops its connections; disabling closes it.
  int extra = connect_to(port);
  run_for_us(1000);
  EXPECT_EQ(connections(), 1);
  IO_slave_port_listen(port, io_kind::ModbusSlave, false);
  EXPECT_EQ(connections(), 0);
  EXPECT_EQ(IO_sockfd[0], 0);
  close(extra);
  for (int s : clients) close(s);
}

TEST_F(IoPorts, SerialLineSettingsFromTheConfigurationPage) {
  int master = open_pty_master();
  ASSERT_GE(master, 0);
  options.serial[2] = ptsname(master);
  IO_def* line = io_port_at(3);

  gen_sel = 1;
  auto set = [](u16 row, u16 type, u32 value) {
    Iparam p;
    p.set_uint(type, value);
    return gen::sparam(&p, 3, row);
  };
  line->count = 9;
  line->synced = 1;
  ASSERT_TRUE(set(0, ptype::Select, io_kind::ModbusMaster));
  EXPECT_EQ(line->kind, io_kind::ModbusMaster);
  EXPECT_EQ(line->count, 0u);
  EXPECT_EQ(line->synced, 0);
  ASSERT_GT(line->descriptor, 0);

  ASSERT_TRUE(set(1, ptype::Dec, 14400));  // not in the table: 9600
  termios t;
  ASSERT_EQ(tcgetattr(line->descriptor, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B9600);
  ASSERT_TRUE(set(1, ptype::Dec, 19200));
  ASSERT_TRUE(set(2, ptype::Select, 2));  // odd parity
  ASSERT_EQ(tcgetattr(line->descriptor, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B19200);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), tcflag_t(0));
  EXPECT_EQ(t.c_cc[VMIN], 1);
  // A pty keeps no parity, so the settings applied are checked as built.
  EXPECT_EQ(line->line_flag, 2);
  t = serial_termios(*line);
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CSIZE | CSTOPB), tcflag_t(PARENB | PARODD | CS8));
  line->line_flag = 1;
  EXPECT_EQ(serial_termios(*line).c_cflag & (PARENB | PARODD), tcflag_t(PARENB));
  line->line_flag = 2;
  ASSERT_TRUE(set(3, ptype::Dec, 17));
  Iparam got;
  ASSERT_TRUE(gen::gparam(&got, 3, 3));
  EXPECT_EQ(got.value, 17u);
  // The page shows the settings as the new-program reset left the line:
  // the protocol and parity stay, 9600 baud, no slave address.
  program_new(false);
  gen_sel = 1;
  const u32 after_reset[4] = {io_kind::ModbusMaster, 9600, 2, 0};
  for (u16 row = 0; row < 4; ++row) {
    ASSERT_TRUE(gen::gparam(&got, 3, row));
    EXPECT_EQ(got.value, after_reset[row]) << row;
  }
  EXPECT_EQ(line->word, 9600u);

  // Close-only leaves line 3 closed; reads give -1, writes do nothing.
  set_serial(line, true);
  EXPECT_EQ(line->descriptor, 0);
  u8 buf[4];
  EXPECT_EQ(serial_read(line->descriptor, buf, 4), -1);
  serial_write(line->descriptor, buf, 4);
  // A line switched off is closed too.
  ASSERT_TRUE(set(0, ptype::Select, io_kind::ModbusMaster));
  EXPECT_GT(line->descriptor, 0);
  ASSERT_TRUE(set(0, ptype::Select, io_kind::Off));
  EXPECT_EQ(line->descriptor, 0);
  // A device that cannot be opened leaves the line closed.
  options.serial[2] = "/nonexistent/tty";
  ASSERT_TRUE(set(0, ptype::Select, io_kind::ModbusMaster));
  EXPECT_EQ(line->descriptor, 0);
  close(master);
}

}  // namespace
