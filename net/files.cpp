#include "net/files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "hmi/session.h"

bool client_name_ok(std::string_view name) {
  if (name.empty() || name.front() == '/') return false;
  for (unsigned char c : name)
    if (c < 32 || c == 127) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

void flen(const char* name, unsigned long long* size, u32* mtime) {
  struct stat st{};
  if (!name || lstat(name, &st) != 0) {
    *size = 0;
    *mtime = 0;
    return;
  }
  *size = static_cast<unsigned long long>(st.st_size);
  *mtime = u32(st.st_mtime);
}

int del_file(const char* name) {
  if (!name || !client_name_ok(name)) return 0;
  return unlink(name) == 0 ? -1 : 0;
}

int ren_file(const char* from, const char* to) {
  if (!from || !to || !client_name_ok(from) || !client_name_ok(to)) return 0;
  return std::rename(from, to) == 0 ? -1 : 0;
}

int get_dir(int slot) {
  DIR* d = opendir(".");
  if (!d) return 0;
  while (dirent* e = readdir(d)) send_HMI_response(slot, e->d_name);
  closedir(d);
  send_HMI_term(slot);
  return -1;
}
