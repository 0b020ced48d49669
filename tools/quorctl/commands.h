// quorctl's commands: one function each, listed in the table of
// tools/quorctl.cpp. W is the command line from the command word on.
#pragma once
#include <string>
#include <vector>

#include "tools/quorctl/common.h"

namespace quorctl {

using W = std::vector<std::string>;

struct Command {
  const char* name;
  int (*run)(const Args&, const W&);
  const char* synopsis;  // after "quorctl"
  const char* help;      // what it does; lines after the first indented by the help printer
  const char* example;   // one example command line
};

// session.cpp: sessions, run control, raw lines, the shell
int cmd_users(const Args&, const W&);
int cmd_status(const Args&, const W&);
int cmd_run_control(const Args&, const W&);  // run, stop, cont
int cmd_list(const Args&, const W&);
int cmd_raw(const Args&, const W&);
int cmd_shell(const Args&, const W&);
// vars.cpp: variables
int cmd_get(const Args&, const W&);
int cmd_set(const Args&, const W&);
int cmd_watch(const Args&, const W&);
// params.cpp: instruction and configuration page parameters
int cmd_params(const Args&, const W&);
int cmd_set_param(const Args&, const W&);
// files.cpp: program files and file transfer
int cmd_save(const Args&, const W&);
int cmd_load(const Args&, const W&);
int cmd_download(const Args&, const W&);
int cmd_upload(const Args&, const W&);
int cmd_file(const Args&, const W&);  // files, disk, flen, fdel, fren, fcopy
int cmd_push(const Args&, const W&);
int cmd_pull(const Args&, const W&);
// screen.cpp: operator screens
int cmd_screen(const Args&, const W&);
// history.cpp: history files
int cmd_history(const Args&, const W&);
int cmd_hstatus(const Args&, const W&);

}  // namespace quorctl
