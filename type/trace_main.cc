// vantic-type-trace: runs the whole vantic-type flow against the recorder and prints the
// transcript, one line per step. Its exit status is that of the traced run.
//
//   vantic-type-trace [--pid N] [--spare N] [--held NAME,...] [--caps-lock]
//                     [--stop-after-keys N] -- ARGS...
//
// --held names keysyms (Shift_L, Control_L) whose keys are held at the start; --stop-after-keys
// asks for a stop (as a signal would) once that many key events were posted.
#include <cstdio>
#include <string>
#include <string_view>

#include "common/numbers.h"
#include "type/platform-recorder.h"
#include "type/type.h"

namespace {

constexpr char kTraceUsage[] =
    "usage: vantic-type-trace [--pid N] [--spare N] [--held NAME,...] [--caps-lock] "
    "[--stop-after-keys N] -- ARGS...\n";

// Exit status for a bad trace option, distinct from every status of the traced run.
constexpr int kBadOption = 64;

int fail(const std::string& message) {
  std::fputs(("vantic-type-trace: " + message + "\n").c_str(), stderr);
  std::fputs(kTraceUsage, stderr);
  return kBadOption;
}

bool readHeld(std::string_view names, std::vector<type::Keysym>& held) {
  while (!names.empty()) {
    size_t comma = names.find(',');
    auto keysym = type::keysymFromName(names.substr(0, comma));
    if (!keysym) return false;
    held.push_back(*keysym);
    if (comma == std::string_view::npos) break;
    names.remove_prefix(comma + 1);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  type::RecorderOptions options;
  int i = 1;
  for (; i < argc; ++i) {
    std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--") {
      ++i;
      break;
    } else if (arg == "--pid" && hasValue) {
      auto pid = mevrik::parseInt32(argv[++i]);
      if (!pid) return fail("--pid needs a 32-bit integer");
      options.pid = *pid;
    } else if ((arg == "--spare" || arg == "--stop-after-keys") && hasValue) {
      auto count = mevrik::parseInt32(argv[++i]);
      if (!count || *count < 0) return fail(std::string(arg) + " needs a count");
      if (arg == "--spare") {
        options.spare = static_cast<size_t>(*count);
      } else {
        options.stopAfterKeys = static_cast<size_t>(*count);
      }
    } else if (arg == "--held" && hasValue) {
      if (!readHeld(argv[++i], options.held)) return fail("--held needs keysym names");
    } else if (arg == "--caps-lock") {
      options.capsLock = true;
    } else if (arg.starts_with("--")) {
      return fail("unknown option or missing value: " + std::string(arg));
    } else {
      break;
    }
  }

  type::RunState state;
  state.args.push_back("vantic-type");
  for (; i < argc; ++i) state.args.push_back(argv[i]);

  type::RecorderPlatform recorder(options);
  state.stopRequested = [&recorder] { return recorder.stopRequested(); };
  type::RunResult result = type::run(recorder, state);
  recorder.recordResult(result);
  for (const auto& line : recorder.transcript()) std::printf("%s\n", line.c_str());
  return result.status;
}
