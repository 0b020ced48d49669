// quorctl: a command-line client of the controller's user port. The
// commands live in tools/quorctl/, one file per group; this table lists them
// and --help is printed from it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "tools/quorctl/commands.h"

using namespace quorctl;

namespace {

const Command kCommands[] = {
    {"users", cmd_users, "users", "who is logged in (prog, hmi or none), version, site title", "quorctl users"},
    {"status", cmd_status, "status", "Run or Stop", "quorctl status"},
    {"run", cmd_run_control, "run | stop | cont",
     "restart, stop, continue the program (programmer login; the program\n"
     "restarts when that session ends, so stop and step in shell)",
     "quorctl stop"},
    {"stop", cmd_run_control, nullptr, nullptr, nullptr},
    {"cont", cmd_run_control, nullptr, nullptr, nullptr},
    {"list", cmd_list, "list", "the whole program listing", "quorctl list"},
    {"screen", cmd_screen, "screen MODULE",
     "the module's screen: each object's position, type, name and live value",
     "quorctl screen Control"},
    {"get", cmd_get, "get NAME [COUNT]",
     "COUNT cells of a variable from NAME, as decimals. NAME is Module.name,\n"
     "a name only one module has, or a !system name; [i] picks a cell",
     "quorctl get Control.error"},
    {"set", cmd_set, "set NAME VALUE", "write one cell (a decimal number)", "quorctl set '!sp' 70"},
    {"watch", cmd_watch, "watch NAME... [--count N] [--interval S]",
     "values refreshed in place every S seconds (default 1); with --count,\n"
     "or into a pipe, one line a reading",
     "quorctl watch '!level' '!valve' Control.error --count 5"},
    {"params", cmd_params, "params TARGET",
     "parameter rows as LABEL = value. TARGET: MODULE, MODULE/N (its N-th\n"
     "instruction), MODULE/DESCRIPTION, MODULE/TYPE, or --page PAGE (a\n"
     "configuration page by number 0-10 or name)",
     "quorctl params Control/Pid"},
    {"set-param", cmd_set_param, "set-param TARGET LABEL VALUE",
     "write one row by its label (LABEL[G] in repeated group G): decimals,\n"
     "choices by their text, variables and texts by name; reads it back and\n"
     "says when the controller limited the value (programmer login)",
     "quorctl set-param Control/Pid Proportional 2.5"},
    {"history", cmd_history, "history per|evt FILE [--last N] [--from TIME]",
     "records of history file FILE (1-4) as CSV: slot, time (controller\n"
     "seconds), date, then the bins of a periodic file (empty: never\n"
     "written) or event,name,value,status; TIME is seconds or\n"
     "YYYY-MM-DD[THH:MM[:SS]]",
     "quorctl history per 1 --from 2026-12-07T08:00"},
    {"hstatus", cmd_hstatus, "hstatus per|evt FILE", "a history file's status, one name=value a line",
     "quorctl hstatus evt 2"},
    {"save", cmd_save, "save [FILE]", "save the program (default quor.qrn)", "quorctl save backup.qrn"},
    {"load", cmd_load, "load FILE", "load a program file of the working directory", "quorctl load backup.qrn"},
    {"push", cmd_push, "push FILE.qp [--as NAME.qrn] [--no-save]",
     "build program text (quorc's compiler, built into quorctl), upload it\n"
     "(as FILE.qrn), load it and save it as quor.qrn, the start-up program",
     "quorctl push plant.qp"},
    {"pull", cmd_pull, "pull [OUT.qp] [--file NAME.qrn | --live]",
     "download quor.qrn (or NAME, or with --live the program in memory) and\n"
     "turn it into program text as quorc dump does, to OUT or standard output",
     "quorctl pull plant.qp"},
    {"download", cmd_download, "download FILE [-o OUT]", "fetch a file of the working directory (-o -: stdout)",
     "quorctl download quor1.per -o hist.per"},
    {"upload", cmd_upload, "upload FILE [--as NAME]", "send a local file (under NAME), then read it back",
     "quorctl upload new.qrn --as plant.qrn"},
    {"files", cmd_file, "files | disk", "the working directory / free disk space in KiB", "quorctl files"},
    {"disk", cmd_file, nullptr, nullptr, nullptr},
    {"flen", cmd_file, "flen FILE", "size in bytes and modification time", "quorctl flen quor1.per"},
    {"fdel", cmd_file, "fdel FILE | fren FROM TO | fcopy FROM TO",
     "delete, rename, copy in the working directory (login at level 0\n"
     "or 1: the empty password by default)",
     "quorctl fcopy quor.qrn keep.qrn"},
    {"fren", cmd_file, nullptr, nullptr, nullptr},
    {"fcopy", cmd_file, nullptr, nullptr, nullptr},
    {"raw", cmd_raw, "raw 'LINE'",
     "any protocol line (KEYWORD|TEXT|N1|...); the reply as it comes. Logs in\n"
     "as the keyword needs; shell's help lists every keyword",
     "quorctl raw 'rvar|!System[3]|0'"},
    {"shell", cmd_shell, "shell",
     "interactive protocol lines; help lists the keywords; decimals are\n"
     "converted to and from the wire's bit patterns; a logged-in session is\n"
     "kept alive",
     "quorctl --password secret shell"},
};

void print_help() {
  std::printf(
      "usage: quorctl [--host H] [--port N] [--password P] [--key K] [--json] CMD [ARGS]\n"
      "Talks to a controller's user port: H (default 127.0.0.1), port N, else\n"
      "$QUOR_PORT, else %d, the controller's own default. With --password the\n"
      "session logs in first (K: the password entry's encryption key, default 0).\n"
      "Commands that need the programmer log in as one (the empty password by\n"
      "default), which ends every other session. --json prints users, status,\n"
      "get, watch, params, hstatus, flen, files, disk, list and push as JSON.\n"
      "\n"
      "commands:\n",
      kDefaultPort);
  for (const auto& c : kCommands) {
    if (!c.synopsis) continue;
    std::printf("  %s\n", c.synopsis);
    std::string help = c.help;
    for (const auto& l : split(help, '\n')) std::printf("      %s\n", l.c_str());
    std::printf("      e.g. %s\n", c.example);
  }
  std::printf(
      "\n"
      "exit status:\n"
      "  0  success\n"
      "  1  the controller refused (the message says why) or did not do what was asked\n"
      "  2  usage error, or a local file or tool that cannot be used\n"
      "  3  cannot connect, or the controller closed the connection\n"
      "  4  login refused, too low a level, or a programmer session holds the controller\n");
}

int parse_port(const char* v, const char* from) {
  long p = 0;
  if (!v || !parse_long(v, &p) || p < 1 || p > 65535)
    usage(std::string(from) + " needs a port number 1..65535" + (v ? std::string(": ") + v : ""));
  return int(p);
}

int run(int argc, char** argv) {
  Args a;
  if (const char* env = std::getenv("QUOR_PORT"); env && *env) a.port = parse_port(env, "QUOR_PORT");
  for (int i = 1; i < argc; ++i) {
    std::string s = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a.cmd.empty() && (s == "--help" || s == "-h")) {
      print_help();
      return 0;
    } else if (a.cmd.empty() && s == "--host") {
      const char* v = value();
      if (!v || !*v) usage("--host needs a host");
      a.host = v;
    } else if (a.cmd.empty() && s == "--port") {
      a.port = parse_port(value(), "--port");
    } else if (a.cmd.empty() && s == "--password") {
      const char* v = value();
      if (!v) usage("--password needs a password");
      a.password = v;
      a.has_password = true;
    } else if (a.cmd.empty() && s == "--key") {
      const char* v = value();
      long k;
      if (!v || !parse_long(v, &k) || k < 0 || k > 0xFFFFFFFFL) usage("--key needs a number");
      a.key = (unsigned long)k;
    } else if (s == "--json") {
      a.json = true;
    } else {
      a.cmd.push_back(s);
    }
  }
  if (a.cmd.empty()) usage("no command");
  for (const auto& c : kCommands)
    if (a.cmd[0] == c.name) return c.run(a, a.cmd);
  usage("unknown command " + a.cmd[0]);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const Failure& f) {
    std::fflush(stdout);
    std::fprintf(stderr, "quorctl: %s\n", f.why.c_str());
    return f.code;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "quorctl: %s\n", e.what());
    return EXIT_REFUSED;
  }
}
