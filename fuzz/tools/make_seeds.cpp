// Writes the fuzz targets' seed corpus with the controller's own writers:
// program files from program_save, Modbus requests from the master
// instruction and the slave's replies to them, ASCII requests from the
// master's templates and the slave's answers, and user port connections as
// the client library makes them against the real user port (each recorded
// by a relay between the two).
//
//   fuzz_seeds DIR        (DIR is usually fuzz/seeds)
//
// Everything runs in a temporary directory on loopback; serial lines are
// socket pairs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/engine.h"
#include "core/hooks.h"
#include "core/module.h"
#include "core/registry.h"
#include "core/startup.h"
#include "hmi/session.h"
#include "io/ascii_master.h"
#include "io/ascii_slave.h"
#include "io/modbus_master.h"
#include "io/modbus_slave.h"
#include "net/user_port.h"
#include "platform/platform.h"
#include "program/cursor.h"
#include "program/editing.h"
#include "program/file.h"
#include "program/program_new.h"
#include "program/refs.h"
#include "tools/client/client.h"
#include "fuzz/io_setup.h"
#include "fuzz/scratch_dir.h"

namespace fs = std::filesystem;
using Bytes = std::string;

namespace {

fs::path out_dir;

void write_seed(const char* target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(out_dir / target);
  std::ofstream(out_dir / target / name, std::ios::binary) << bytes;
}

Bytes slurp(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes read_all(int fd) {
  Bytes out;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
  return out;
}

void set_row(Control* c, u16 g, u16 row, u16 type, u32 value, const char* text = nullptr) {
  Iparam p;
  p.set_uint(type, value);
  p.text = text;
  if (type == ptype::Ref) ref_resolve(text, &p.ref);
  c->sparam(&p, g, row);
}

// ---- program files ---------------------------------------------------------

// Every row of c set away from its default, in the order the loader sets
// them.
void fill(Control* c) {
  Ilparam sh{};
  c->lparam(&sh);
  for (u16 g = 0; g <= sh.groups; ++g)
    for (u16 r = 0; r < (g ? sh.group_rows : sh.rows); ++r) {
      Iparam p{};
      if (!c->gparam(&p, g, r)) continue;
      const std::string tag = std::to_string(c->num()) + "_" + std::to_string(g) + "_" + std::to_string(r);
      if (p.type == ptype::Ref) {
        ref_resolve(("v" + tag + "[" + std::to_string(r + 1) + "]").c_str(), &p.ref);
      } else if (p.type & 0x100) {
        p.text = tag.c_str();
      } else if (p.type == ptype::Float) {
        p.value = float_bits(1.5f + r + 10.0f * g);
      } else {
        p.value = p.type == ptype::Select ? 1 : 3u + r + g;
      }
      c->sparam(&p, g, r);
    }
}

Bytes saved_program() {
  program_save("seed.qrn");
  return slurp("seed.qrn");
}

Bytes formula_program() {
  program_new(false);
  program_instruction(0, "Calc", 0);
  program_instruction(20, "sum", 2);
  Control* e = current_instruction;
  set_row(e, 1, 0, ptype::Ref, 0, "y");
  set_row(e, 1, 2, ptype::Text, 0, "(a + b[2]) * 2");
  set_row(e, 2, 0, ptype::Ref, 0, "z[3]");
  set_row(e, 2, 2, ptype::Text, 0, "if(a > 1, sqrt(b), -a) + z[1]");
  return saved_program();
}

void program_seeds() {
  // Every instruction class, one group each beyond the first.
  program_new(false);
  program_instruction(0, "All", 0);
  for (u16 t = 1; t < INST_TYPES; ++t) {
    if (!inst_factory[t]) continue;
    if (program_instruction(t, ("t" + std::to_string(t)).c_str(), 2)) fill(current_instruction);
  }
  write_seed("program_load", "every_type", saved_program());

  // Modules in three loops, with local and global references.
  program_new(false);
  const char* loops[] = {"Pumps", "Valves", "Alarms"};
  for (u16 l = 0; l < 3; ++l) {
    position_loop(l);
    program_instruction(0, loops[l], 0);
    program_instruction(12, "level", 1);
    set_row(current_instruction, 0, 0, ptype::Ref, 0, l ? "#tank[2]" : "tank[3]");
    program_instruction(20, "calc", 1);
    set_row(current_instruction, 1, 0, ptype::Ref, 0, "!out");
    set_row(current_instruction, 1, 2, ptype::Text, 0, "tank[1] * 0.5");
  }
  write_seed("program_load", "modules", saved_program());
  write_seed("program_load", "formulas", formula_program());
}

// ---- Modbus ----------------------------------------------------------------

struct Pair {
  int near = 0, far = 0;
  Pair() {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv) != 0) std::abort();
    near = sv[0], far = sv[1];
  }
  ~Pair() {
    if (far > 0) close(far);
  }
};

