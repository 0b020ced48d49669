// quorweb: operator screens of a controller in a browser, over one shared
// controller session. HTTP pages and Server-Sent Events on --listen.
#include <httplib.h>
#include <signal.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "tools/quorweb/assets.h"
#include "tools/quorweb/gateway.h"
#include "tools/quorweb/history.h"
#include "tools/quorweb/shared_reads.h"
#include "tools/quorweb/mqtt.h"
#include "tools/quorweb/panel.h"

using json = nlohmann::json;
using quorclient::Connection;
using quorclient::Reply;
using namespace quorweb;

namespace {

const char kHelp[] =
    "usage: quorweb [--controller HOST:PORT] [--listen ADDR:PORT] [--password TEXT] [--key N]\n"
    "               [--mqtt HOST:PORT] [--mqtt-prefix TEXT] [--publish NAME]... [--republish SECONDS]\n"
    "               [--help]\n"
    "Serves the controller's operator screens to browsers over one controller session\n"
    "(logged in with --password and --key, read-only without), and with --mqtt publishes\n"
    "the --publish variables and the program's alarms to a broker.\n"
    "  --controller  the controller's user port (default 127.0.0.1 and QUOR_PORT, else 80)\n"
    "  --listen      the web address (default 127.0.0.1:8081)\n"
    "  --mqtt        the broker; topics PREFIX/NAME, PREFIX/NAME/set, PREFIX/state and,\n"
    "                retained, PREFIX/alarm/ALARM (one per Alarm instruction)\n"
    "  --publish     a variable: !NAME, MODULE.NAME, or a NAME only one module has\n"
    "  --republish   every value is published again after SECONDS (default 10);\n"
    "                0 publishes on change only\n"
    "  --mqtt-prefix default quor/ and the site title (spaces as _), or quor/QUOR\n";

struct BadCommand : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One command; a broken exchange ends the session (the gateway reconnects).
Reply ask(Connection& c, const std::string& line) {
  Reply r;
  if (!c.command(line, r, 10000)) {
    c.close();
    throw BadCommand("lost");
  }
  return r;
}

bool split_host_port(const std::string& s, std::string* host, uint16_t* port) {
  auto colon = s.rfind(':');
  if (colon == std::string::npos) return false;
  char* end = nullptr;
  long p = std::strtol(s.c_str() + colon + 1, &end, 10);
  if (*end || p < 1 || p > 65535) return false;
  *host = s.substr(0, colon);
  *port = uint16_t(p);
  return !host->empty();
}

std::string html_escape(const std::string& s) {
  std::string o;
  for (char c : s) {
    switch (c) {
      case '<': o += "&lt;"; break;
      case '>': o += "&gt;"; break;
      case '&': o += "&amp;"; break;
      case '"': o += "&quot;"; break;
      case '\'': o += "&#39;"; break;
      default: o += c;
    }
  }
  return o;
}

std::string url_escape(const std::string& s) {
  std::string o;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') o += char(c);
    else {
      char b[4];
      std::snprintf(b, sizeof b, "%%%02X", c);
      o += b;
    }
  }
  return o;
}

long num(const std::string& s) { return std::strtol(s.c_str(), nullptr, 10); }

float bits_float(long v) {
  float f;
  uint32_t u = uint32_t(v);
  std::memcpy(&f, &u, 4);
  return f;
}

// Index of module NAME in program order, -1 when there is none.
int module_index(Gateway& g, const std::string& name) {
  for (int pass = 0; pass < 2; ++pass) {
    auto mods = g.modules();
    for (size_t k = 0; k < mods.size(); ++k)
      if (mods[k].name == name) return int(k);
    if (pass == 0 && !g.refresh_modules()) break;
  }
  return -1;
}

