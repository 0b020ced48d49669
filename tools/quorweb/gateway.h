// The gateway's one controller session: a thread that owns the connection,
// logs in, polls the live values of the screens someone is watching and runs
// the web side's requests (screen layouts, operator writes) between polls.
// Viewers never talk to the controller: they read the latest snapshot.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/client/client.h"

namespace quorweb {

struct Options {
  std::string host = "127.0.0.1";
  uint16_t port = 80;
  bool has_password = false;
  std::string password;
  uint32_t key = 0;
  int poll_ms = 200;
};

// Splits a reply line at "|".
std::vector<std::string> split_bar(const std::string& line);

// One command on the session thread's connection. A connection that does not
// answer in time is closed and the session's turn ends (std::runtime_error),
// so that the session thread reconnects.
quorclient::Reply must(quorclient::Connection& c, const std::string& line, int timeout_ms = 5000);

// One module's screen as the layout page needs it (JSON text).
struct Module {
  std::string name;   // module name from the listing
  std::string title;  // screen name, "" when it has none
};

class Gateway {
 public:
  explicit Gateway(Options o) : opt_(std::move(o)) {}
  ~Gateway() { stop(); }
  void start();
  void stop();

  // Main side, any thread. Runs job on the session thread between polls and
  // waits for it at most timeout_ms; false when the session is down or the
  // job did not run in time (the job is then dropped).
  bool run(std::function<void(quorclient::Connection&)> job, int timeout_ms = 5000);

  bool connected() const { return connected_.load(); }
  std::string level() const;  // "prog", "hmi" or "none" (not logged in)
  std::vector<Module> modules();  // as last listed (refreshed on demand)
  bool refresh_modules();

  // Session thread only. The program listing from its first module ("start",
  // "alist"); line i is the instruction at "apos||i".
  const std::vector<std::string>& listing(quorclient::Connection& c, bool fresh = false);
  // Puts the program cursor on module `module` (re-listing once when the
  // program changed); false when there is no such module.
  bool cursor_to_module(quorclient::Connection& c, const std::string& module);
  // A variable named as quorctl takes it: "!name" (system scope), "MODULE.NAME",
  // or a plain name that exactly one module has. The cursor is placed in its
  // module before each use, whatever other clients did with it. "rvar" / "svar".
  bool read_named(quorclient::Connection& c, const std::string& name, float* v);
  bool write_named(quorclient::Connection& c, const std::string& name, float v);

  // Live values of module k: a viewer registers interest while it watches;
  // wait_live returns the newest JSON once its version passes `seen`.
  void watch(int k, int delta);
  std::string wait_live(int k, uint64_t* seen, int timeout_ms);

  // Called by the session thread after every poll with the values of the
  // named variables (missing when unreadable); set before start().
  std::vector<std::string> published;
  std::function<void(quorclient::Connection&, const std::map<std::string, float>&, bool connected)> on_poll;

 private:
  void loop();
  bool open_session();
  void poll_once();
  void set_live(int k, std::string json);

  Options opt_;
  quorclient::Connection conn_;
  std::thread thread_;
  std::atomic<bool> quit_{false};
  std::atomic<bool> connected_{false};

  mutable std::mutex m_;
  std::condition_variable cv_;  // new jobs, new live values, connection changes
  std::string level_ = "none";
  std::vector<Module> modules_;
  // A job is queued, then running, then done (or dropped: never ran, or
  // the session broke under it).
  struct Job {
    std::function<void(quorclient::Connection&)> fn;
    enum State { Queued, Running, Done, Dropped } state = Queued;
  };
  std::shared_ptr<Job> running_;
  std::chrono::steady_clock::time_point session_start_, last_alive_;
  std::deque<std::shared_ptr<Job>> jobs_;
  std::map<int, int> watchers_;
  struct Live {
    uint64_t version = 0;
    std::string json;
  };
  std::map<int, Live> live_;
  uint64_t conn_version_ = 0;
  // Session thread only: the listing and the variables of each module.
  std::vector<std::string> listing_;
  std::chrono::steady_clock::time_point listed_at_;
  std::map<std::string, std::vector<std::string>> module_vars_;
  bool place_named(quorclient::Connection& c, const std::string& name, std::string* local);
};

}  // namespace quorweb
