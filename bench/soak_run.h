// The soak run: the real controller binary in a temporary directory, a
// program of a few hundred instructions in a 10 ms loop (formulas and PID
// loops) beside a 1 s loop writing history, ten HMI sessions and ten Modbus
// TCP masters writing and reading back values of their own, for a given
// time. Shared by the bench_soak program and the short run in the suite.
#pragma once
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/config.h"
#include "core/engine.h"
#include "core/hooks.h"
#include "core/module.h"
#include "core/registry.h"
#include "expr/names.h"
#include "platform/platform.h"
#include "program/file.h"
#include "program/program_new.h"
#include "tests/support/quor_process.h"
#include "tools/client/client.h"

namespace soak {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string quor;         // the controller binary
  double seconds = 25;      // length of the loaded part of the run
  int hmi_clients = 10;     // HMI sessions
  int modbus_clients = 10;  // Modbus TCP masters
  int pause_us = 2000;      // each client's pause between two exchanges
  int formulas = 280;       // Expression instructions in the 10 ms loop
  int pids = 10;            // simulated plants, each with its PID
};

// Round-trip times: whole microseconds up to 20 ms, whole milliseconds up to
// 10 s, and a top bin beyond.
class Histogram {
 public:
  Histogram() : bins_(kBins, 0) {}
  void add(double us) {
    long u = std::max(0L, std::lround(us));
    size_t b = u < kFine ? size_t(u) : std::min(kBins - 1, size_t(kFine + (u - kFine) / 1000));
    ++bins_[b];
    ++count_;
    max_ = std::max(max_, us);
  }
  void merge(const Histogram& o) {
    for (size_t i = 0; i < kBins; ++i) bins_[i] += o.bins_[i];
    count_ += o.count_;
    max_ = std::max(max_, o.max_);
  }
  double percentile(double p) const {
    if (!count_) return 0;
    unsigned long long want = (unsigned long long)std::ceil(double(count_) * p / 100.0), seen = 0;
    for (size_t i = 0; i + 1 < kBins; ++i)
      if ((seen += bins_[i]) >= want) return long(i) < kFine ? double(i) : double(kFine + (long(i) - kFine) * 1000);
    return max_;
  }
  unsigned long long count() const { return count_; }
  double max() const { return max_; }

 private:
  static constexpr long kFine = 20000;
  static constexpr size_t kBins = size_t(kFine) + 10000;
  std::vector<unsigned long long> bins_;
  unsigned long long count_ = 0;
  double max_ = 0;
};

struct Kind {
  long long writes = 0, lost = 0, wrong = 0;
  Histogram latency;
  std::string first_problem;
};

struct Result {
  std::string error;  // set when the run could not be made at all
  double seconds = 0;
  Kind hmi, modbus;
  double passes = 0, expected_passes = 0, late = 0, overruns = 0, history_records = 0;
  long fds_start = -1, fds_end = -1, rss_start_kib = -1, rss_end_kib = -1;
  bool alive = false;
  long missed() const { return std::max(0L, std::lround(expected_passes - passes) - 1); }
};

// ---- the program -----------------------------------------------------------

inline Control* add(Control* prev, u16 type, const char* desc, u16 groups) {
  Control* c = inst_create(type, prev, desc, groups);
  if (!c) throw std::runtime_error(std::string("cannot create ") + desc);
  return c;
}
inline void set_ref(Control* c, u16 g, u16 row, const std::string& name) {
  Iparam p;
  p.type = ptype::Ref;
  if (!var_name(name.c_str(), &p.ref, true) || !c->sparam(&p, g, row)) throw std::runtime_error("reference " + name);
}
inline void set_text(Control* c, u16 g, u16 row, const std::string& text) {
  Iparam p;
  p.type = ptype::Text;
  p.text = text.c_str();
  if (!c->sparam(&p, g, row)) throw std::runtime_error("formula " + text);
}
inline void set_num(Control* c, u16 row, u16 type, u32 v) {
  Iparam p;
  p.type = type;
  p.value = v;
  if (!c->sparam(&p, 0, row)) throw std::runtime_error("row " + std::to_string(row));
}
// One Expression holding the given result = formula rows.
inline Control* formulas(Control* prev, const char* desc,
                         const std::vector<std::pair<std::string, std::string>>& rows) {
  Control* c = add(prev, 20, desc, u16(rows.size()));
  for (size_t i = 0; i < rows.size(); ++i) {
    set_ref(c, u16(i + 1), 0, rows[i].first);
    set_text(c, u16(i + 1), 2, rows[i].second);
  }
  return c;
}

