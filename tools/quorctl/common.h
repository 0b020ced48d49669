// quorctl: what every command shares: the command line, exit statuses,
// the session with its login and its diagnosis of refusals, and output.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "tools/client/client.h"

namespace quorctl {

using quorclient::Connection;
using quorclient::Reply;

// Exit statuses; --help documents them.
enum Exit : int {
  EXIT_OK = 0,
  EXIT_REFUSED = 1,  // the controller refused, or the result is not what was asked
  EXIT_USAGE = 2,    // bad command line or unreadable local file
  EXIT_CONNECT = 3,  // no connection, or the controller closed it
  EXIT_ACCESS = 4,   // login refused, level too low, or a programmer session holds the controller
};

// Thrown by any command; main prints "quorctl: why" and exits with code.
struct Failure {
  int code;
  std::string why;
};
[[noreturn]] void fail(int code, const std::string& why);
[[noreturn]] void usage(const std::string& why);

inline constexpr int kDefaultPort = 80;  // the controller's own default user port

struct Args {
  std::string host = "127.0.0.1";
  int port = kDefaultPort;
  bool has_password = false;
  std::string password;
  unsigned long key = 0;
  bool json = false;
  std::vector<std::string> cmd;
  std::string where() const { return host + ":" + std::to_string(port); }
};

// The level a command needs from its session.
enum class Need { none, login, programmer };

class Session {
 public:
  // Connects, opens the session and logs in as `need` asks (with
  // --password, any session logs in). Throws Failure on every refusal.
  Session(const Args& a, Need need);
  // One command and its reply block ("fail" included); throws when the
  // connection breaks, saying why.
  Reply ask(const std::string& line, int timeout_ms = 30000);
  // As ask, but "fail" throws with the reason the controller cannot give.
  Reply must(const std::string& line, const std::string& what = "");
  // Several commands sent in one write, so that no other client's command
  // runs between them (the program cursor is shared); one block each (an
  // empty one for "sconfig", which is never answered).
  std::vector<Reply> batch(const std::vector<std::string>& lines, int timeout_ms = 30000);
  // Connects again after the controller closed an idle session.
  void reopen();
  // "prog", "hmi" or "" (not logged in).
  const std::string& level() const { return level_; }
  Connection& conn() { return c_; }
  const Args& args() const { return a_; }
  // Why a keyword may have been refused at this session's level, or "".
  std::string access_reason(const std::string& keyword) const;
  // Throws the diagnosis of a broken connection.
  [[noreturn]] void lost();

 private:
  void open();
  const Args& a_;
  Need need_;
  Connection c_;
  std::string level_;
};

// Another connection's view: "prog", "hmi", "none", or "" when unreachable.
std::string who_is_logged_in(const Args& a);

// ---- the protocol's vocabulary ----------------------------------------------

struct Keyword {
  const char* name;
  const char* access;  // "any", "logged in", "level<=1", "level 1", "programmer", "by target" ...
  const char* form;    // how the fields are used
  const char* purpose;
};
const std::vector<Keyword>& keywords();
const Keyword* find_keyword(const std::string& name);

// ---- values and text ----------------------------------------------------------

std::string show(float v);                          // shortest decimal that reads back
std::string show_wire(const std::string& wire);     // a cell's bit pattern as a decimal
bool parse_float(const std::string& s, float* v);   // a whole decimal number
bool parse_long(const std::string& s, long* v);     // a whole integer
std::vector<std::string> split(const std::string& s, char sep);
std::string json_string(const std::string& s);
std::string csv(const std::string& s);
void print_lines(const Reply& r);

// ---- variables addressed by module -------------------------------------------------

// Finds where variables live and reads or writes them whatever the shared
// program cursor: the cursor is moved to the variable's module in the same
// write as the command that needs it.
class Program {
 public:
  explicit Program(Session& s) : s_(s) {}
  // The listing from the first module on; line i is absolute position i.
  const std::vector<std::string>& listing();
  // Position of module `name`; throws when there is none.
  long module_position(const std::string& name);
  std::vector<std::string> module_names();
  // The variable names visible in a module ("lvar" there).
  const std::vector<std::string>& variables_of(const std::string& module);
  // The module a NAME or Module.NAME lives in ("" for "!" names, which are
  // the same everywhere), and the name as the controller reads it.
  struct Var {
    std::string module, name;
  };
  Var resolve(const std::string& text);
  // The command `line` run with the cursor on the module (prefix "apos").
  Reply at(const std::string& module, const std::string& line);
  std::vector<Reply> at(const std::string& module, const std::vector<std::string>& lines);
  void forget();  // the program may have changed

 private:
  Session& s_;
  std::vector<std::string> listing_;
  std::map<std::string, std::vector<std::string>> vars_;
};

// Directory and name of the running executable (for quorc beside it).

}  // namespace quorctl
