// The MCP server's protocol core: one JSON-RPC 2.0 message in, at most one message out. It knows
// nothing of standard input and output, so tests drive it line by line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "mcp/tools.h"

namespace mcp {

// Protocol versions we speak, oldest first; the last is the one we offer to other clients.
extern const char* const kProtocolVersions[4];

class Server {
 public:
  // `toolFolder` holds the tools' programs (the folder of the server's own executable).
  Server(std::string toolFolder, std::string version);

  // The answer to one line, or nothing (notifications, responses, blank lines).
  std::optional<std::string> handleLine(std::string_view line);

 private:
  Json handle(const std::string& method, const Json& params);
  Json callTool(const Json& params);

  std::string toolFolder_;
  std::string version_;
};

}  // namespace mcp
