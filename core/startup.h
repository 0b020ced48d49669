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
};
inline Options options;

// Parses argv into options. Returns -1 to go on, or the exit status (0 after
// --help, 2 after a usage error, reported on stderr).
int parse_options(int argc, char** argv, Options& out);

void start_init();
int set_path();
// The whole start-up sequence; returns when the process is to end.
int quor_main(int argc, char** argv);
