#include "tools/quorweb/gateway.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace quorweb {

using quorclient::Connection;
using quorclient::Reply;
using Clock = std::chrono::steady_clock;

std::vector<std::string> split_bar(const std::string& line) {
  std::vector<std::string> f;
  size_t start = 0;
  for (size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1)
    f.push_back(line.substr(start, bar - start));
  f.push_back(line.substr(start));
  return f;
}

void Gateway::start() {
  quit_ = false;
  thread_ = std::thread([this] { loop(); });
}

void Gateway::stop() {
  quit_ = true;
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::string Gateway::level() const {
  std::lock_guard<std::mutex> l(m_);
  return level_;
}

std::vector<Module> Gateway::modules() {
  std::lock_guard<std::mutex> l(m_);
  return modules_;
}

bool Gateway::run(std::function<void(Connection&)> fn, int timeout_ms) {
  auto job = std::make_shared<Job>();
  job->fn = std::move(fn);
  std::unique_lock<std::mutex> l(m_);
  if (!connected_ || quit_) return false;
  jobs_.push_back(job);
  cv_.notify_all();
  auto over = [&] { return job->state == Job::Done || job->state == Job::Dropped; };
  cv_.wait_for(l, std::chrono::milliseconds(timeout_ms), [&] { return over() || quit_; });
  if (job->state == Job::Queued) job->state = Job::Dropped;
  // A running job uses the caller's variables: wait for its end (each of
  // its commands has a time limit).
  cv_.wait(l, over);
  return job->state == Job::Done;
}

namespace {
}  // namespace

Reply must(Connection& c, const std::string& line, int timeout_ms) {
  Reply r;
  if (!c.command(line, r, timeout_ms)) {
    c.close();
    throw std::runtime_error("lost");
  }
  return r;
}

const std::vector<std::string>& Gateway::listing(Connection& c, bool fresh) {
  if (fresh || listing_.empty() || Clock::now() - listed_at_ > std::chrono::seconds(60)) {
    listed_at_ = Clock::now();
    must(c, "start");
    Reply r = must(c, "alist", 30000);
    listing_ = r.fail() ? std::vector<std::string>{} : r.lines;
    module_vars_.clear();
  }
  return listing_;
}

bool Gateway::cursor_to_module(Connection& c, const std::string& module) {
  for (int pass = 0; pass < 2; ++pass) {
    // A module not found, or moved: list again, but not on every poll.
    if (pass == 1 && Clock::now() - listed_at_ < std::chrono::seconds(5)) break;
    const auto& l = listing(c, pass == 1);
    auto it = std::find(l.begin(), l.end(), "Module " + module);
    if (it == l.end()) continue;
    Reply r = must(c, "apos||" + std::to_string(it - l.begin()));
    if (!r.fail() && r.first() == "Module " + module) return true;
  }
  return false;
}

// Places the cursor for `name` and gives the name as its module sees it.
bool Gateway::place_named(Connection& c, const std::string& name, std::string* local) {
  if (name.empty()) return false;
  if (name[0] == '!') {  // the system scope is the same from everywhere
    *local = name;
    return true;
  }
  size_t bracket = name.find('[');
  size_t dot = name.rfind('.', bracket == std::string::npos ? std::string::npos : bracket);
  if (dot != std::string::npos) {
    *local = name.substr(dot + 1);
    return dot > 0 && !local->empty() && cursor_to_module(c, name.substr(0, dot));
  }
  // A plain name: the one module that has it.
  std::string base = name.substr(0, bracket), found;
  const std::vector<std::string> lines = listing(c);  // a copy: placing the cursor may list again
  for (const auto& line : lines) {
    if (line.rfind("Module ", 0) != 0 || line == "Module End") continue;
    std::string m = line.substr(7);
    auto vars = module_vars_.find(m);
    if (vars == module_vars_.end()) {
      if (!cursor_to_module(c, m)) continue;
      Reply r = must(c, "lvar");
      vars = module_vars_.emplace(m, r.fail() ? std::vector<std::string>{} : r.lines).first;
    }
    if (std::find(vars->second.begin(), vars->second.end(), base) == vars->second.end()) continue;
    if (!found.empty()) return false;  // in several modules: MODULE.NAME says which
    found = m;
  }
  *local = name;
  return !found.empty() && cursor_to_module(c, found);
}

bool Gateway::read_named(Connection& c, const std::string& name, float* v) {
  std::string local;
  if (!place_named(c, name, &local)) return false;
  Reply r = must(c, "rvar|" + local + "|0");
  return !r.fail() && quorclient::wire_to_float(r.first(), v);
}

bool Gateway::write_named(Connection& c, const std::string& name, float v) {
  std::string local;
  if (!place_named(c, name, &local)) return false;
  return !must(c, "svar|" + local + "|" + quorclient::float_to_wire(v)).fail();
}

// The modules in program order: their names from the listing ("Module X"
// lines), their screen names by stepping from the first module.
bool Gateway::refresh_modules() {
  return run([this](Connection& c) {
    Reply t;
    std::vector<Module> mods;
    for (const auto& l : listing(c, true))
      if (l.rfind("Module ", 0) == 0) mods.push_back({l.substr(7), ""});
    for (size_t k = 0; k < mods.size(); ++k) {
      if (!c.command("shmiw||0|" + std::to_string(k), t) || t.fail()) break;
      if (!c.command("gfhmi", t) || t.fail()) break;
      std::string title = split_bar(t.first())[0];
      mods[k].title = title == "New Name" ? "" : title;
    }
    std::lock_guard<std::mutex> l(m_);
    modules_ = std::move(mods);
  }, 30000);
}

void Gateway::watch(int k, int delta) {
  std::lock_guard<std::mutex> l(m_);
  if ((watchers_[k] += delta) <= 0) watchers_.erase(k);
}

std::string Gateway::wait_live(int k, uint64_t* seen, int timeout_ms) {
  std::unique_lock<std::mutex> l(m_);
  cv_.wait_for(l, std::chrono::milliseconds(timeout_ms),
               [&] { return quit_ || live_[k].version + conn_version_ != *seen; });
  *seen = live_[k].version + conn_version_;
  if (!connected_) return "{\"connected\":false}";
  return live_[k].json.empty() ? std::string() : live_[k].json;
}

void Gateway::set_live(int k, std::string json) {
  std::lock_guard<std::mutex> l(m_);
  auto& v = live_[k];
  if (v.json == json) return;  // unchanged: viewers are not woken
  v.json = std::move(json);
  ++v.version;
  cv_.notify_all();
}

bool Gateway::open_session() {
  conn_.close();
  if (!conn_.connect(opt_.host, opt_.port, 2000) || !conn_.open_session(2000)) return false;
  std::string lv = "none";
  if (opt_.has_password) {
    lv = conn_.login(opt_.password, opt_.key);
    if (lv == "fail") {
      std::fprintf(stderr, "quorweb: login refused\n");
      conn_.close();
      return false;
    }
  }
  session_start_ = last_alive_ = Clock::now();
  listing_.clear();  // the program may have changed while we were away
  std::lock_guard<std::mutex> l(m_);
  level_ = lv;
  return true;
}

// One poll: the live values of every watched screen ("rhmi||1"), then the
// named variables.
void Gateway::poll_once() {
  std::vector<int> ks;
  {
    std::lock_guard<std::mutex> l(m_);
    for (auto& [k, n] : watchers_) ks.push_back(k);
  }
  Reply r;
  for (int k : ks) {
    if (!conn_.command("shmiw||0|" + std::to_string(k), r, 5000)) throw std::runtime_error("lost");
    if (r.fail()) {
      set_live(k, "{\"connected\":true,\"missing\":true}");
      continue;
    }
    if (!conn_.command("rhmi||1", r, 5000)) throw std::runtime_error("lost");
    std::string json = "{\"connected\":true,\"values\":[";
    // Objects' lines, then "!System" cell 3, then the pending screen switch.
    size_t objs = r.fail() || r.lines.size() < 2 ? 0 : r.lines.size() - 2;
    for (size_t i = 0; i < objs; ++i) {
      json += i ? ",[" : "[";
      auto f = split_bar(r.lines[i]);
      for (size_t j = 0; j < f.size(); ++j) {
        char* end = nullptr;
        long long v = std::strtoll(f[j].c_str(), &end, 10);
        json += (j ? "," : "") + std::to_string(end && *end == 0 && !f[j].empty() ? v : 0);
      }
      json += "]";
    }
    json += "]";
    if (objs && r.lines.back() != "none") {
      auto f = split_bar(r.lines.back());
      std::string name;
      for (char ch : f[0])  // screen names are printable without "|"
        if (ch != '"' && ch != '\\') name += ch;
      json += ",\"select\":\"" + name + "\"";
    }
    json += "}";
    set_live(k, json);
  }
  if (on_poll) {
    std::map<std::string, float> vals;
    for (const auto& n : published) {
      float v;
      if (read_named(conn_, n, &v)) vals[n] = v;
    }
    if (on_poll) on_poll(conn_, vals, true);
  }
}

void Gateway::loop() {
  int backoff = 250;
  while (!quit_) {
    if (!connected_) {
      if (open_session()) {
        backoff = 250;
        std::lock_guard<std::mutex> l(m_);
        connected_ = true;
        ++conn_version_;
        cv_.notify_all();
      } else {
        if (on_poll) on_poll(conn_, {}, false);
        std::unique_lock<std::mutex> l(m_);
        cv_.wait_for(l, std::chrono::milliseconds(backoff), [&] { return quit_.load(); });
        backoff = std::min(backoff * 2, 4000);
        continue;
      }
    }
    try {
      auto next = Clock::now() + std::chrono::milliseconds(opt_.poll_ms);
      poll_once();
      // Jobs until the next poll is due.
      for (;;) {
        std::shared_ptr<Job> job;
        {
          std::unique_lock<std::mutex> l(m_);
          cv_.wait_until(l, next, [&] { return quit_ || !jobs_.empty(); });
          if (quit_ || jobs_.empty()) break;
          job = jobs_.front();
          jobs_.pop_front();
          if (job->state != Job::Queued) continue;
          job->state = Job::Running;
          running_ = job;
        }
        job->fn(conn_);
        if (!conn_.is_open()) throw std::runtime_error("lost");
        std::lock_guard<std::mutex> l(m_);
        job->state = Job::Done;
        running_.reset();
        cv_.notify_all();
      }
      // The controller ends every session 120 s after it opened unless a
      // logged-in client says "alive": a logged-in session says so, a
      // read-only one is opened afresh between two polls.
      if (level() != "none" && Clock::now() - last_alive_ > std::chrono::seconds(30)) {
        Reply r;
        if (!conn_.command("alive", r, 5000)) throw std::runtime_error("lost");
        last_alive_ = Clock::now();
      } else if (level() == "none" && Clock::now() - session_start_ > std::chrono::seconds(100)) {
        if (!open_session()) throw std::runtime_error("lost");
      }
    } catch (const std::exception&) {
      conn_.close();
      std::lock_guard<std::mutex> l(m_);
      connected_ = false;
      ++conn_version_;
      for (auto& j : jobs_) j->state = Job::Dropped;
      jobs_.clear();
      if (running_) running_->state = Job::Dropped;
      running_.reset();
      cv_.notify_all();
    }
  }
  conn_.close();
  std::lock_guard<std::mutex> l(m_);
  connected_ = false;
  for (auto& j : jobs_) j->state = Job::Dropped;
  jobs_.clear();
  cv_.notify_all();
}

}  // namespace quorweb
