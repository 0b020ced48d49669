// quorc build IN -o OUT   program text -> program file (errors on stderr)
// quorc dump IN           program file -> program text on stdout
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tools/quorc/host_work.h"
#include "tools/quorc/quorc.h"

namespace {

const char kUsage[] =
    "usage: quorc build IN.qp -o OUT.qrn   compile program text into a program file\n"
    "       quorc dump IN.qrn              write a program file as text on standard output\n"
    "exit status: 0 done, 1 errors in the input (reported on standard error), 2 usage\n";

int usage(const char* why) {
  if (why) std::fprintf(stderr, "quorc: %s\n", why);
  std::fputs(kUsage, stderr);
  return 2;
}

bool read_file(const std::string& path, std::string* out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::stringstream ss;
  ss << f.rdbuf();
  *out = ss.str();
  return !f.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage(nullptr);
  std::string cmd = argv[1];
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::string in, out;
  if (cmd == "build") {
    for (int i = 2; i < argc; ++i) {
      if (!std::strcmp(argv[i], "-o")) {
        if (++i >= argc) return usage("-o needs a file name");
        out = argv[i];
      } else if (in.empty()) {
        in = argv[i];
      } else {
        return usage("build takes one input file");
      }
    }
    if (in.empty() || out.empty()) return usage("build needs IN and -o OUT");
  } else if (cmd == "dump") {
    if (argc != 3) return usage("dump takes one program file");
    in = argv[2];
  } else {
    return usage(("unknown command: " + cmd).c_str());
  }

  std::string data;
  if (!read_file(in, &data)) {
    std::fprintf(stderr, "quorc: cannot read %s: %s\n", in.c_str(), std::strerror(errno));
    return 1;
  }
  std::string result, err;
  {
    quorc::HostWork work;
    if (!work.ok()) {
      std::fprintf(stderr, "quorc: cannot make a work directory in /tmp\n");
      return 1;
    }
    bool ok = cmd == "dump" ? quorc::dump(data, &result, &err) : quorc::build_reported(data, in, &result, &err);
    if (!ok) {
      if (cmd == "dump") err = "quorc: " + in + ": " + err + "\n";
      std::fputs(err.c_str(), stderr);
      return 1;
    }
  }
  if (cmd == "dump") {
    std::fwrite(result.data(), 1, result.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  const std::string& bytes = result;
  std::ofstream f(out, std::ios::binary | std::ios::trunc);
  if (!f.write(bytes.data(), std::streamsize(bytes.size())) || !f.flush()) {
    std::fprintf(stderr, "quorc: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
