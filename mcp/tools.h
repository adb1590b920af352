// The tools the server offers. Each tool is one entry of the table in tools.cc: its name, the
// program it runs, its description, input schema and annotations, how its arguments become the
// child's command line, and how the child's outcome becomes the call's result.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "mcp/child.h"

namespace mcp {

using Json = nlohmann::json;

// A command line for the tool's program and how long it may run.
struct Invocation {
  std::vector<std::string> args;
  double timeoutSeconds = 5;
};

// Arguments the tool cannot take: `protocol` for a wrong type or a missing argument (the call
// fails with "invalid params"), otherwise a tool error the agent can read and correct.
struct ArgumentError {
  bool protocol = false;
  std::string message;
};

struct Tool {
  std::string name;
  std::string program;  // file name beside the server
  std::string description;
  Json inputSchema;
  Json annotations;
  // Called with arguments already checked against inputSchema (types, required, enums, no
  // unknown names).
  std::function<std::variant<Invocation, ArgumentError>(const Json& arguments)> invocation;
  // Called when the child started and ended within its deadline.
  std::function<Json(const ChildResult& child)> result;
};

const std::vector<Tool>& toolTable();

// Checks `arguments` against the tool's schema: property types ("number", "integer"), required
// names, enumerations and unknown names.
std::optional<ArgumentError> checkArguments(const Tool& tool, const Json& arguments);

// A result member that the server replaces with "structuredContent" holding this text as JSON
// unchanged (a JSON object the tool printed), so that a large document is not rebuilt.
inline constexpr char kRawStructuredContent[] = "rawStructuredContent";

// A tool result that carries one text and, when given, structured content.
Json textResult(const std::string& text, bool isError, const Json& structured = nullptr);

}  // namespace mcp
