// The MCP server's protocol core: one line of JSON-RPC 2.0 in (a message, or a batch where the
// negotiated protocol version has them), at most one line out. It knows nothing of standard input
// and output, and runs the tools through a Runner, so tests and the fuzzer drive it line by line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "mcp/message.h"
#include "mcp/scratch.h"
#include "mcp/tools.h"

namespace mcp {

// Protocol versions we speak, oldest first; the last is the one we offer to other clients.
extern const char* const kProtocolVersions[4];

// The one protocol version whose messages may come in batches (a JSON array of messages): the
// versions before it did not define them, and those after it removed them.
inline constexpr char kBatchVersion[] = "2025-03-26";
// A batch holds at most this many messages, so that one line cannot ask for unbounded answers.
inline constexpr size_t kMaxBatch = 100;

// Runs one tool's program; the server's only way to start a process.
class Runner {
 public:
  virtual ~Runner() = default;
  virtual ChildResult run(const std::string& program, const std::vector<std::string>& args,
                          double budgetSeconds) = 0;
};

// Runs the program as a child process (runChild).
class ProcessRunner : public Runner {
 public:
  explicit ProcessRunner(StopSignals signals = {}) : signals_(std::move(signals)) {}
  ChildResult run(const std::string& program, const std::vector<std::string>& args,
                  double budgetSeconds) override {
    return runChild(program, args, budgetSeconds, kStopGraceSeconds, signals_);
  }

 private:
  StopSignals signals_;
};

class Server {
 public:
  // `toolFolder` holds the tools' programs (the folder of the server's own executable).
  Server(std::string toolFolder, std::string version, Runner& runner);

  // The answer to one line, or nothing (notifications, responses, blank lines).
  std::optional<std::string> handleLine(std::string_view line);

 private:
  std::optional<std::string> handleMessage(const Json& message, const std::string& idText,
                                           bool inBatch);
  Json handle(const std::string& method, const Json& params);
  Json callTool(const Json& params);

  std::string toolFolder_;
  std::string version_;
  Runner& runner_;
  ScratchFolder scratch_;
  int files_ = 0;
  std::string negotiated_;  // the protocol version of the last initialize, or ""
};

}  // namespace mcp