// Runs fn in a child process in dir with the controller's library set up
// (host platform, hooks, instruction classes, the empty program), so that
// the caller's globals stay as they were. fn throws to fail; its message
// comes back in *err; the text it returns comes back in *out.
template <class F>
bool in_child(const std::string& dir, F fn, std::string* err = nullptr, std::string* out = nullptr) {
  int fds[2], res[2];
  if (pipe(fds) != 0) return false;
  if (pipe(res) != 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    close(res[0]);
    std::string why, text;
    try {
      if (chdir(dir.c_str()) != 0) throw std::runtime_error("chdir " + dir);
      auto host = make_host_platform();
      plat = host.get();
      install_hooks();
      inst_build();
      program_new(false);
      text = fn();
    } catch (const std::exception& e) {
      why = e.what();
    }
    if (!why.empty()) (void)!write(fds[1], why.data(), why.size());
    if (!text.empty()) (void)!write(res[1], text.data(), text.size());
    _exit(why.empty() ? 0 : 1);
  }
  close(fds[1]);
  close(res[1]);
  auto drain = [](int fd) {
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, size_t(n));
    close(fd);
    return s;
  };
  std::string e = drain(fds[0]), o = drain(res[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  if (err) *err = e;
  if (out) *out = o;
  return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

// Loads dir/name in a child; returns the number of instructions (modules
// included) of the loaded program, or -1 when it does not load.
inline long loaded_instructions(const std::string& dir, const std::string& name) {
  std::string out;
  bool ok = in_child(
      dir,
      [&] {
        if (!program_load(name.c_str(), 0)) throw std::runtime_error("load");
        long n = 0;
        for (Control* c = loop_start[0]; c; c = c->next) ++n;
        return std::to_string(n);
      },
      nullptr, &out);
  return ok ? std::atol(out.c_str()) : -1;
}

// Builds the soak program with the controller's own library and saves it as
// "quor.qrn" in dir. The HMI clients own "!h0".."!h9"; the Modbus masters
// own registers 16 k .. 16 k + 15 (cells 512 + address), which the program
// only reads.
inline bool write_program(const std::string& dir, u16 modbus_port, const Options& o, std::string* err) {
  return in_child(
      dir,
      [&] {
        gen_loop_int[0] = 10;
        gen_loop_int[1] = 1000;
        tcp_modbus_slave_enable = 1;
        tcp_modbus_slave_port = modbus_port;
        gen::on_page(3, [] { return gen_resize(4); });
        per_interval[0] = 1;
        per_records[0] = 3600;
        gen::on_page(7, [] { return gen_resize(1); });
        evt_records[0] = 3600;

        // Loop 1 (10 ms): pass accounting, the plants and their PIDs, then
        // formulas over the clients' values.
        current_module = static_cast<Module*>(loop_start[0]);
        Control* c = formulas(loop_start[0], "passes",
                              {
                                  {"!passes", "!passes + 1"},
                                  {"!gap", "!System[2] - !last"},
                                  {"!late", "!late + (!gap > 0.025) * (!gap < 1000) * (!passes > 2)"},
                                  {"!last", "!System[2]"},
                              });
        for (int k = 0; k < o.pids; ++k) {
          std::string n = std::to_string(k), pv = "!pv" + n, out = "!out" + n;
          c = formulas(c, "plant",
                       {
                           {"!ph" + n, "!passes / " + std::to_string(100 + k)},
                           {"!sp" + n, "sin(!ph" + n + ") * 10 + 50"},
                           {pv, pv + " + (" + out + " - " + pv + ") * 0.05"},
                           {"!err" + n, "!sp" + n + " - " + pv},
                       });
          c = add(c, 9, "pid", 0);
          set_ref(c, 0, 0, "!err" + n);
          set_ref(c, 0, 1, out);
          set_num(c, 4, ptype::Float, float_bits(0.2f));
          set_num(c, 5, ptype::Float, float_bits(1.5f));
          set_num(c, 6, ptype::Float, float_bits(0.1f));
          set_num(c, 7, ptype::Float, float_bits(0.02f));
        }
        for (int i = 0; i < o.formulas; ++i) {
          std::string n = std::to_string(i), h = "!h" + std::to_string(i % 10);
          std::string reg = "!System[" + std::to_string(512 + (i % 160)) + "]";
          c = formulas(c, "work",
                       {
                           {"!w[" + n + "]", "(" + h + " * 0.5 + " + reg + ") 'max' (!w[" + n + "] * 0.9)"},
                           {"!v[" + n + "]", "abs(!w[" + n + "])"},
                           {"!v[" + n + "]", "sqrt(!v[" + n + "]) + !pv" + std::to_string(i % std::max(1, o.pids))},
                       });
        }
        // Loop 2 (1 s): one periodic and one event record a second.
        current_module = static_cast<Module*>(loop_start[1]);
        current_loop = 1;
        c = formulas(loop_start[1], "history feed",
                     {
                         {"!hist[0]", "!passes"},
                         {"!hist[1]", "!pv0"},
                         {"!hist[2]", "!out0"},
                         {"!hist[3]", "!late"},
                         {"!evt", "1"},
                     });
        c = add(c, 15, "periodic", 0);
        set_ref(c, 0, 0, "!hist");
        set_ref(c, 0, 1, "!hist_status");
        set_num(c, 2, ptype::Select, 1);
        c = add(c, 16, "event", 0);
        set_ref(c, 0, 0, "!passes");
        set_ref(c, 0, 1, "!evt");
        set_num(c, 2, ptype::Select, 1);
        c = formulas(c, "history count", {{"!records", "!records + !hist_status"}});
        current_loop = 0;
        current_module = static_cast<Module*>(loop_start[0]);
        if (!program_save("quor.qrn")) throw std::runtime_error("save");
        return std::string();
      },
      err);
}

// ---- the process -----------------------------------------------------------

inline long count_fds(pid_t pid) {
  std::error_code ec;
  long n = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
    ++n;
  return ec ? -1 : n;
}

inline long rss_kib(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// ---- the clients -----------------------------------------------------------

inline double since_us(Clock::time_point t0) {
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

inline void note(Kind& k, const std::string& what) {
  if (k.first_problem.empty()) k.first_problem = what;
}

// Writes "!hK" and reads it back, each write a new value.
inline void hmi_client(u16 port, int k, const Options& o, const std::atomic<bool>& stop, Kind& out) {
  quorclient::Connection c;
  const std::string name = "!h" + std::to_string(k);
  auto opened = Clock::now();
  for (unsigned n = 1; !stop.load(); ++n) {
    // A session without a login ends 120 s after it opened ("alive" needs a
    // login): such a client opens a fresh one before that.
    if (c.is_open() && Clock::now() - opened > std::chrono::seconds(100)) c.close();
    if (!c.is_open()) {
      opened = Clock::now();
      if (!c.connect("127.0.0.1", port) || !c.open_session()) {  // all ten slots taken a moment longer
        note(out, "no session at once");
        c.close();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        continue;
      }
    }
    quorclient::Reply r;
    const std::string value = quorclient::float_to_wire(float(k * 1000000 + n % 1000000));
    auto t0 = Clock::now();
    bool ok = c.command("svar|" + name + "|" + value, r);
    out.latency.add(since_us(t0));
    ++out.writes;
    if (!ok || r.first() != "OK") {
      ++out.lost;
      note(out, "svar " + name + ": " + (ok ? r.first() : "no reply"));
      c.close();
      continue;
    }
    t0 = Clock::now();
    ok = c.command("rvar|" + name, r);
    out.latency.add(since_us(t0));
    if (!ok) {
      ++out.lost;
      note(out, "rvar " + name + ": no reply");
      c.close();
    } else if (r.first() != value) {
      ++out.wrong;
      note(out, "rvar " + name + ": " + r.first() + ", wrote " + value);
    }
    if (o.pause_us) std::this_thread::sleep_for(std::chrono::microseconds(o.pause_us));
  }
}

// One Modbus TCP exchange; the reply's header must carry our transaction.
inline bool modbus_exchange(int fd, u16 tid, const std::vector<u8>& pdu, std::vector<u8>& reply) {
  std::vector<u8> f = {u8(tid >> 8), u8(tid), 0, 0, u8((pdu.size() + 1) >> 8), u8(pdu.size() + 1), 1};
  f.insert(f.end(), pdu.begin(), pdu.end());
  if (send(fd, f.data(), f.size(), MSG_NOSIGNAL) != ssize_t(f.size())) return false;
  reply.clear();
  size_t want = 7;
  u8 buf[300];
  while (reply.size() < want) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return false;
    ssize_t n = recv(fd, buf, std::min(sizeof buf, want - reply.size()), 0);
    if (n <= 0) return false;
    reply.insert(reply.end(), buf, buf + n);
    if (reply.size() >= 6) want = 6 + (size_t(reply[4]) << 8 | reply[5]);
  }
  return reply[0] == u8(tid >> 8) && reply[1] == u8(tid) && want > 7;
}

// Writes sixteen registers of its own (function 16) and reads them back
// (function 3).
inline void modbus_client(u16 port, int k, const Options& o, const std::atomic<bool>& stop, Kind& out) {
  int fd = -1;
  const u16 first = u16(16 * k);
  std::vector<u8> reply;
  for (unsigned n = 1; !stop.load(); ++n) {
    if (fd < 0 && (fd = connect_to(port)) < 0) {
      ++out.lost;
      note(out, "no connection");
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    std::vector<u8> write_pdu = {16, u8(first >> 8), u8(first), 0, 16, 32};
    std::vector<u16> values(16);
    for (int i = 0; i < 16; ++i) {
      values[size_t(i)] = u16(n * 16 + unsigned(i) + unsigned(k) * 7);
      write_pdu.push_back(u8(values[size_t(i)] >> 8));
      write_pdu.push_back(u8(values[size_t(i)]));
    }
    auto t0 = Clock::now();
    bool ok = modbus_exchange(fd, u16(2 * n), write_pdu, reply);
    out.latency.add(since_us(t0));
    ++out.writes;
    if (!ok || reply.size() != 12 || reply[7] != 16) {
      ++out.lost;
      note(out, ok ? "unexpected reply to function 16" : "no reply to function 16");
      close(fd);
      fd = -1;
      continue;
    }
    t0 = Clock::now();
    ok = modbus_exchange(fd, u16(2 * n + 1), {3, u8(first >> 8), u8(first), 0, 16}, reply);
    out.latency.add(since_us(t0));
    if (!ok || reply.size() != 9 + 32 || reply[7] != 3 || reply[8] != 32) {
      ++out.lost;
      note(out, ok ? "unexpected reply to function 3" : "no reply to function 3");
      close(fd);
      fd = -1;
      continue;
    }
    for (int i = 0; i < 16; ++i) {
      u16 got = u16(reply[9 + 2 * i] << 8 | reply[10 + 2 * i]);
      if (got != values[size_t(i)]) {
        ++out.wrong;
        note(out, "register " + std::to_string(first + i) + " read " + std::to_string(got) + ", wrote " +
                      std::to_string(values[size_t(i)]));
        break;
      }
    }
    if (o.pause_us) std::this_thread::sleep_for(std::chrono::microseconds(o.pause_us));
  }
  if (fd >= 0) close(fd);
}

// Reads cells of the system scope over one session.
inline bool read_cells(u16 port, const std::vector<std::string>& names, std::vector<float>& out) {
  quorclient::Connection c;
  if (!c.connect("127.0.0.1", port) || !c.open_session()) return false;
  out.clear();
  for (auto& n : names) {
    quorclient::Reply r;
    float v = 0;
    if (!c.command("rvar|" + n, r) || !quorclient::wire_to_float(r.first(), &v)) return false;
    out.push_back(v);
  }
  return true;
}

// ---- the run ---------------------------------------------------------------

inline Result run(const Options& o) {
  Result res;
  QuorProcess q(o.quor);
  const u16 modbus_port = free_port();
  if (!write_program(q.dir(), modbus_port, o, &res.error)) {
    res.error = "cannot build the program: " + res.error;
    return res;
  }
  if (!q.start()) {
    res.error = "the controller did not start";
    return res;
  }
  const pid_t pid = q.pid();
  // Settle: history files built, first records written, the loops going.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  res.fds_start = count_fds(pid);
  res.rss_start_kib = rss_kib(pid);
  const std::vector<std::string> counters = {"!passes", "!late", "!System[16]", "!records"};
  std::vector<float> before, after;
  if (!read_cells(q.port(), counters, before)) {
    res.error = "cannot read the program's counters";
    return res;
  }
  auto t0 = Clock::now();

  std::atomic<bool> stop{false};
  std::vector<Kind> hmi(size_t(o.hmi_clients)), mb(size_t(o.modbus_clients));
  std::vector<std::thread> ts;
  for (int k = 0; k < o.hmi_clients; ++k) ts.emplace_back([&, k] { hmi_client(q.port(), k, o, stop, hmi[size_t(k)]); });
  for (int k = 0; k < o.modbus_clients; ++k)
    ts.emplace_back([&, k] { modbus_client(modbus_port, k, o, stop, mb[size_t(k)]); });
  std::this_thread::sleep_for(std::chrono::duration<double>(o.seconds));
  stop = true;
  for (auto& t : ts) t.join();

  bool counted = read_cells(q.port(), counters, after);
  res.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  if (counted) {
    res.passes = after[0] - before[0];
    res.expected_passes = res.seconds * 100.0;
    res.late = after[1] - before[1];
    res.overruns = after[2] - before[2];
    res.history_records = after[3] - before[3];
  }
  for (auto* group : {&hmi, &mb}) {
    Kind& sum = group == &hmi ? res.hmi : res.modbus;
    for (auto& k : *group) {
      sum.writes += k.writes;
      sum.lost += k.lost;
      sum.wrong += k.wrong;
      sum.latency.merge(k.latency);
      if (sum.first_problem.empty()) sum.first_problem = k.first_problem;
    }
  }
  // The clients have gone: their sockets close within a pass or two.
  for (int i = 0; i < 60; ++i) {
    res.fds_end = count_fds(pid);
    if (res.fds_end <= res.fds_start) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  res.rss_end_kib = rss_kib(pid);
  quorclient::Connection c;
  quorclient::Reply r;
  res.alive = kill(pid, 0) == 0 && c.connect("127.0.0.1", q.port()) && c.open_session() && c.command("status", r) &&
              r.first() == "Run";
  if (!counted) res.error = "cannot read the program's counters at the end";
  return res;
}

inline void print(const Result& r, FILE* out) {
  if (!r.error.empty()) std::fprintf(out, "soak: %s\n", r.error.c_str());
  std::fprintf(out, "soak run of %.1f s\n", r.seconds);
  std::fprintf(out, "%-8s %10s %6s %6s %9s %9s %10s  %s\n", "clients", "writes", "lost", "wrong", "p50 us", "p99 us",
               "max us", "first problem");
  for (auto [name, k] : {std::pair{"HMI", &r.hmi}, std::pair{"Modbus", &r.modbus}})
    std::fprintf(out, "%-8s %10lld %6lld %6lld %9.0f %9.0f %10.0f  %s\n", name, k->writes, k->lost, k->wrong,
                 k->latency.percentile(50), k->latency.percentile(99), k->latency.max(),
                 k->first_problem.empty() ? "-" : k->first_problem.c_str());
  std::fprintf(out,
               "10 ms loop: %.0f passes (%.0f due), %ld missed, %.0f late (started 25 ms or more after the last), "
               "%.0f overruns\n",
               r.passes, r.expected_passes, r.missed(), r.late, r.overruns);
  std::fprintf(out, "history: %.0f periodic records written\n", r.history_records);
  std::fprintf(out, "controller: descriptors %ld -> %ld, resident memory %ld -> %ld KiB, %s\n", r.fds_start, r.fds_end,
               r.rss_start_kib, r.rss_end_kib, r.alive ? "running" : "NOT RUNNING");
}

}  // namespace soak
