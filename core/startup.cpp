#include "core/startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/config.h"
#include "core/engine.h"
#include "core/hooks.h"
#include "core/module.h"
#include "core/registry.h"
#include "platform/platform.h"
#include "program/program_new.h"

namespace {

const char kUsage[] =
    "usage: quor [--dir DIR] [--port N] [--serial L=PATH]... [--board] [--realtime]\n"
    "  --dir DIR        working directory (default /home/quor/, created if missing)\n"
    "  --port N         listen for clients on TCP port N instead of the configured one\n"
    "  --serial L=PATH  serial line L (1..4) opens PATH instead of /dev/ttyS(L-1)\n"
    "  --board          drive the real board hardware (default: host mode, simulated)\n"
    "  --realtime       run the scan at real-time priority (always so with --board)\n"
    "  --help           show this text\n";

int usage_error(const char* what, const char* arg) {
  std::fprintf(stderr, "quor: %s%s%s (see quor --help)\n", what, arg ? ": " : "", arg ? arg : "");
  return EXIT_USAGE;
}

bool parse_uint(const char* s, unsigned long max, unsigned long& out) {
  if (!s || !*s) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(s, &end, 10);
  if (errno || *end || v > max || s[0] == '-' || s[0] == '+') return false;
  out = v;
  return true;
}

// Creates a directory and its missing parents.
bool make_dirs(const std::string& path) {
  std::string cur;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!cur.empty() && mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    if (i < path.size()) cur += path[i];
  }
  return true;
}

std::unique_ptr<Platform> platform_owner;

// The signal that asked the process to end (TERM, INT, HUP), or 0. The
// handler may run on either thread: a lock-free atomic is safe there.
std::atomic<int> stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);
extern "C" void on_stop_signal(int sig) { stop_signal.store(sig, std::memory_order_relaxed); }

void catch_stop_signals() {
  struct sigaction sa {};
  sa.sa_handler = on_stop_signal;  // no SA_RESTART: the client poll returns at once
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}

// What start-up loaded, for the start-up line.
std::string program_text(bool loaded) {
  bool stored = access("quor.qrn", F_OK) == 0;
  if (loaded && current_prog == "quor.qrn.bkup") return "program quor.qrn.bkup (quor.qrn could not be loaded)";
  if (loaded) return "program " + current_prog;
  return stored ? "quor.qrn could not be loaded: the empty default program"
                : "no stored program: the empty default program";
}

}  // namespace

int parse_options(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (!std::strcmp(a, "--help")) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!std::strcmp(a, "--board")) {
      o.board = true;
    } else if (!std::strcmp(a, "--realtime")) {
      o.realtime = true;
    } else if (!std::strcmp(a, "--dir")) {
      const char* v = value();
      if (!v || !*v) return usage_error("--dir needs a directory", nullptr);
      o.dir = v;
    } else if (!std::strcmp(a, "--port")) {
      const char* v = value();
      unsigned long p;
      if (!parse_uint(v, 65535, p) || p == 0) return usage_error("--port needs a port number 1..65535", v);
      o.port = int(p);
    } else if (!std::strcmp(a, "--serial")) {
      const char* v = value();
      if (!v || v[0] < '1' || v[0] > '4' || v[1] != '=' || !v[2])
        return usage_error("--serial needs L=PATH with L from 1 to 4", v);
      o.serial[v[0] - '1'] = v + 2;
    } else {
      return usage_error("unknown option", a);
    }
  }
  return -1;
}

void start_init() {
  wd_timer = 600;
  for (auto& l : loop_start) l = nullptr;
  current_prog.clear();
  current_loop = 0;
  current_loop_exec = 0;
  last_instruction = current_instruction = current_module = nullptr;
  block_start = nullptr;
  block_len = 0;
  run = 0;
  HMI_row = 0;
  break_execute = nullptr;
  if (startup_hooks.create_ports) startup_hooks.create_ports();
}

int set_path() {
  if (!make_dirs(options.dir)) return 0;
  return chdir(options.dir.c_str()) == 0 ? -1 : 0;
}

namespace {
// The message of a start-up failure; the exit status that goes with it.
int startup_failure(const char* what, const std::string& detail) {
  std::fprintf(stderr, "quor: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
  return EXIT_STARTUP;
}
}  // namespace

int quor_main(int argc, char** argv) {
  int rc = parse_options(argc, argv, options);
  if (rc >= 0) return rc;

  install_hooks();
  inst_build();
  if (startup_hooks.hmi_build) startup_hooks.hmi_build();
  start_init();
  gen_startup();
  platform_owner = options.board ? make_board_platform() : make_host_platform();
  plat = platform_owner.get();
  // Never run somewhere else: the program file, history files and uploads
  // would land in whatever directory the controller was started from.
  if (!set_path())
    return startup_failure("cannot use working directory", options.dir + ": " + std::strerror(errno));
  // The program file, history files and uploads are written here.
  if (access(".", W_OK | X_OK) != 0)
    return startup_failure("cannot use working directory", options.dir + ": " + std::strerror(errno));
  program_new(false);
  bool loaded = startup_hooks.program_load && startup_hooks.program_load();
  // init_ports says why on stderr itself.
  if (startup_hooks.init_ports && !startup_hooks.init_ports(options.port)) return EXIT_STARTUP;
  catch_stop_signals();
  exec_realtime = options.board || options.realtime;
  if (!start_exec_thread()) return startup_failure("cannot start the execution thread", "");
  start_run();
  {
    char cwd[4096];
    std::string where = getcwd(cwd, sizeof cwd) ? cwd : options.dir;
    std::string listen = startup_hooks.listen_address ? startup_hooks.listen_address() : "no user port";
    std::fprintf(stderr, "quor %s: working directory %s, listening on %s, %s, %s\n", QUOR_VERSION, where.c_str(),
                 listen.c_str(), program_text(loaded).c_str(), options.board ? "board hardware" : "host mode");
  }
  while (!stop_signal.load(std::memory_order_relaxed)) {
    if (startup_hooks.main_pass) {
      if (!startup_hooks.main_pass()) break;
    } else {
      // No client service yet: keep the software watchdog fed and follow
      // break points.
      wd_timer = 600;
      engine_apply_break();
      usleep(10000);
    }
  }
  stop_exec_thread();
  if (startup_hooks.shutdown) startup_hooks.shutdown();
  if (int sig = stop_signal.load(std::memory_order_relaxed))
    std::fprintf(stderr, "quor: stopped by signal %d (%s)\n", sig, strsignal(sig));
  else
    std::fprintf(stderr, "quor: stopped\n");
  return 0;
}
