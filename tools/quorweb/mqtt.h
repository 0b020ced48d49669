// Publishing named variables to an MQTT broker through libmosquitto, whose
// own network thread keeps the broker apart from the web side and from the
// controller session.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tools/client/client.h"
#include "tools/quorweb/alarms.h"

struct mosquitto;
struct mosquitto_message;

namespace quorweb {

struct MqttOptions {
  bool enabled = false;
  std::string host;
  uint16_t port = 1883;
  std::string prefix;  // "" until known: quor/ and the site title
  std::vector<std::string> names;
  int period_s = 10;  // every value is published again at this period; 0: on change only
};

class Gateway;

class Mqtt {
 public:
  Mqtt(MqttOptions o, Gateway& g) : opt_(std::move(o)), g_(g) {}
  ~Mqtt() { stop(); }
  void start() {}
  void stop();
  // Session thread, after each poll: publish what changed (and everything
  // once a period), the alarms retained when their state changes, and carry
  // out accepted "/set" writes on the session.
  void update(quorclient::Connection& c, const std::map<std::string, float>& vals, bool up);

  // The default prefix for a site title ("no name" and "" give QUOR).
  static std::string default_prefix(const std::string& site);
  // A "/set" payload: a plain number, nothing else.
  static bool parse_number(const std::string& text, float* v);

 private:
  bool connect_broker();
  static void on_connect(mosquitto*, void* self, int rc);
  static void on_message(mosquitto*, void* self, const mosquitto_message* m);
  void publish(const std::string& topic, const std::string& payload, bool retain);

  MqttOptions opt_;
  Gateway& g_;
  AlarmWatch alarms_;
  mosquitto* mosq_ = nullptr;
  bool started_ = false;
  std::map<std::string, float> last_;
  int64_t last_full_ = 0;
  std::atomic<bool> was_up_{false};
  std::atomic<bool> resend_{false};  // the broker (re)connected: everything again
  std::mutex m_;  // pending writes from the broker's thread
  std::vector<std::pair<std::string, float>> pending_;
};

}  // namespace quorweb
