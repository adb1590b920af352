#include "click/test_trace.h"

namespace click {

std::string trace(std::vector<std::string> arguments, RecorderOptions options) {
  RunState state;
  state.args.push_back("vantic-click");
  for (auto& a : arguments) state.args.push_back(a);
  RecorderPlatform recorder(options);
  recorder.recordResult(run(recorder, state));
  std::string text;
  for (const auto& line : recorder.transcript()) text += line + "\n";
  return text;
}

}  // namespace click
