// mevrik-mcp: an MCP server over standard input and output that gives an agent the snapshot and
// pointer tools. One JSON-RPC message per line each way; standard output carries nothing else.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/executable.h"
#include "common/output.h"
#include "mcp/server.h"

namespace {

// Longer lines are answered with a parse error and skipped, so that no client can make the
// server hold unbounded input.
constexpr size_t kLineCap = 4 * 1024 * 1024;

}  // namespace

int main() {
  ::signal(SIGPIPE, SIG_IGN);  // a client that went away ends us through a failed write
  // The tools lie beside this executable.
  mcp::Server server(mevrik::executableFolder(), MEVRIK_VERSION);
  std::string line;
  bool skipping = false;  // inside a line beyond the cap
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(0, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t k = 0; k < n; ++k) {
      const char c = buffer[k];
      if (c != '\n') {
        if (!skipping) line.push_back(c);
        if (line.size() > kLineCap) {
          line.clear();
          skipping = true;
        }
        continue;
      }
      std::optional<std::string> answer =
          skipping ? server.handleLine("\x01") : server.handleLine(line);
      line.clear();
      skipping = false;
      if (answer && !mevrik::writeAll(1, *answer + "\n")) return 0;
    }
  }
  // A last message without a line end still counts.
  if (!skipping && !line.empty()) {
    if (auto answer = server.handleLine(line)) mevrik::writeAll(1, *answer + "\n");
  }
  return 0;
}