// The request master m sends on its port (net: with the TCP header).
Bytes master_request(Modbus* m, bool net) {
  IO_def* p = m->port;
  Pair s;
  p->descriptor = s.near;
  p->line_flag = net;
  p->idle_countdown = IO_IDLE_SECONDS;
  p->busy = p->reply_pending = 0;
  m->execute();
  m->start(p);
  Bytes req = read_all(s.far);
  m->pending = 0;
  close(p->descriptor);
  p->descriptor = 0;
  p->busy = 0;
  return req;
}

// The slave's reply to one request, on a serial line or a TCP connection.
Bytes slave_reply(const Bytes& request, bool net) {
  Pair s;
  if (net) {
    auto* c = new IO_def();
    c->kind = io_kind::ModbusSlave;
    c->descriptor = s.near;
    c->input = request;
    c->word = u32(request.size());
    modbus_rec_proc(c);
    Bytes reply = read_all(s.far);
    bool alive = false;  // a malformed request closes the connection
    for (IO_def* p = IO_start_def; p; p = p->next) alive |= p == c;
    if (alive) delete c;
    return reply;
  }
  IO_def* line = io_port_at(1);
  line->kind = io_kind::ModbusSlave;
  line->descriptor = s.near;
  line->work2 = 1;
  line->synced = 0;
  if (write(s.far, request.data(), request.size()) != ssize_t(request.size())) std::abort();
  Bytes reply;
  for (int step = 0; step < 8 && line->descriptor > 0; ++step) {
    line->gap_timer = 2;
    modbus_rec_proc(line);
    reply += read_all(s.far);
  }
  if (line->descriptor > 0) close(line->descriptor);
  line->descriptor = 0;
  return reply;
}

void modbus_seeds() {
  program_new(false);
  io_port_at(2)->kind = io_kind::ModbusMaster;
  auto* rtu = static_cast<Modbus*>(inst_create(TYPE_MODBUS, loop_start[0], "rtu", 1));
  auto* tcp = static_cast<Modbus*>(inst_create(TYPE_MODBUS, rtu, "tcp", 1));
  set_row(tcp, 0, 3, ptype::Select, 0);
  set_row(tcp, 0, 4, ptype::Text, 0, "127.0.0.1");
  set_row(tcp, 0, 5, ptype::Dec, 1502);
  for (Modbus* m : {rtu, tcp}) set_row(m, 0, 2, ptype::Ref, 0, "blk");
  static const char* const names[] = {"coils", "inputs", "registers", "input_registers",
                                      "coil", "register", "multiple_coils", "multiple_registers"};
  // The writes go first, so that the reads find what they wrote.
  for (u8 command = MB_COMMANDS; command-- > 0;)
    for (bool net : {false, true}) {
      Modbus* m = net ? tcp : rtu;
      m->command = command;
      m->reg_type = u8((command + (net ? 3 : 0)) % 6);
      m->resize(u16(1 + command * 2));
      for (u16 i = 0; i < m->count; ++i) m->transfer.set(i, 1.5f * i - 2.0f);
      Bytes request = master_request(m, net);
      Bytes reply = slave_reply(request, net);
      std::string name = std::string(net ? "tcp_" : "rtu_") + names[command];
      // Slave: transport and unit address (or segment size) first.
      write_seed("modbus_slave", name, Bytes(1, net ? '\x00' : '\x01') + (net ? '\x1f' : '\x01') + request);
      // Master: transport, command and register type, block size, segment size.
      Bytes head{char((net ? 1 : 0) | command << 1 | m->reg_type << 4), char(m->count - 1), '\x1f'};
      write_seed("modbus_master", name, head + reply);
    }
  program_new(false);
  io_port_at(1)->kind = io_port_at(2)->kind = io_kind::Off;
}

