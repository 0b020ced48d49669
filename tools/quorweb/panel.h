// Instruction objects: the instruction's rows as the controller shows them
// to this session through the object (its view and write levels decide),
// with the live values of the variables they name.
#pragma once
#include <nlohmann/json.hpp>
#include <string>

#include "tools/client/client.h"

namespace quorweb {

class Gateway;

// Session thread. Object `obj` (0-based) of module k's screen, module
// `module`: {"labels":[...],"choices":[[...]...],"rows":[{"group","row",
// "type","value","live"?}...]} or {"error":...}. Throws when the session breaks.
nlohmann::json read_panel(Gateway& g, quorclient::Connection& c, int k, const std::string& module, int obj);

// Session thread. Writes one numeric row (types below 6) and reads it back:
// {"ok":true} or {"ok":false,"error":...}.
nlohmann::json write_panel(quorclient::Connection& c, int k, int obj, int group, int row, double value);

}  // namespace quorweb
