#include "mcp/fuzz_check.h"

#include <string_view>

#include "common/exit_status.h"
#include "mcp/server.h"

namespace mcp {
namespace {

// Answers each tool run with the next of a few outcomes (success, each documented failure, a
// tool that printed nonsense, one that could not start, one stopped at its budget).
class ScriptedRunner : public Runner {
 public:
  ChildResult run(const std::string& program, const std::vector<std::string>& args,
                  double budgetSeconds) override {
    // What a real child could not be given: an unbounded budget, or an argument cut at a NUL.
    if (!(budgetSeconds > 0 && budgetSeconds < 1e6))
      fault = "a budget of " + std::to_string(budgetSeconds);
    for (const std::string& arg : args) {
      if (arg.find('\0') != std::string::npos) fault = "an argument with a NUL";
    }
    ChildResult child;
    child.started = true;
    child.status = 0;
    switch (calls_++ % 6) {
      case 0:
        child.out = program.ends_with("vantic-ax")
                        ? R"({"app":"A","elements":[{"id":1,"x":1e400}],"truncated":false})"
                        : "pid=1 file=" + (args.empty() ? "" : args[0]) +
                              " x=0 y=0 width=1 height=1 image=1x1 scale=1";
        break;
      case 1:
        child.status = mevrik::exit_status::ax::kNotTrusted;
        child.out = R"({"error":"not trusted","trusted":false})";
        break;
      case 2:
        child.status = mevrik::exit_status::ax::kNoFrontmost;
        child.err = "no frontmost \xff window";
        break;
      case 3:
        child.out = "{\"app\":\n\"\xc3\"}";
        break;
      case 4:
        child.started = false;
        child.startError = "No such file or directory";
        break;
      default:
        child.timedOut = true;
        child.killed = true;
        child.signal = 9;
        break;
    }
    return child;
  }

  std::string fault;

 private:
  unsigned calls_ = 0;
};

bool isAnswer(const Json& message) {
  if (!message.is_object() || message.value("jsonrpc", Json()) != "2.0" ||
      !message.contains("id")) {
    return false;
  }
  const Json& id = message["id"];
  if (!id.is_null() && !id.is_number() && !id.is_string()) return false;
  if (message.contains("result")) return message["result"].is_object() && message.size() == 3;
  if (!message.contains("error") || message.size() != 3) return false;
  const Json& error = message["error"];
  return error.is_object() && error.contains("code") && error["code"].is_number_integer() &&
         error["code"] <= -32600 && error["code"] >= -32700 && error.contains("message") &&
         error["message"].is_string();
}

}  // namespace

std::string checkFuzzInput(const uint8_t* data, size_t size) {
  ScriptedRunner runner;
  Server server("/nonexistent/tools", "0", runner);
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  for (size_t start = 0; start <= input.size();) {
    size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    const std::string_view line = input.substr(start, end - start);
    start = end + 1;
    const std::optional<std::string> answer = server.handleLine(line);
    if (!runner.fault.empty()) return "a tool was run with " + runner.fault;
    if (!answer) continue;
    if (answer->find('\n') != std::string::npos) return "an answer spans lines: " + *answer;
    const Json parsed = Json::parse(*answer, nullptr, false);
    if (parsed.is_discarded()) return "an answer is not JSON: " + *answer;
    if (parsed.is_array()) {
      if (parsed.empty()) return "an empty batch answer";
      for (const Json& one : parsed) {
        if (!isAnswer(one)) return "not a JSON-RPC answer in a batch: " + *answer;
      }
    } else if (!isAnswer(parsed)) {
      return "not a JSON-RPC answer: " + *answer;
    }
  }
  return "";
}

}  // namespace mcp
