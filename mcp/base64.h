// Base64 (RFC 4648, with padding): how MCP carries an image in a tool result.
#pragma once

#include <string>
#include <string_view>

namespace mcp {

std::string base64(std::string_view bytes);

}  // namespace mcp
