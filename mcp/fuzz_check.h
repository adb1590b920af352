// The property the message fuzzer checks, shared with the test that replays its corpus and
// findings: lines fed to a server whose tools are scripted (no process is started) are each
// answered by one line of JSON-RPC, or by nothing, and the server never ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mcp {

// Feeds `data`, split at line feeds, to a new server. Returns "" when every answer holds the
// property, otherwise what went wrong.
std::string checkFuzzInput(const uint8_t* data, size_t size);

}  // namespace mcp
