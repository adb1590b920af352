#include "mcp/server.h"

#include <unistd.h>

#include <cerrno>
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

std::string dump(const Json& value) {
  // Text from a child that is not valid UTF-8 is replaced rather than breaking the line.
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// An answer with the id as the client wrote it (`idText` is JSON text: "null", 7, "a").
std::string answer(const std::string& idText, const char* member, const std::string& body) {
  return "{\"jsonrpc\":\"2.0\",\"id\":" + idText + ",\"" + member + "\":" + body + "}";
}

std::string errorMessage(const std::string& idText, int code, const std::string& message) {
  return answer(idText, "error", dump({{"code", code}, {"message", message}}));
}

// Removes a file of the server's own when a call is over, however it ended.
struct RemoveWhenDone {
  std::string path;
  ~RemoveWhenDone() {
    if (!path.empty()) ::unlink(path.c_str());
  }
};

}  // namespace

Server::Server(std::string toolFolder, std::string version, Runner& runner)
    : toolFolder_(std::move(toolFolder)), version_(std::move(version)), runner_(runner) {}

std::optional<std::string> Server::handleLine(std::string_view line) {
  // Nothing a client sends may end the server: whatever escapes below is an internal error.
  try {
    if (line.find_first_not_of(" \t\r\n") == std::string_view::npos) return std::nullopt;
    const ReadMessage read = readMessage(line);
    const bool batch = read.value.is_array();
    if (read.outcome == ReadMessage::Outcome::kSyntaxError) {
      return errorMessage("null", kParseError, "Parse error");
    }
    if (read.outcome == ReadMessage::Outcome::kTooDeep) {
      const bool knownId = !batch && read.ids.size() == 1 && !read.ids[0].empty();
      return errorMessage(
          knownId ? read.ids[0] : "null", kInvalidRequest,
          "Invalid Request: JSON nested deeper than " + std::to_string(kMaxDepth) + " levels");
    }
    if (!batch) return handleMessage(read.value, read.ids.empty() ? "" : read.ids[0], false);

    if (negotiated_ != kBatchVersion) {
      return errorMessage(
          "null", kInvalidRequest,
          "Invalid Request: batches are not part of protocol version " +
              (negotiated_.empty() ? std::string("(none negotiated yet)") : negotiated_) +
              "; send one message per line");
    }
    if (read.value.empty() || read.value.size() > kMaxBatch) {
      return errorMessage(
          "null", kInvalidRequest,
          "Invalid Request: a batch holds 1 to " + std::to_string(kMaxBatch) + " messages");
    }
    std::string answers;
    for (size_t k = 0; k < read.value.size(); ++k) {
      if (auto one = handleMessage(read.value[k], read.ids[k], true)) {
        answers += (answers.empty() ? "[" : ",") + *one;
      }
    }
    if (answers.empty()) return std::nullopt;  // notifications and responses only
    return answers + "]";
  } catch (...) {
    return errorMessage("null", kInternalError, "Internal error");
  }
}

std::optional<std::string> Server::handleMessage(const Json& message, const std::string& idText,
                                                 bool inBatch) {
  const std::string id = idText.empty() ? "null" : idText;
  try {
    if (!message.is_object()) {
      return errorMessage("null", kInvalidRequest, "Invalid Request: expected a JSON object");
    }
    if (!message.contains("method")) {
      // A response to a request of ours (we send none) needs no answer.
      if (message.contains("result") || message.contains("error")) return std::nullopt;
      return errorMessage(id, kInvalidRequest, "Invalid Request: no method");
    }
    if (!message.contains("id")) return std::nullopt;  // a notification: nothing to answer
    if (idText.empty()) {
      return errorMessage("null", kInvalidRequest,
                          "Invalid Request: id must be a string or number");
    }
    const auto jsonrpc = message.find("jsonrpc");
    const Json& method = message["method"];
    if (jsonrpc == message.end() || !jsonrpc->is_string() || *jsonrpc != "2.0" ||
        !method.is_string()) {
      return errorMessage(id, kInvalidRequest,
                          "Invalid Request: needs jsonrpc \"2.0\" and a method name");
    }
    if (inBatch && method == "initialize") {
      return errorMessage(id, kInvalidRequest, "Invalid Request: initialize cannot be batched");
    }
    const Json& params = message.contains("params") ? message["params"] : Json::object();
    if (!params.is_object()) throw ProtocolError(kInvalidParams, "params must be an object");
    Json result = handle(method.get<std::string>(), params);
    std::string raw;
    if (result.contains(kRawStructuredContent)) {
      raw = result[kRawStructuredContent].get<std::string>();
      result.erase(kRawStructuredContent);
    }
    std::string body = dump(result);
    if (!raw.empty()) {
      // The result object ends with its "}".
      body.insert(body.size() - 1, ",\"structuredContent\":" + raw);
    }
    return answer(id, "result", body);
  } catch (const ProtocolError& error) {
    return errorMessage(id, error.code, error.what());
  } catch (const std::exception& error) {
    return errorMessage(id, kInternalError, std::string("Internal error: ") + error.what());
  } catch (...) {
    return errorMessage(id, kInternalError, "Internal error");
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
    negotiated_ = version;
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
  const Json noArguments = Json::object();
  const Json& arguments = params.contains("arguments") && !params["arguments"].is_null()
                              ? params["arguments"]
                              : noArguments;
  if (!arguments.is_object()) throw ProtocolError(kInvalidParams, "arguments must be an object");

  std::optional<ArgumentError> error = checkArguments(tool->inputSchema, arguments, name);
  if (!error) {
    const NewFile newFile = [this](const std::string& ending) -> std::string {
      const std::string& folder = scratch_.path();
      return folder.empty() ? "" : folder + "/" + std::to_string(++files_) + ending;
    };
    auto invocation = tool->invocation(arguments, newFile);
    if (auto* call = std::get_if<Invocation>(&invocation)) {
      const RemoveWhenDone cleanup{call->file};
      const std::string program = toolFolder_ + "/" + tool->program;
      const ChildResult child = runner_.run(program, call->args, call->budgetSeconds);
      if (!child.started) {
        const bool missing = child.startErrno == ENOENT || child.startErrno == EACCES ||
                             child.startErrno == ENOEXEC || child.startErrno == ENOTDIR;
        return textResult("cannot run " + program + ": " + child.startError +
                              (missing ? "\nWhat to do: reinstall Mevrik; its tools belong "
                                         "beside mevrik-mcp."
                                       : ""),
                          true);
      }
      if (child.timedOut) {
        return textResult(
            tool->program + " did not finish within " +
                mevrik::formatShortest(call->budgetSeconds) + " s and was stopped" +
                (child.killed ? " (it was killed when it had not ended " +
                                    mevrik::formatShortest(kStopGraceSeconds) + " s after SIGTERM)"
                              : "") +
                "; the desktop may be busy, try again.",
            true);
      }
      return tool->result(child, *call);
    }
    error = std::get<ArgumentError>(invocation);
  }
  if (error->protocol) throw ProtocolError(kInvalidParams, name + ": " + error->message);
  return textResult(name + ": " + error->message + "; nothing was run.", true);
}

}  // namespace mcp