// ---- ASCII -----------------------------------------------------------------

void ascii_seeds() {
  program_new(false);
  auto* a = static_cast<Ascii*>(inst_create(TYPE_ASCII, loop_start[0], "a", 1));
  set_row(a, 0, 9, ptype::Dec, 3);
  set_row(a, 0, 2, ptype::Ref, 0, "tx");
  for (u16 i = 0; i < 3; ++i) a->tx.set(i, 2.5f * i + 1.0f);
  struct Case {
    const char* name;
    const char* templ;
    u8 receive;
    const char* pattern;
  };
  const Case cases[] = {
      {"read", "R 1,4", 4, "#,#,#,#"},
      {"read_text", "r 3,2", 3, "#,@,#"},
      {"write", "W 1,#,#,#", 1, ""},
      {"write_lower", "w 4,#", 1, ""},
  };
  // The writes go first, so that the reads find what they wrote.
  Bytes all_lines;
  std::vector<std::pair<const Case*, Bytes>> lines;
  for (int pass = 0; pass < 2; ++pass)
    for (const Case& c : cases) {
      if ((c.pattern[0] == 0) != (pass == 0)) continue;
      a->tx_string = c.templ;
      Bytes line = a->expand();
      all_lines += line;
      lines.push_back({&c, line});
    }
  write_seed("ascii_slave", "requests", '\x3f' + all_lines);
  for (auto& [c, line] : lines) {
    Bytes answer = ascii_answer(std::string_view(line).substr(0, line.size() - 2), ASCII_TCP_BASE);
    write_seed("ascii_slave", c->name, '\x07' + line);
    const bool ack = c->pattern[0] == 0;
    const Bytes pattern = c->pattern;
    for (bool net : {false, true}) {
      Bytes head{char((net ? 1 : 0) | (ack ? 4 : 0) | 0x78), char(c->receive - 1), char(pattern.size())};
      write_seed("ascii_master", std::string(net ? "tcp_" : "serial_") + c->name, head + pattern + answer);
    }
    if (!ack) {
      Bytes head{char(1 | 2 | 0x78), char(c->receive - 1), char(pattern.size())};
      write_seed("ascii_master", std::string("web_") + c->name,
                 head + pattern + "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + answer);
    }
  }
  program_new(false);
}

// ---- user port -------------------------------------------------------------

// Listens on loopback and relays one connection to the user port, keeping
// the bytes the client sent.
class Relay {
 public:
  explicit Relay(u16 target) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      std::abort();
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, target] { serve(target); });
  }
  u16 port() const { return port_; }
  Bytes finish() {
    thread_.join();
    close(listener_);
    return sent_;
  }

 private:
  void serve(u16 target) {
    int client = accept(listener_, nullptr, nullptr);
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(target);
    if (client < 0 || connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::abort();
    bool up = true, down = true;  // client to server, server to client
    char buf[16384];
    while (up || down) {
      pollfd f[2] = {{up ? client : -1, POLLIN, 0}, {down ? server : -1, POLLIN, 0}};
      if (poll(f, 2, 5000) <= 0) break;
      if (up && f[0].revents) {
        ssize_t n = read(client, buf, sizeof buf);
        if (n > 0) {
          sent_.append(buf, size_t(n));
          if (write(server, buf, size_t(n)) != n) up = false;
        } else {
          up = false;
          shutdown(server, SHUT_WR);
        }
      }
      if (down && f[1].revents) {
        ssize_t n = read(server, buf, sizeof buf);
        if (n <= 0 || write(client, buf, size_t(n)) != n) {
          down = false;
          shutdown(client, SHUT_WR);
        }
      }
    }
    close(client);
    close(server);
  }
  int listener_ = -1;
  u16 port_ = 0;
  std::thread thread_;
  Bytes sent_;
};

