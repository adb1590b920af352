// The tools the server offers. Each tool is one entry of the table in tools.cc: its name, the
// program it runs, its description, input schema and annotations, how its arguments become the
// child's command line, and how the child's outcome becomes the call's result.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <variant>
#include <vector>

#include "mcp/child.h"
#include "mcp/schema.h"

namespace mcp {

using Json = nlohmann::json;

// A command line for the tool's program and how long it may run: past `budgetSeconds` it is
// asked to stop (SIGTERM), and killed after a grace.
struct Invocation {
  std::vector<std::string> args;
  double budgetSeconds = 5;
  std::string file;  // a file of the server's own that the tool writes; removed after the call
};

// Gives the path of a new file in the server's scratch folder whose name ends with `ending`
// (".png"), or "" when there is no folder.
using NewFile = std::function<std::string(const std::string& ending)>;

struct Tool {
  std::string name;
  std::string program;  // file name beside the server
  std::string description;
  Json inputSchema;
  Json annotations;
  // Called with arguments already checked against inputSchema (checkArguments).
  std::function<std::variant<Invocation, ArgumentError>(const Json& arguments,
                                                        const NewFile& newFile)>
      invocation;
  // Called when the child started and ended within its budget.
  std::function<Json(const ChildResult& child, const Invocation& call)> result;
};

const std::vector<Tool>& toolTable();

// A result member that the server replaces with "structuredContent" holding this text as JSON
// unchanged (a JSON object the tool printed), so that a large document is not rebuilt.
inline constexpr char kRawStructuredContent[] = "rawStructuredContent";

// A tool result that carries one text and, when given, structured content.
Json textResult(const std::string& text, bool isError, const Json& structured = nullptr);

// The limits the table sets, for the server's tests and documentation.
inline constexpr size_t kMaxTextCharacters = 16384;
inline constexpr size_t kMaxChords = 1000;
inline constexpr size_t kMaxChordCharacters = 64;

}  // namespace mcp
