// The program's Alarm instructions as a client sees them: each one's master
// cell and its block of alarm cells, read through the session, turned into
// one retained MQTT message per instruction.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "tools/client/client.h"

namespace quorweb {

class Gateway;

class AlarmWatch {
 public:
  // Session thread. Reads every Alarm instruction (listing the program
  // again when it changed) and returns the messages whose state changed
  // since the last call, as topic suffix ("alarm/NAME") and JSON payload;
  // an empty payload for an alarm that left the program.
  // Throws when the session breaks.
  std::vector<std::pair<std::string, std::string>> changed(Gateway& g, quorclient::Connection& c);
  // Every message as last read (for a broker that lost its retained ones).
  const std::map<std::string, std::string>& all() const { return last_; }

  // An alarm's state from its cells: "clear" when none stands, "active"
  // while the master is raised, "acknowledged" when an operator reset the
  // master and an alarm still stands.
  static const char* state(float master, const std::vector<float>& alarms);
  // Topic name of an alarm instruction: its description with "/", "+", "#"
  // and blanks as "_", or its number in program order when it has none.
  static std::string topic_name(const std::string& description, int number);

 private:
  struct Found {
    size_t line;  // in the program listing
    std::string listed, topic;
  };
  std::vector<Found> found_;
  bool listed_ = false;
  std::map<std::string, std::string> last_;   // topic -> payload
  std::map<std::string, std::string> shown_;  // topic -> payload without its time
};

}  // namespace quorweb
