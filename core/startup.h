// Start-up: the command line, the initial state and the start-up sequence.
#pragma once
#include <string>

#include "core/types.h"

// What the command line chose.
struct Options {
  std::string dir = "/home/quor/";  // working directory
  int port = -1;                    // user port override; -1: configured port
  std::string serial[4] = {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"};
  bool board = false;  // real hardware instead of host mode
  bool realtime = false;  // the scan at real-time priority (always on the board)
};
inline Options options;

// The controller's version, as "users" and the start-up line give it.
inline constexpr const char* QUOR_VERSION = "0.946";

// Exit statuses of the controller process (0: --help, or an orderly end).
inline constexpr int EXIT_STARTUP = 1;  // start-up failed (message on stderr)
inline constexpr int EXIT_USAGE = 2;    // bad command line (message on stderr)

// Parses argv into options. Returns -1 to go on, or the exit status (0 after
// --help, EXIT_USAGE after a usage error, reported on stderr).
int parse_options(int argc, char** argv, Options& out);

void start_init();
// Makes options.dir (and its missing parents) and enters it: -1, or 0 with
// errno set when it cannot be made or entered.
int set_path();
// The whole start-up sequence; returns the process's exit status when it is
// to end. A working directory that cannot be used, a user port that cannot
// be opened or an execution thread that cannot start end it at once with
// EXIT_STARTUP and a one-line message on stderr. Once running it says so in
// one line on stderr (version, working directory, listening address, the
// program loaded) and ends with one more line and status 0 on TERM, INT or
// HUP.
int quor_main(int argc, char** argv);
