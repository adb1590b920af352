// libFuzzer entry: scene text plus command line through the whole snapshot run (see fuzz_check.h).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ax/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string why;
  if (ax::checkFuzzInput(data, size, why) == ax::FuzzOutcome::kFailed) {
    std::fprintf(stderr, "property violated: %s\n", why.c_str());
    std::abort();
  }
  return 0;
}
