#include "common/trace_options.h"

#include <cstdio>

namespace mevrik {

std::optional<std::string_view> TraceOptions::next() {
  if (ended_) return std::nullopt;
  if (++at_ >= argc_) {
    ended_ = true;
    return std::nullopt;
  }
  const std::string_view word = argv_[at_];
  if (word == "--" || !word.starts_with("--")) {
    ended_ = true;
    if (word == "--") ++at_;
    return std::nullopt;
  }
  return word;
}

int TraceOptions::fail(const std::string& message) const {
  std::fputs((std::string(tool_) + ": " + message + "\n").c_str(), stderr);
  std::fputs(usage_, stderr);
  return kBadTraceOption;
}

std::vector<std::string> TraceOptions::traced(const std::string& program) const {
  std::vector<std::string> args{program};
  for (int i = at_; i < argc_; ++i) args.push_back(argv_[i]);
  return args;
}

}  // namespace mevrik
