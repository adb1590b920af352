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
#include "common/trace_options.h"
#include "type/platform-recorder.h"
#include "type/type.h"

namespace {

constexpr char kTraceUsage[] =
    "usage: vantic-type-trace [--pid N] [--spare N] [--held NAME,...] [--caps-lock] "
    "[--stop-after-keys N] -- ARGS...\n";

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
  mevrik::TraceOptions line(argc, argv, "vantic-type-trace", kTraceUsage);
  auto fail = [&line](const std::string& message) { return line.fail(message); };
  while (const std::optional<std::string_view> option = line.next()) {
    const std::string_view arg = *option;
    const bool hasValue = line.hasValue();
    if (arg == "--pid" && hasValue) {
      auto pid = mevrik::parseInt32(line.value());
      if (!pid) return fail("--pid needs a 32-bit integer");
      options.pid = *pid;
    } else if ((arg == "--spare" || arg == "--stop-after-keys") && hasValue) {
      auto count = mevrik::parseInt32(line.value());
      if (!count || *count < 0) return fail(std::string(arg) + " needs a count");
      if (arg == "--spare") {
        options.spare = static_cast<size_t>(*count);
      } else {
        options.stopAfterKeys = static_cast<size_t>(*count);
      }
    } else if (arg == "--held" && hasValue) {
      if (!readHeld(line.value(), options.held)) return fail("--held needs keysym names");
    } else if (arg == "--caps-lock") {
      options.capsLock = true;
    } else {
      return line.unknown(arg);
    }
  }

  type::RunState state;
  state.args = line.traced("vantic-type");

  type::RecorderPlatform recorder(options);
  state.stopRequested = [&recorder] { return recorder.stopRequested(); };
  type::RunResult result = type::run(recorder, state);
  recorder.recordResult(result);
  for (const auto& line : recorder.transcript()) std::printf("%s\n", line.c_str());
  return result.status;
}
