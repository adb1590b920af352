// Checking a tool call's arguments against the tool's input schema, the subset of JSON Schema
// the tool table uses: "type" (number, integer, boolean, string, array of strings, object),
// "properties", "required", "additionalProperties": false, "enum", "minimum", "maximum",
// "exclusiveMinimum", "maxLength" (in characters), "pattern" (an ECMAScript expression that
// the whole string must match, anchored with ^ and $), "minItems" and "maxItems".
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace mcp {

using Json = nlohmann::json;

// Arguments the tool cannot take: `protocol` for a wrong type, a missing argument, a number out
// of range or a string the tool cannot be given (the call fails with "invalid params"),
// otherwise a tool error the agent can read and correct.
struct ArgumentError {
  bool protocol = false;
  std::string message;
};

// Every message names the argument ("region.width must be a number"). `toolName` completes the
// message for an unknown argument.
std::optional<ArgumentError> checkArguments(const Json& schema, const Json& arguments,
                                            const std::string& toolName);

// The number of Unicode characters in valid UTF-8 text.
size_t characterCount(const std::string& text);

}  // namespace mcp
