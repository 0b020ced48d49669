#include "tools/quorweb/mqtt.h"

#include "tools/quorweb/gateway.h"

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quorweb {

namespace {
int64_t now_s() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
}  // namespace

std::string Mqtt::default_prefix(const std::string& site) {
  if (site.empty() || site == "no name") return "quor/QUOR";
  std::string p = "quor/";
  for (char c : site) p += c == ' ' ? '_' : (c == '+' || c == '#') ? '_' : c;
  return p;
}

bool Mqtt::parse_number(const std::string& text, float* v) {
  if (text.empty() || text.size() > 64) return false;
  char* end = nullptr;
  double d = std::strtod(text.c_str(), &end);
  while (end && (*end == ' ' || *end == '\n' || *end == '\r')) ++end;
  if (!end || *end || !std::isfinite(d) || std::fabs(d) > 3.4e38) return false;
  *v = float(d);
  return true;
}

void Mqtt::publish(const std::string& topic, const std::string& payload, bool retain) {
  mosquitto_publish(mosq_, nullptr, topic.c_str(), int(payload.size()), payload.data(), 1, retain);
}

void Mqtt::on_connect(mosquitto* m, void* self, int rc) {
  auto* me = static_cast<Mqtt*>(self);
  if (rc != 0) return;
  me->publish(me->opt_.prefix + "/state", me->was_up_ ? "online" : "offline", true);
  me->resend_ = true;  // a restarted broker has lost the retained alarms
  for (const auto& n : me->opt_.names) mosquitto_subscribe(m, nullptr, (me->opt_.prefix + "/" + n + "/set").c_str(), 1);
}

void Mqtt::on_message(mosquitto*, void* self, const mosquitto_message* msg) {
  auto* me = static_cast<Mqtt*>(self);
  std::string topic = msg->topic ? msg->topic : "";
  std::string head = me->opt_.prefix + "/";
  if (topic.rfind(head, 0) != 0 || topic.size() < head.size() + 4 || topic.compare(topic.size() - 4, 4, "/set"))
    return;
  std::string name = topic.substr(head.size(), topic.size() - head.size() - 4);
  // Only the named variables are writable.
  if (std::find(me->opt_.names.begin(), me->opt_.names.end(), name) == me->opt_.names.end()) return;
  float v;
  if (!parse_number(std::string(static_cast<const char*>(msg->payload), size_t(std::max(0, msg->payloadlen))), &v)) {
    std::fprintf(stderr, "quorweb: %s: not a number, ignored\n", topic.c_str());
    return;
  }
  std::lock_guard<std::mutex> l(me->m_);
  me->pending_.emplace_back(name, v);
}

bool Mqtt::connect_broker() {
  mosquitto_lib_init();
  mosq_ = mosquitto_new(nullptr, true, this);
  if (!mosq_) return false;
  mosquitto_connect_callback_set(mosq_, on_connect);
  mosquitto_message_callback_set(mosq_, on_message);
  std::string state = opt_.prefix + "/state";
  mosquitto_will_set(mosq_, state.c_str(), 7, "offline", 1, true);
  mosquitto_reconnect_delay_set(mosq_, 1, 16, true);  // back-off while the broker is away
  // connect_async leaves the first attempt to the broker's thread: nothing
  // here waits for the network.
  mosquitto_connect_async(mosq_, opt_.host.c_str(), opt_.port, 30);
  started_ = mosquitto_loop_start(mosq_) == MOSQ_ERR_SUCCESS;
  return started_;
}

void Mqtt::stop() {
  if (!mosq_) return;
  if (started_) {
    publish(opt_.prefix + "/state", "offline", true);
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
  }
  mosquitto_destroy(mosq_);
  mosq_ = nullptr;
  mosquitto_lib_cleanup();
}

void Mqtt::update(quorclient::Connection& c, const std::map<std::string, float>& vals, bool up) {
  if (!mosq_) {
    if (!up) return;  // the site title comes from the controller
    if (opt_.prefix.empty()) {
      quorclient::Reply r;
      if (!c.command("sname", r, 5000)) return;
      opt_.prefix = default_prefix(r.first());
    }
    while (!opt_.prefix.empty() && opt_.prefix.back() == '/') opt_.prefix.pop_back();
    was_up_ = true;
    if (!connect_broker()) std::fprintf(stderr, "quorweb: cannot start the MQTT client\n");
    return;
  }
  if (up != was_up_) {
    was_up_ = up;
    publish(opt_.prefix + "/state", up ? "online" : "offline", true);
    last_.clear();
  }
  if (!up) return;
  std::vector<std::pair<std::string, float>> writes;
  {
    std::lock_guard<std::mutex> l(m_);
    writes.swap(pending_);
  }
  for (const auto& [name, v] : writes)
    if (!g_.write_named(c, name, v)) std::fprintf(stderr, "quorweb: %s/set: refused by the controller\n", name.c_str());
  bool resend = resend_.exchange(false);
  for (const auto& [topic, payload] : alarms_.changed(g_, c))
    if (!resend || payload.empty()) publish(opt_.prefix + "/" + topic, payload, true);
  if (resend)
    for (const auto& [topic, payload] : alarms_.all()) publish(opt_.prefix + "/" + topic, payload, true);
  bool full = resend || (opt_.period_s > 0 && now_s() - last_full_ >= opt_.period_s);
  if (full) last_full_ = now_s();
  for (const auto& [name, v] : vals) {
    auto it = last_.find(name);
    if (!full && it != last_.end() && (it->second == v || (std::isnan(v) && std::isnan(it->second)))) continue;
    last_[name] = v;
    char b[64];
    if (std::isfinite(v)) std::snprintf(b, sizeof b, "{\"value\":%.9g}", double(v));
    else std::snprintf(b, sizeof b, "{\"value\":null}");
    publish(opt_.prefix + "/" + name, b, false);
  }
}

}  // namespace quorweb
