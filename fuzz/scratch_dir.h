// A scratch working directory for the fuzz targets that write files (HMI
// file commands, uploads): made under /tmp at start-up, emptied before every
// input and removed when the process exits. The process works in it from
// the start; the fuzzer's own paths (corpus, seeds, artifacts) are made
// absolute first, so that crash inputs are written where the caller asked.
#pragma once
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzz_scratch {

// Controller seconds at the start of every input: the targets draw the
// login challenge from the clock (challenge_from_clock), so a recorded login
// answers it again.
inline constexpr unsigned kClock = 1000000;

inline std::string& dir() {
  static std::string d;
  return d;
}

inline void remove_dir() {
  std::error_code ec;
  if (!dir().empty()) std::filesystem::remove_all(dir(), ec);
}

// Rewrites relative paths among the fuzzer's arguments (corpus and seed
// directories, input files, path flags) into absolute ones.
inline void absolute_arguments(int* argc, char*** argv) {
  static std::vector<std::string> texts;
  static std::vector<char*> ptrs;
  std::string cwd = std::filesystem::current_path().string() + "/";
  auto absolute = [&](const std::string& p) { return !p.empty() && p[0] != '/' ? cwd + p : p; };
  static const char* const kPathFlags[] = {"-artifact_prefix=", "-exact_artifact_path=", "-dict=",
                                           "-features_dir=", "-merge_control_file=", "-seed_inputs="};
  texts.reserve(size_t(*argc));
  for (int i = 0; i < *argc; ++i) {
    std::string a = (*argv)[i];
    if (i > 0 && a[0] != '-') {
      a = absolute(a);
    } else {
      for (const char* f : kPathFlags) {
        size_t n = std::strlen(f);
        if (a.compare(0, n, f) == 0) a = f + absolute(a.substr(n));
      }
    }
    texts.push_back(a);
  }
  for (auto& t : texts) ptrs.push_back(t.data());
  ptrs.push_back(nullptr);
  *argv = ptrs.data();
}

// Directories of earlier runs whose process has gone (a crash ends the
// process without the exit handler): "PREFIX<pid>_XXXXXX".
inline void remove_orphans(const std::string& prefix) {
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator("/tmp", ec)) {
    std::string name = e.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    char* end = nullptr;
    long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    if (pid <= 0 || *end != '_') continue;
    if (kill(pid_t(pid), 0) != 0 && errno == ESRCH) std::filesystem::remove_all(e.path(), ec);
  }
}

// Makes the directory, moves into it and removes it again at exit.
inline void enter(int* argc, char*** argv, const char* prefix) {
  absolute_arguments(argc, argv);
  remove_orphans(prefix);
  std::string tmpl = std::string("/tmp/") + prefix + std::to_string(getpid()) + "_XXXXXX";
  if (!mkdtemp(tmpl.data()) || chdir(tmpl.c_str()) != 0) std::abort();
  dir() = tmpl;
  std::atexit(remove_dir);
}

inline void empty() {
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator(dir(), ec)) std::filesystem::remove_all(e.path(), ec);
}

}  // namespace fuzz_scratch
