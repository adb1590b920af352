// vantic-click-trace: runs the whole vantic-click flow against the recorder and prints the
// transcript, one line per step. Its exit status is that of the traced run.
//
//   vantic-click-trace [--pid N] [--cursor X,Y|none] [--cursor-after none] [--no-mouse-events]
//                      [--no-scroll-events] [--window-at 'ID PID APP [TITLE]'|none|unknown]
//                      -- ARGS...
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "click/click.h"
#include "click/platform-recorder.h"
#include "common/numbers.h"
#include "common/trace_options.h"

namespace {

constexpr char kTraceUsage[] =
    "usage: vantic-click-trace [--pid N] [--cursor X,Y|none] [--cursor-after none] "
    "[--no-mouse-events] [--no-scroll-events] [--window-at 'ID PID APP [TITLE]'|none|unknown] "
    "-- ARGS...\n";

std::optional<click::Point> parseCursor(std::string_view text) {
  size_t comma = text.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  auto x = mevrik::parseDouble(text.substr(0, comma));
  auto y = mevrik::parseDouble(text.substr(comma + 1));
  if (!x || !y) return std::nullopt;
  return click::Point{*x, *y};
}

// "ID PID APP [TITLE]": the title is the rest of the text.
std::optional<click::TargetWindow> parseWindow(std::string_view text) {
  click::TargetWindow window;
  std::string_view fields[3];
  for (auto& field : fields) {
    const size_t space = text.find(' ');
    field = text.substr(0, space);
    text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
  }
  auto id = mevrik::parseInt64(fields[0]);
  auto pid = mevrik::parseInt32(fields[1]);
  if (!id || *id <= 0 || !pid || *pid < 0 || fields[2].empty()) return std::nullopt;
  window.id = static_cast<uint64_t>(*id);
  window.pid = *pid;
  window.app = std::string(fields[2]);
  window.title = std::string(text);
  return window;
}

}  // namespace

int main(int argc, char** argv) {
  click::RecorderOptions options;
  mevrik::TraceOptions line(argc, argv, "vantic-click-trace", kTraceUsage);
  while (const std::optional<std::string_view> option = line.next()) {
    const std::string_view arg = *option;
    const bool hasValue = line.hasValue();
    const auto fail = [&line](const std::string& message) { return line.fail(message); };
    if (arg == "--pid" && hasValue) {
      auto pid = mevrik::parseInt32(line.value());
      if (!pid) return fail("--pid needs a 32-bit integer");
      options.pid = *pid;
    } else if (arg == "--cursor" && hasValue) {
      const std::string_view value = line.value();
      if (value == "none") {
        options.cursor.reset();
      } else {
        options.cursor = parseCursor(value);
        if (!options.cursor) return fail("--cursor needs X,Y or none");
      }
    } else if (arg == "--cursor-after" && hasValue) {
      if (std::string_view(line.value()) != "none") return fail("--cursor-after takes only none");
      options.cursorAfterFails = true;
    } else if (arg == "--window-at" && hasValue) {
      const std::string_view value = line.value();
      if (value == "unknown") {
        options.windowAtUnknown = true;
      } else if (value != "none") {
        options.windowAt = parseWindow(value);
        if (!options.windowAt)
          return fail("--window-at needs 'ID PID APP [TITLE]', none or unknown");
      }
    } else if (arg == "--no-mouse-events") {
      options.mouseEventsFail = true;
    } else if (arg == "--no-scroll-events") {
      options.scrollEventsFail = true;
    } else if (arg == "--pid" || arg == "--cursor" || arg == "--cursor-after" ||
               arg == "--window-at") {
      return fail(std::string(arg) + " needs a value");
    } else {
      return fail("unknown option " + std::string(arg));
    }
  }

  click::RunState state;
  state.args = line.traced("vantic-click");

  click::RecorderPlatform recorder(options);
  click::RunResult result = click::run(recorder, state);
  recorder.recordResult(result);
  for (const auto& line : recorder.transcript()) std::printf("%s\n", line.c_str());
  return result.status;
}