// The layout of module k's screen: each object's type, name, rows (editing
// view) and display description (run-time view).
json screen_layout(Connection& c, int k, bool* found) {
  json out;
  *found = false;
  if (ask(c, "shmiw||0|" + std::to_string(k)).fail()) return out;
  *found = true;
  auto f = split_bar(ask(c, "gfhmi").first());
  out["title"] = f[0] == "New Name" ? "" : f[0];
  out["settings"] = json::array();
  for (size_t i = 1; i < f.size(); ++i) out["settings"].push_back(num(f[i]));
  Reply names = ask(c, "hlist");
  Reply desc = ask(c, "rhmi||0");
  json objs = json::array();
  size_t n = names.fail() ? 0 : names.lines.size();
  for (size_t i = 0; i < n; ++i) {
    json o;
    auto h = split_bar(names.lines[i]);
    o["visible"] = names.lines[i] != "0|0|0|none";
    std::string tn = h.size() >= 4 ? h[3] : "";
    o["name"] = o["visible"] ? tn.substr(tn.find(' ') == std::string::npos ? tn.size() : tn.find(' ') + 1) : "";
    ask(c, "hpos||" + std::to_string(i + 1));
    o["type"] = num(ask(c, "num||1").first());
    json rows = json::array();
    for (const auto& line : ask(c, "gconfig||1|0").lines) {
      if (line == "fail") break;
      auto bar = line.rfind('|');
      if (bar == std::string::npos) continue;
      int type = int(num(line.substr(bar + 1)));
      std::string v = line.substr(0, bar);
      if (type & 0x100) rows.push_back(v);
      else rows.push_back(num(v));
    }
    o["rows"] = rows;
    if (i < desc.lines.size() && !desc.fail()) {
      auto d = split_bar(desc.lines[i]);
      if (d.size() >= 4) {
        o["dtype"] = num(d[1]);
        o["dindex"] = num(d[2]);
        o["text"] = d[3] == "none" ? "" : d[3];
        json arr = json::array();
        for (size_t j = 4; j < d.size(); ++j) arr.push_back(num(d[j]));
        o["arr"] = arr;
      }
    }
    objs.push_back(o);
  }
  out["objects"] = objs;
  return out;
}

// Display type of a Variable object's format, as the controller expects it
// in an operator write.
int display_type(long fmt) {
  static const int t[] = {0, 0, 0, 0, 0, 0, 0, 2, 3, 4, 5, 1, 6};
  return fmt >= 0 && fmt <= 12 ? t[fmt] : -1;
}

// An operator write to Variable object `obj` (0-based) of module k. The
// controller decides (target 3 never answers), so the value is read back.
json operator_write(Connection& c, int k, int obj, double value) {
  json res{{"ok", false}};
  if (!std::isfinite(value)) return res["error"] = "not a number", res;
  if (ask(c, "shmiw||0|" + std::to_string(k)).fail()) return res["error"] = "no such screen", res;
  if (num(ask(c, "hpos||" + std::to_string(obj + 1)).first()) != obj + 1)
    return res["error"] = "no such object", res;
  if (num(ask(c, "num||1").first()) != 2) return res["error"] = "not a variable field", res;
  Reply rows = ask(c, "gconfig||1|0");
  if (rows.fail() || rows.lines.size() < 11) return res["error"] = "object unreadable", res;
  long fmt = num(rows.lines[6]);
  float lo = bits_float(num(rows.lines[9])), hi = bits_float(num(rows.lines[10]));
  if (lo != hi && fmt <= 9 && (value < lo || value > hi)) {
    char b[96];
    std::snprintf(b, sizeof b, "refused: outside %g to %g", double(lo), double(hi));
    return res["error"] = b, res;
  }
  std::string wire;
  uint32_t expect = 0;
  if (fmt <= 6) {
    wire = quorclient::float_to_wire(float(value));
    expect = uint32_t(num(wire));
  } else if (fmt <= 12) {
    if (value < 0 || value > 4294967295.0) return res["error"] = "refused: out of range", res;
    expect = uint32_t(value);
    wire = std::to_string(expect);
  } else {
    return res["error"] = "unknown format", res;
  }
  c.send_line("sconfig||3|" + wire + "|" + std::to_string(display_type(fmt)) + "|0|0");
  Reply live = ask(c, "rhmi||1");
  if (live.fail() || size_t(obj) >= live.lines.size()) return res["error"] = "no reply", res;
  uint32_t got = uint32_t(num(split_bar(live.lines[obj])[0]));
  bool ok = fmt == 12 ? std::labs(long(got) - long(expect)) <= 5 : got == expect;
  if (fmt >= 7 && fmt <= 11 && !ok) ok = got == uint32_t(float(expect));  // float rounding of big integers
  if (!ok) return res["error"] = "refused by the controller", res;
  res["ok"] = true;
  return res;
}