// Commands of a programmer's session, as a client sends them.
const char* const kSession[] = {
    "users", "insert|Tank|0|0", "insert|Fill|12|1", "insert|Calc|20|1",
    "sconfig|level[2]|0|0|263|0|0", "alist", "gconfig||0|0", "lmt", "lnxt", "livar",
    "save|a.qrn", "fdir", "status", "stop", "step", "run", "load|a.qrn", "rvar|level",
};

void port_seeds() {
  program_new(false);
  fuzz_replay_clock();
  if (FILE* f = std::fopen("index.html", "w")) {
    std::fputs("<html>quor</html>\n", f);
    std::fclose(f);
  }
  if (!user_port_open(0)) std::abort();
  const u16 port = user_port_number();
  std::atomic<bool> stop{false};
  std::thread server([&] {
    while (!stop) proc_user(5);
  });
  const std::string host = "127.0.0.1";
  auto record = [&](const char* name, const std::function<void(u16)>& client, bool session) {
    Relay relay(port);
    client(relay.port());
    Bytes sent = relay.finish();
    write_seed("user_port", name, '\x40' + sent);
    // The HMI target takes the lines after the first.
    if (session) write_seed("hmi_command", std::string("recorded_") + name, sent.substr(sent.find('\r') + 1));
  };
  quorclient::Reply r;
  record("session", [&](u16 p) {
    quorclient::Connection c;
    c.connect(host, p);
    c.open_session();
    c.login("");
    for (const char* line : kSession) c.command(line, r);
    c.command("svar|level[1]|" + quorclient::float_to_wire(12.5f), r);
    c.command("logoff", r);
    c.wait_closed(3000);
  }, true);
  record("session_hmi", [&](u16 p) {
    quorclient::Connection c;
    c.connect(host, p);
    c.open_session();
    for (const char* line : {"users", "alive", "rvar|level", "term", "flush", "sname"}) c.command(line, r);
    c.command("mvar|" + quorclient::encode_password("wrong"), r);
  }, true);
  record("one_shot", [&](u16 p) {
    quorclient::Connection c;
    c.connect(host, p);
    c.send_line("users\nstatus");
    c.wait_closed(3000);
  }, false);
  record("download", [&](u16 p) { quorclient::download(host, p, "index.html", nullptr); }, false);
  record("download_missing", [&](u16 p) { quorclient::download(host, p, "none.qrn", nullptr); }, false);
  const Bytes program = formula_program();
  record("upload", [&](u16 p) { quorclient::upload(host, p, "up.qrn", program); }, false);
  record("disconnect", [&](u16 p) {
    quorclient::Connection c;
    c.connect(host, p);
    c.send_line("Disconnect /");
    c.wait_closed(3000);
  }, false);
  stop = true;
  server.join();
  user_port_shutdown();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
    return 2;
  }
  out_dir = fs::absolute(argv[1]);
  fuzz_scratch::enter(&argc, &argv, "quor_fuzz_seeds_");
  for (auto& s : options.serial) s = "/nonexistent/quor-seed-tty";
  fuzz_controller_setup();
  create_serial_ports();
  program_seeds();
  modbus_seeds();
  ascii_seeds();
  port_seeds();
  return 0;
}
