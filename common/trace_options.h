// The command line of a trace tool (vantic-click-trace, vantic-type-trace, vantic-win-trace): its
// own options first, then, after "--" or from the first word that is no option, the arguments of
// the run it traces.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mevrik {

// The status a bad option of the trace tool itself exits with: distinct from every status of a
// traced run, so that a caller never mistakes its own mistake for the tool's.
inline constexpr int kBadTraceOption = 64;

class TraceOptions {
 public:
  // `tool` and `usage` are for the messages; both must outlive this object.
  TraceOptions(int argc, char** argv, const char* tool, const char* usage)
      : argc_(argc), argv_(argv), tool_(tool), usage_(usage) {}

  // The next of the tool's own options; none where they end ("--" is passed over).
  std::optional<std::string_view> next();
  // Whether a word follows the current option, and that word (taking it as the option's value).
  bool hasValue() const { return at_ + 1 < argc_; }
  const char* value() { return argv_[++at_]; }
  // Writes "TOOL: MESSAGE" and the usage to standard error; gives kBadTraceOption.
  int fail(const std::string& message) const;
  // The same for an option no branch took.
  int unknown(std::string_view option) const {
    return fail("unknown option or missing value: " + std::string(option));
  }
  // The traced run's arguments, with `program` as their first word.
  std::vector<std::string> traced(const std::string& program) const;

 private:
  int argc_;
  char** argv_;
  const char* tool_;
  const char* usage_;
  int at_ = 0;
  bool ended_ = false;
};

}  // namespace mevrik
