// quorctl: program files, file transfer and the working directory; push and
// pull of program text through quorc.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/quorc/host_work.h"
#include "tools/quorc/quorc.h"
#include "tools/quorctl/commands.h"

namespace quorctl {

namespace {

bool leaves_directory(const std::string& name) {
  return name.empty() || name[0] == '/' || name.find("..") != std::string::npos;
}

void check_name(const std::string& name) {
  if (name.find_first_of("|~") != std::string::npos) usage("file names cannot hold | or ~: " + name);
  if (name.find_first_of("\r\n") != std::string::npos) usage("file names cannot hold line breaks");
}

// Why the controller refused a file command on `name`.
std::string file_reason(Session& s, const std::string& name) {
  if (leaves_directory(name))
    return "the controller refuses \"" + name + "\": file names must stay inside its working directory";
  Reply r = s.ask("flen|" + name);
  if (!r.fail() && r.first() == "0|0") return "no file \"" + name + "\" in the controller's working directory";
  return "";
}

[[noreturn]] void cannot_connect(const Args& a) {
  fail(EXIT_CONNECT, "cannot connect to " + a.where() + ": " + std::strerror(errno ? errno : ECONNREFUSED));
}

std::string read_local(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) usage("cannot read " + path + ": " + std::strerror(errno));
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void write_local(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(data.data(), std::streamsize(data.size()));
  f.close();
  if (!f) fail(EXIT_REFUSED, "cannot write " + path + ": " + std::strerror(errno));
}

void upload_checked(const Args& a, const std::string& name, const std::string& data) {
  check_name(name);
  Connection probe;
  if (!probe.connect(a.host, uint16_t(a.port))) cannot_connect(a);
  probe.close();
  if (!quorclient::upload(a.host, uint16_t(a.port), name, data))
    fail(EXIT_REFUSED, "upload of " + name + " not completed: the controller closed the connection");
  // The controller sends no reply to an upload and closes the connection
  // whether or not it stored the file: read it back to find out.
  std::string back;
  if (quorclient::download(a.host, uint16_t(a.port), name, &back) != 200 || back != data)
    fail(EXIT_REFUSED, leaves_directory(name) || name.find('/') != std::string::npos
                           ? "the controller refused the file name \"" + name +
                                 "\": files must stay inside its working directory"
                           : "the controller did not store " + name + " (disk full, or every client slot busy?)");
}

std::string download_checked(const Args& a, const std::string& name) {
  check_name(name);
  std::string body;
  int st = quorclient::download(a.host, uint16_t(a.port), name, &body);
  if (st < 0) cannot_connect(a);
  if (st != 200)
    fail(EXIT_REFUSED, name + ": not found in the controller's working directory" +
                           std::string(name.find(".qrn") != std::string::npos || name.find(".per") != std::string::npos ||
                                               name.find(".evt") != std::string::npos
                                           ? " (or every client slot is busy)"
                                           : ""));
  return body;
}

// Program text to program file bytes, by the compiler linked into quorctl;
// its messages go to standard error as "FILE:LINE:COL: ...".
std::string build_text(const std::string& src) {
  const std::string text = read_local(src);
  std::string bytes, report;
  quorc::HostWork work;
  if (!work.ok()) fail(EXIT_USAGE, "cannot make a work directory in /tmp for the compiler");
  if (!quorc::build_reported(text, src, &bytes, &report)) {
    std::fputs(report.c_str(), stderr);
    fail(EXIT_REFUSED, "quorc build failed (its messages are above)");
  }
  return bytes;
}

// Program file bytes to text, on standard output or into out_path.
void dump_program(const std::string& name, const std::string& bytes, const std::string& out_path) {
  std::string text, err;
  {
    quorc::HostWork work;
    if (!work.ok()) fail(EXIT_USAGE, "cannot make a work directory in /tmp for the compiler");
    if (!quorc::dump(bytes, &text, &err)) fail(EXIT_REFUSED, "quorc dump failed: " + name + ": " + err);
  }
  if (out_path.empty())
    std::fwrite(text.data(), 1, text.size(), stdout);
  else
    write_local(out_path, text);
}


}  // namespace

int cmd_save(const Args& a, const W& w) {
  if (w.size() > 2) usage("save [FILE]");
  std::string name = w.size() == 2 ? w[1] : "quor.qrn";
  check_name(name);
  Session s(a, Need::programmer);
  if (s.ask("save|" + name).fail()) {
    std::string why = leaves_directory(name) ? file_reason(s, name) : "";
    fail(EXIT_REFUSED, "save " + name + ": " + (why.empty() ? "the controller could not write the file" : why));
  }
  return 0;
}

int cmd_load(const Args& a, const W& w) {
  if (w.size() != 2) usage("load FILE");
  check_name(w[1]);
  Session s(a, Need::programmer);
  Reply r = s.ask("load|" + w[1]);
  if (r.fail()) {
    std::string why = file_reason(s, w[1]);
    fail(EXIT_REFUSED, "load " + w[1] + ": " + (why.empty() ? "not a program file the controller can read" : why));
  }
  print_lines(r);
  return 0;
}

namespace {

// The words FILE [FLAG NAME]: the file, and the name (the file's last path
// part when none is given).
std::pair<std::string, std::string> file_and_name(const W& w, const std::string& flag, const char* use) {
  std::string file, name;
  for (size_t i = 1; i < w.size(); ++i) {
    if (w[i] == flag && i + 1 < w.size())
      name = w[++i];
    else if (file.empty())
      file = w[i];
    else
      usage(use);
  }
  if (file.empty()) usage(use);
  if (name.empty()) name = file.substr(file.rfind('/') + 1);
  return {file, name};
}

}  // namespace

int cmd_download(const Args& a, const W& w) {
  const auto [file, out] = file_and_name(w, "-o", "download FILE [-o OUT]");
  std::string body = download_checked(a, file);
  if (out == "-")
    std::fwrite(body.data(), 1, body.size(), stdout);
  else
    write_local(out, body);
  return 0;
}

int cmd_upload(const Args& a, const W& w) {
  const auto [file, as] = file_and_name(w, "--as", "upload FILE [--as NAME]");
  upload_checked(a, as, read_local(file));
  return 0;
}

// One protocol line each; changes need a login at level 0 or 1.
int cmd_file(const Args& a, const W& w) {
  const std::string& c = w[0];
  std::string line;
  bool change = c == "fdel" || c == "fren" || c == "fcopy";
  if (c == "files" && w.size() == 1)
    line = "fdir";
  else if (c == "disk" && w.size() == 1)
    line = "gdisk";
  else if ((c == "flen" || c == "fdel") && w.size() == 2)
    line = c + "|" + w[1];
  else if ((c == "fren" || c == "fcopy") && w.size() == 3)
    line = c + "|" + w[1] + "~" + w[2];
  else
    usage(c == "files" || c == "disk" ? c + " takes no arguments" : "wrong arguments to " + c);
  for (size_t i = 1; i < w.size(); ++i) check_name(w[i]);
  Session s(a, change ? Need::login : Need::none);
  Reply r = s.ask(line, 600000);
  if (r.fail()) {
    std::string why = s.access_reason(line.substr(0, line.find('|')));
    if (why.empty() && w.size() > 1) why = file_reason(s, w[1]);
    if (why.empty() && c == "fcopy" && w[1] == w[2]) why = "a file cannot be copied onto itself";
    fail(EXIT_REFUSED, c + ": refused" + (why.empty() ? "" : ": " + why));
  }
  if (c == "flen") {
    auto f = split(r.first(), '|');
    std::string size = f[0], time = f.size() > 1 ? f[1] : "0";
    if (a.json)
      std::printf("{\"size\":%s,\"time\":%s}\n", size.c_str(), time.c_str());
    else
      std::printf("%s %s\n", size.c_str(), time.c_str());
    return 0;
  }
  if (a.json && (c == "files" || c == "disk")) {
    if (c == "disk") {
      std::printf("{\"free_kib\":%s}\n", r.first().c_str());
    } else {
      std::printf("[");
      for (size_t i = 0; i < r.lines.size(); ++i) std::printf("%s%s", i ? "," : "", json_string(r.lines[i]).c_str());
      std::printf("]\n");
    }
    return 0;
  }
  print_lines(r);
  return 0;
}

int cmd_push(const Args& a, const W& w) {
  std::string src, as;
  bool save = true;
  for (size_t i = 1; i < w.size(); ++i) {
    if (w[i] == "--as" && i + 1 < w.size())
      as = w[++i];
    else if (w[i] == "--no-save")
      save = false;
    else if (src.empty() && w[i].rfind("--", 0) != 0)
      src = w[i];
    else
      usage("push FILE.qp [--as NAME.qrn] [--no-save]");
  }
  if (src.empty()) usage("push FILE.qp [--as NAME.qrn] [--no-save]");
  if (access(src.c_str(), R_OK) != 0) usage("cannot read " + src + ": " + std::strerror(errno));
  if (as.empty()) {
    std::string base = src.substr(src.rfind('/') + 1);
    as = base.substr(0, base.rfind('.')) + ".qrn";
  }
  if (as == "quor.qrn") usage("--as quor.qrn: push saves the start-up program itself; pick another name");
  upload_checked(a, as, build_text(src));
  Session s(a, Need::programmer);
  if (s.ask("load|" + as).fail()) fail(EXIT_REFUSED, "the controller refused to load " + as + " (uploaded from " + src + ")");
  if (save && s.ask("save|quor.qrn").fail())
    fail(EXIT_REFUSED, "loaded " + as + ", but the controller could not save it as quor.qrn");
  Program p(s);
  size_t modules = 0, instructions = 0;
  for (const auto& l : p.listing()) (l.rfind("Module ", 0) == 0 ? modules : instructions) += 1;
  std::string status = s.must("status").first();
  if (a.json)
    std::printf("{\"file\":%s,\"uploaded\":%s,\"saved\":%s,\"modules\":%zu,\"instructions\":%zu,\"status\":%s}\n",
                json_string(src).c_str(), json_string(as).c_str(), save ? "true" : "false", modules, instructions,
                json_string(status).c_str());
  else
    std::printf("%s: built and uploaded as %s, loaded%s: %zu modules, %zu instructions; program %s\n", src.c_str(),
                as.c_str(), save ? ", saved as quor.qrn (the start-up program)" : "", modules, instructions,
                status == "Run" ? "running" : "stopped");
  return 0;
}

int cmd_pull(const Args& a, const W& w) {
  std::string out, name = "quor.qrn";
  bool live = false;
  for (size_t i = 1; i < w.size(); ++i) {
    if (w[i] == "--file" && i + 1 < w.size())
      name = w[++i];
    else if (w[i] == "--live")
      live = true;
    else if (out.empty() && w[i].rfind("--", 0) != 0)
      out = w[i];
    else
      usage("pull [OUT.qp] [--file NAME.qrn | --live]");
  }
  std::string body;
  if (live) {
    // The program in memory, through a scratch file of the controller.
    name = "quorctl-pull.qrn";
    Session s(a, Need::programmer);
    if (s.ask("save|" + name).fail()) fail(EXIT_REFUSED, "the controller could not save its program as " + name);
    body = download_checked(a, name);
    s.ask("fdel|" + name);
  } else {
    body = download_checked(a, name);
  }
  dump_program(name, body, out);
  return 0;
}

}  // namespace quorctl
