#include "mcp/server.h"

#include <stdexcept>
#include <variant>

#include "common/numbers.h"

namespace mcp {

const char* const kProtocolVersions[4] = {"2024-11-05", "2025-03-26", "2025-06-18", "2025-11-25"};

namespace {

constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;
constexpr int kInternalError = -32603;

// A failure that becomes the answer's "error" member.
struct ProtocolError : std::runtime_error {
  ProtocolError(int code, const std::string& message) : std::runtime_error(message), code(code) {}
  int code;
};

std::string dump(const Json& message) {
  // Text from a child that is not valid UTF-8 is replaced rather than breaking the line.
  return message.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string errorMessage(const Json& id, int code, const std::string& message) {
  return dump({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
}

}  // namespace

Server::Server(std::string toolFolder, std::string version)
    : toolFolder_(std::move(toolFolder)), version_(std::move(version)) {}

std::optional<std::string> Server::handleLine(std::string_view line) {
  if (line.find_first_not_of(" \t\r\n") == std::string_view::npos) return std::nullopt;
  const Json message = Json::parse(line, nullptr, false);
  if (message.is_discarded()) return errorMessage(nullptr, kParseError, "Parse error");
  if (!message.is_object()) {
    return errorMessage(nullptr, kInvalidRequest, "Invalid Request: expected one JSON object");
  }
  const bool hasId = message.contains("id");
  if (!message.contains("method")) {
    // A response to a request of ours (we send none) needs no answer.
    if (message.contains("result") || message.contains("error")) return std::nullopt;
    return errorMessage(hasId ? message["id"] : nullptr, kInvalidRequest,
                        "Invalid Request: no method");
  }
  if (!hasId) return std::nullopt;  // a notification: nothing to answer
  const Json& id = message["id"];
  if (!id.is_string() && !id.is_number()) {
    return errorMessage(nullptr, kInvalidRequest, "Invalid Request: id must be a string or number");
  }
  if (message.value("jsonrpc", "") != "2.0" || !message["method"].is_string()) {
    return errorMessage(id, kInvalidRequest, "Invalid Request: needs jsonrpc \"2.0\" and a method");
  }
  const Json params = message.contains("params") ? message["params"] : Json::object();
  try {
    if (!params.is_object()) throw ProtocolError(kInvalidParams, "params must be an object");
    Json result = handle(message["method"].get<std::string>(), params);
    std::string raw;
    if (result.contains(kRawStructuredContent)) {
      raw = result[kRawStructuredContent].get<std::string>();
      result.erase(kRawStructuredContent);
    }
    std::string answer = dump({{"jsonrpc", "2.0"}, {"id", id}, {"result", result}});
    if (!raw.empty()) {
      // The answer ends with the result object's "}" and the message's "}".
      answer.insert(answer.size() - 2, ",\"structuredContent\":" + raw);
    }
    return answer;
  } catch (const ProtocolError& error) {
    return errorMessage(id, error.code, error.what());
  } catch (const std::exception& error) {
    return errorMessage(id, kInternalError, std::string("Internal error: ") + error.what());
  }
}

Json Server::handle(const std::string& method, const Json& params) {
  if (method == "initialize") {
    std::string version = kProtocolVersions[3];
    if (params.contains("protocolVersion") && params["protocolVersion"].is_string()) {
      for (const char* known : kProtocolVersions) {
        if (params["protocolVersion"] == known) version = known;
      }
    }
    return {{"protocolVersion", version},
            {"capabilities", {{"tools", Json::object()}}},
            {"serverInfo", {{"name", "mevrik-mcp"}, {"version", version_}}}};
  }
  if (method == "ping") return Json::object();
  if (method == "tools/list") {
    Json tools = Json::array();
    for (const Tool& tool : toolTable()) {
      tools.push_back({{"name", tool.name},
                       {"description", tool.description},
                       {"inputSchema", tool.inputSchema},
                       {"annotations", tool.annotations}});
    }
    return {{"tools", tools}};
  }
  if (method == "tools/call") return callTool(params);
  throw ProtocolError(kMethodNotFound, "Method not found: " + method);
}

Json Server::callTool(const Json& params) {
  if (!params.contains("name") || !params["name"].is_string()) {
    throw ProtocolError(kInvalidParams, "tools/call needs a tool name");
  }
  const std::string name = params["name"];
  const Tool* tool = nullptr;
  for (const Tool& candidate : toolTable()) {
    if (candidate.name == name) tool = &candidate;
  }
  if (!tool) throw ProtocolError(kInvalidParams, "Unknown tool: " + name);
  Json arguments = params.contains("arguments") ? params["arguments"] : Json::object();
  if (arguments.is_null()) arguments = Json::object();
  if (!arguments.is_object()) throw ProtocolError(kInvalidParams, "arguments must be an object");

  std::optional<ArgumentError> error = checkArguments(*tool, arguments);
  if (!error) {
    auto invocation = tool->invocation(arguments);
    if (auto* call = std::get_if<Invocation>(&invocation)) {
      const std::string program = toolFolder_ + "/" + tool->program;
      const ChildResult child = runChild(program, call->args, call->timeoutSeconds);
      if (!child.started) {
        return textResult("cannot run " + program + ": " + child.startError +
                              "\nWhat to do: reinstall Mevrik; its tools belong beside mevrik-mcp.",
                          true);
      }
      if (child.timedOut) {
        return textResult(tool->program + " did not finish within " +
                              mevrik::formatShortest(call->timeoutSeconds) +
                              " s and was stopped; the desktop may be busy, try again.",
                          true);
      }
      return tool->result(child);
    }
    error = std::get<ArgumentError>(invocation);
  }
  if (error->protocol) throw ProtocolError(kInvalidParams, name + ": " + error->message);
  return textResult(name + ": " + error->message + "; nothing was run.", true);
}

}  // namespace mcp
