// libFuzzer entry for the MCP message handler: see fuzz_check.h for the property.
#include <cstdio>
#include <cstdlib>

#include "mcp/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string why = mcp::checkFuzzInput(data, size);
  if (!why.empty()) {
    std::fprintf(stderr, "property failed: %s\n", why.c_str());
    std::abort();
  }
  return 0;
}
