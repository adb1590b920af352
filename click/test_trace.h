// The backend that click_test's cases run against. The cases expect the recorder's transcript;
// each test program links one definition of trace: the recorder itself (test_trace_recorder.cc),
// or the macOS backend on the Apple stand-in with its Quartz calls written as the same lines
// (test_trace_mac.cc), so that both must produce the same events, waits and output.
#pragma once

#include <string>
#include <vector>

#include "click/platform-recorder.h"

namespace click {

// Runs vantic-click with these arguments (program path added) and returns the whole transcript,
// one line per step.
std::string trace(std::vector<std::string> arguments, RecorderOptions options = {});

}  // namespace click
