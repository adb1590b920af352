// Reading one line of the protocol: JSON with a cap on nesting, and the text of each message's
// "id" exactly as the client wrote it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace mcp {

using Json = nlohmann::json;

// Deeper lines are refused while they are read, before any value is built: copying and printing
// a value are recursive, and a client must not be able to choose how deep the server's stack
// goes. A request needs 4 levels (message, params, arguments, region), a batch one more.
inline constexpr size_t kMaxDepth = 64;

struct ReadMessage {
  enum class Outcome { kOk, kSyntaxError, kTooDeep };
  Outcome outcome = Outcome::kOk;
  Json value;
  // The "id" of the message as JSON text, for a batch one per element: numbers keep their
  // digits (an integer beyond 64 bits does not become a float), strings their characters. Empty
  // where the message has no "id", or one that is neither a number nor a string. When the line
  // is too deep, the ids read before the point where reading stopped.
  std::vector<std::string> ids;
};

ReadMessage readMessage(std::string_view line);

}  // namespace mcp
