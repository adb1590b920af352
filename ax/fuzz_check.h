// The property the scene fuzzer checks, shared with the test that replays its corpus.
//
// An input is the options part and a scene text: everything before the first NUL byte is the
// command line, one argument per line; the rest is the scene. Without a NUL byte the whole input
// is the scene and the command line is empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ax {

enum class FuzzOutcome {
  kChecked,  // the run held the property
  kSkipped,  // the scene does not parse: a usage error of the replay tool, outside the property
  kFailed,   // the property does not hold; `why` says how
};

// Runs vantic-ax over the scene with the options and checks: standard output is exactly one line
// of valid JSON followed by one line feed, and the status is 0, 3 or 4.
FuzzOutcome checkFuzzInput(const uint8_t* data, size_t size, std::string& why);

}  // namespace ax