// Only the page itself may write: another site's form or script cannot
// send a JSON body without a preflight, which is never answered.
bool from_own_page(const httplib::Request& req) {
  std::string origin = req.get_header_value("Origin");
  return req.get_header_value("Content-Type").rfind("application/json", 0) == 0 &&
         (origin.empty() || origin == "http://" + req.get_header_value("Host"));
}

// A write from anywhere but the gateway's own page: answered 403 here.
bool refused_foreign(const httplib::Request& req, httplib::Response& res) {
  if (from_own_page(req)) return false;
  res.status = 403;
  res.set_content(json{{"ok", false}, {"error", "refused: not from this page"}}.dump(), "application/json");
  return true;
}

std::string page(const std::string& title, const std::string& body) {
  return "<!doctype html><html><head><meta charset=\"utf-8\"><title>" + html_escape(title) +
         "</title><link rel=\"stylesheet\" href=\"/static/uPlot.css\"><link rel=\"stylesheet\" href=\"/static/style.css\">"
         "</head><body>" + body + "</body></html>";
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (const char* p = std::getenv("QUOR_PORT")) {
    long v = std::strtol(p, nullptr, 10);
    if (v > 0 && v < 65536) opt.port = uint16_t(v);
  }
  std::string listen_host = "127.0.0.1";
  uint16_t listen_port = 8081;
  MqttOptions mq;
  auto usage = [](const std::string& why) {
    std::fprintf(stderr, "quorweb: %s (see quorweb --help)\n", why.c_str());
    return 2;
  };
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "--controller") {
      if (!value(&v) || !split_host_port(v, &opt.host, &opt.port)) return usage("--controller HOST:PORT");
    } else if (a == "--listen") {
      if (!value(&v) || !split_host_port(v, &listen_host, &listen_port)) return usage("--listen ADDR:PORT");
    } else if (a == "--password") {
      if (!value(&opt.password)) return usage("--password TEXT");
      opt.has_password = true;
    } else if (a == "--key") {
      char* end = nullptr;
      if (!value(&v)) return usage("--key N");
      opt.key = uint32_t(std::strtoul(v.c_str(), &end, 0));
      if (*end) return usage("--key N");
    } else if (a == "--mqtt") {
      if (!value(&v) || !split_host_port(v, &mq.host, &mq.port)) return usage("--mqtt HOST:PORT");
      mq.enabled = true;
    } else if (a == "--mqtt-prefix") {
      if (!value(&mq.prefix)) return usage("--mqtt-prefix TEXT");
    } else if (a == "--republish") {
      char* end = nullptr;
      if (!value(&v)) return usage("--republish SECONDS");
      long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || n < 0 || n > 86400) return usage("--republish SECONDS (0 to 86400)");
      mq.period_s = int(n);
    } else if (a == "--publish") {
      if (!value(&v) || v.empty() || v.find('|') != std::string::npos) return usage("--publish NAME");
      mq.names.push_back(v);
    } else {
      return usage("unknown argument " + a);
    }
  }
  signal(SIGPIPE, SIG_IGN);
  // SIGINT and SIGTERM end the server from one waiting thread.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  Gateway g(opt);
  std::unique_ptr<Mqtt> mqtt;
  if (mq.enabled) {
    mqtt = std::make_unique<Mqtt>(mq, g);
    g.published = mq.names;
    Mqtt* m = mqtt.get();
    g.on_poll = [m](Connection& c, const std::map<std::string, float>& vals, bool up) { m->update(c, vals, up); };
  }
  g.start();
  if (mqtt) mqtt->start();

  SharedReads shared(g);
  httplib::Server svr;
  // Every viewer's event stream holds a worker; slow ones only hold their own.
  svr.new_task_queue = [] { return new httplib::ThreadPool(160); };
  svr.set_write_timeout(5, 0);
  svr.set_read_timeout(5, 0);

  svr.Get("/static/app.js", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kAppJs, "text/javascript");
  });
  svr.Get("/static/style.css", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kStyleCss, "text/css");
  });
  svr.Get("/static/uPlot.js", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kUplotJs, "text/javascript");
  });
  svr.Get("/static/uPlot.css", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kUplotCss, "text/css");
  });
  svr.Get("/static/uPlot.LICENSE", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kUplotLicense, "text/plain");
  });
  // Records for a Graph_bins/events object: ?kind=per|evt&file=0-3&interval=0-9&ids=N,N,...
  svr.Get("/api/history", [&](const httplib::Request& req, httplib::Response& res) {
    HistoryQuery q;
    auto number = [&](const char* name, long lo, long hi, int* out) {
      std::string v = req.get_param_value(name);
      char* end = nullptr;
      long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || n < lo || n > hi) return false;
      *out = int(n);
      return true;
    };
    std::string kind = req.get_param_value("kind"), ids = req.get_param_value("ids");
    bool ok = (kind == "per" || kind == "evt") && number("file", 0, 3, &q.file) && number("interval", 0, 9, &q.interval);
    q.event = kind == "evt";
    size_t k = 0;
    for (size_t at = 0; ok && at <= ids.size() && !ids.empty(); ++k) {
      size_t comma = std::min(ids.find(',', at), ids.size());
      char* end = nullptr;
      std::string one = ids.substr(at, comma - at);
      long n = std::strtol(one.c_str(), &end, 10);
      ok = k < q.ids.size() && !one.empty() && !*end && n >= 0 && n <= 1024;
      if (ok) q.ids[k] = int(n);
      at = comma + 1;
    }
    if (!ok) {
      res.status = 400;
      return;
    }
    std::string out = shared.get("history/" + q.key(), 2000, [&q](Connection& c) { return read_history(c, q); });
    if (out.empty()) {
      res.status = 503;
      return;
    }
    res.set_header("Cache-Control", "no-cache");
    res.set_content(out, "application/json");
  });
  svr.Get("/", [&](const httplib::Request&, httplib::Response& res) {
    std::string body = "<h1>Screens</h1>";
    if (!g.connected()) body += "<p class=\"offline\">controller not connected</p>";
    else g.refresh_modules();
    body += "<ul id=\"screens\">";
    for (const auto& m : g.modules())
      body += "<li><a href=\"/screen/" + url_escape(m.name) + "\">" + html_escape(m.name) + "</a>" +
              (m.title.empty() ? "" : " <span class=\"title\">" + html_escape(m.title) + "</span>") + "</li>";
    body += "</ul>";
    res.set_content(page("Screens", body), "text/html");
  });
  svr.Get(R"(/screen/([^/]+))", [&](const httplib::Request& req, httplib::Response& res) {
    std::string name = req.matches[1];
    std::string body = "<div id=\"bar\"><a href=\"/\">Screens</a> <span id=\"status\"></span></div>"
                       "<div id=\"screen\" data-module=\"" + html_escape(name) + "\"></div>"
                       "<script src=\"/static/uPlot.js\"></script><script src=\"/static/app.js\"></script>";
    res.set_content(page(name, body), "text/html");
  });
  svr.Get("/api/modules", [&](const httplib::Request&, httplib::Response& res) {
    json out = json::array();
    for (const auto& m : g.modules()) out.push_back({{"name", m.name}, {"title", m.title}});
    res.set_content(out.dump(), "application/json");
  });
  svr.Get(R"(/api/screen/([^/]+))", [&](const httplib::Request& req, httplib::Response& res) {
    int k = module_index(g, req.matches[1]);
    if (k < 0) {
      res.status = g.connected() ? 404 : 503;
      return;
    }
    json out;
    bool found = false;
    if (!g.run([&](Connection& c) { out = screen_layout(c, k, &found); }) || !found) {
      res.status = g.connected() ? 404 : 503;
      return;
    }
    out["module"] = req.matches[1];
    out["level"] = g.level();
    json mods = json::array();
    for (const auto& m : g.modules()) mods.push_back({{"name", m.name}, {"title", m.title}});
    out["modules"] = mods;
    res.set_content(out.dump(), "application/json");
  });
  svr.Post(R"(/api/write/([^/]+))", [&](const httplib::Request& req, httplib::Response& res) {
    if (refused_foreign(req, res)) return;
    json out{{"ok", false}};
    json in = json::parse(req.body, nullptr, false);
    int k = module_index(g, req.matches[1]);
    if (in.is_discarded() || !in.contains("object") || !in["object"].is_number_integer() ||
        !in.contains("value") || !in["value"].is_number() || k < 0) {
      res.status = 400;
      out["error"] = "bad request";
    } else if (!g.run([&](Connection& c) { out = operator_write(c, k, in["object"].get<int>(), in["value"].get<double>()); })) {
      out["error"] = "controller not connected";
    }
    res.set_content(out.dump(), "application/json");
  });
  // Instruction objects: the rows through the object, shared by every viewer.
  svr.Get(R"(/api/panel/([^/]+)/(\d{1,4}))", [&](const httplib::Request& req, httplib::Response& res) {
    std::string module = req.matches[1];
    int k = module_index(g, module), obj = std::atoi(req.matches[2].str().c_str());
    if (k < 0) {
      res.status = g.connected() ? 404 : 503;
      return;
    }
    std::string key = "panel/" + std::to_string(k) + "/" + std::to_string(obj);
    std::string out = shared.get(key, 1000, [&](Connection& c) { return read_panel(g, c, k, module, obj).dump(); });
    if (out.empty()) {
      res.status = 503;
      return;
    }
    res.set_header("Cache-Control", "no-cache");
    res.set_content(out, "application/json");
  });
  svr.Post(R"(/api/panel/([^/]+)/(\d{1,4}))", [&](const httplib::Request& req, httplib::Response& res) {
    if (refused_foreign(req, res)) return;
    json out{{"ok", false}};
    json in = json::parse(req.body, nullptr, false);
    int k = module_index(g, req.matches[1]), obj = std::atoi(req.matches[2].str().c_str());
    auto integer = [&](const char* n) { return in.contains(n) && in[n].is_number_integer(); };
    if (in.is_discarded() || !integer("group") || !integer("row") || !in.contains("value") || !in["value"].is_number() || k < 0) {
      res.status = 400;
      out["error"] = "bad request";
    } else if (!g.run([&](Connection& c) {
                 out = write_panel(c, k, obj, in["group"].get<int>(), in["row"].get<int>(), in["value"].get<double>());
               })) {
      out["error"] = "controller not connected";
    }
    shared.drop("panel/" + std::to_string(k) + "/" + std::to_string(obj));
    res.set_content(out.dump(), "application/json");
  });
  svr.Get(R"(/events/([^/]+))", [&](const httplib::Request& req, httplib::Response& res) {
    int k = module_index(g, req.matches[1]);
    if (k < 0) {
      res.status = 404;
      return;
    }
    g.watch(k, 1);
    auto seen = std::make_shared<uint64_t>(~uint64_t(0));
    res.set_header("Cache-Control", "no-cache");
    res.set_chunked_content_provider(
        "text/event-stream",
        [&g, k, seen](size_t, httplib::DataSink& sink) {
          std::string j = g.wait_live(k, seen.get(), 1000);
          std::string msg = j.empty() ? ": idle\n\n" : "data: " + j + "\n\n";
          return sink.write(msg.data(), msg.size());
        },
        [&g, k](bool) { g.watch(k, -1); });
  });

  // On a signal: end the controller session (no more polls), say "offline"
  // on the broker, and leave; open browser streams just break.
  std::thread([&g, &mqtt, set] {
    int sig = 0;
    sigwait(&set, &sig);
    g.stop();
    if (mqtt) mqtt->stop();
    std::_Exit(0);
  }).detach();
  std::fprintf(stderr, "quorweb: listening on %s:%u\n", listen_host.c_str(), unsigned(listen_port));
  bool ok = svr.listen(listen_host, listen_port);
  g.stop();
  if (mqtt) mqtt->stop();
  if (!ok) {
    std::fprintf(stderr, "quorweb: cannot listen on %s:%u\n", listen_host.c_str(), unsigned(listen_port));
    return 1;
  }
  return 0;
}
