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

// Absolute, so that the work directory below does not change its meaning.
std::string absolute(const std::string& p) {
  if (p.empty() || p[0] == '/') return p;
  char buf[4096];
  return getcwd(buf, sizeof buf) ? std::string(buf) + "/" + p : p;
}

// The controller library works in a private directory of its own: whatever
// it records (host actions) lands there and goes with it.
struct WorkDir {
  std::string path;
  WorkDir() {
    char tmpl[] = "/tmp/quorc_work_XXXXXX";
    if (mkdtemp(tmpl)) path = tmpl;
    if (!path.empty() && chdir(path.c_str()) != 0) path.clear();
  }
  ~WorkDir() {
    if (path.empty()) return;
    std::remove((path + "/host-actions.log").c_str());
    if (chdir("/") == 0) rmdir(path.c_str());
  }
};

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
  std::string out_abs = absolute(out);
  WorkDir work;
  if (work.path.empty()) {
    std::fprintf(stderr, "quorc: cannot make a work directory in /tmp\n");
    return 1;
  }
  quorc::host_setup();

  if (cmd == "dump") {
    std::string text, err;
    if (!quorc::dump(data, &text, &err)) {
      std::fprintf(stderr, "quorc: %s: %s\n", in.c_str(), err.c_str());
      return 1;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }

  std::vector<quorc::Diag> errs;
  std::string bytes;
  if (!quorc::build(data, &bytes, &errs)) {
    for (const auto& d : errs) std::fprintf(stderr, "%s\n", quorc::format_diag(in, d).c_str());
    return 1;
  }
  std::ofstream f(out_abs, std::ios::binary | std::ios::trunc);
  if (!f.write(bytes.data(), std::streamsize(bytes.size())) || !f.flush()) {
    std::fprintf(stderr, "quorc: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
