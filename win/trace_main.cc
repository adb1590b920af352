// vantic-win-trace: runs the whole vantic-win flow against the recorder and prints the
// transcript, one line per call. Its exit status is that of the traced run.
//
//   vantic-win-trace [--window 'ID PID X Y W H [app=NAME] [desktop=N] [minimized] [title=TEXT]']...
//                    [--active ID] [--current-desktop N] [--no-window-list]
//                    [--activation activates|ignored|closes] [--launch-pid PID]
//                    [--launch-window '...'] [--launch-exits] [--unknown-application]
//                    -- ARGS...
#include <cstdio>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/numbers.h"
#include "common/trace_options.h"
#include "win/platform-recorder.h"
#include "win/win.h"

namespace {

constexpr char kTraceUsage[] =
    "usage: vantic-win-trace [--window 'ID PID X Y W H [app=NAME] [desktop=N] [minimized] "
    "[title=TEXT]']... [--active ID] [--current-desktop N] [--no-window-list] [--activation "
    "activates|ignored|closes] [--launch-pid PID] [--launch-window '...'] [--launch-exits] "
    "[--unknown-application] -- ARGS...\n";

// "ID PID X Y W H" and optional words; title= takes the rest of the text.
std::optional<win::Window> parseWindow(std::string_view spec) {
  win::Window w;
  const size_t titleAt = spec.find("title=");
  if (titleAt != std::string_view::npos) {
    w.title = std::string(spec.substr(titleAt + 6));
    spec = spec.substr(0, titleAt);
  }
  std::istringstream words{std::string(spec)};
  std::vector<std::string> fields;
  for (std::string word; words >> word;) fields.push_back(word);
  if (fields.size() < 6) return std::nullopt;
  int64_t numbers[6];
  for (int i = 0; i < 6; ++i) {
    auto n = mevrik::parseInt64(fields[static_cast<size_t>(i)]);
    if (!n) return std::nullopt;
    numbers[i] = *n;
  }
  if (numbers[0] <= 0 || numbers[1] < 0 || numbers[1] > INT32_MAX) return std::nullopt;
  w.id = static_cast<uint64_t>(numbers[0]);
  w.pid = static_cast<int32_t>(numbers[1]);
  w.x = numbers[2];
  w.y = numbers[3];
  w.w = numbers[4];
  w.h = numbers[5];
  for (size_t i = 6; i < fields.size(); ++i) {
    const std::string& f = fields[i];
    if (f.starts_with("app=")) {
      w.app = f.substr(4);
    } else if (f.starts_with("desktop=")) {
      auto d = mevrik::parseInt64(std::string_view(f).substr(8));
      if (!d) return std::nullopt;
      w.desktop = *d;
    } else if (f == "minimized") {
      w.minimized = true;
    } else {
      return std::nullopt;
    }
  }
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  win::RecorderOptions options;
  mevrik::TraceOptions line(argc, argv, "vantic-win-trace", kTraceUsage);
  auto fail = [&line](const std::string& message) { return line.fail(message); };
  while (const std::optional<std::string_view> option = line.next()) {
    const std::string_view arg = *option;
    const bool hasValue = line.hasValue();
    if ((arg == "--window" || arg == "--launch-window") && hasValue) {
      auto w = parseWindow(line.value());
      if (!w) return fail(std::string(arg) + " needs 'ID PID X Y W H [app=NAME] ...'");
      if (arg == "--window") {
        options.desktop.windows.push_back(*w);
      } else {
        options.launchWindow = *w;
      }
    } else if (arg == "--active" && hasValue) {
      auto id = mevrik::parseInt64(line.value());
      if (!id || *id < 0) return fail("--active needs a window id");
      options.active = static_cast<uint64_t>(*id);
    } else if (arg == "--current-desktop" && hasValue) {
      auto d = mevrik::parseInt64(line.value());
      if (!d) return fail("--current-desktop needs a number");
      options.desktop.currentDesktop = *d;
    } else if (arg == "--launch-pid" && hasValue) {
      auto pid = mevrik::parseInt32(line.value());
      if (!pid || *pid < 0) return fail("--launch-pid needs a process id");
      options.launchPid = *pid;
    } else if (arg == "--activation" && hasValue) {
      std::string_view how = line.value();
      using A = win::RecorderOptions::Activation;
      if (how == "activates") {
        options.activation = A::kActivates;
      } else if (how == "ignored") {
        options.activation = A::kIgnored;
      } else if (how == "closes") {
        options.activation = A::kCloses;
      } else {
        return fail("--activation takes activates, ignored or closes");
      }
    } else if (arg == "--no-window-list") {
      options.noWindowList = true;
    } else if (arg == "--launch-exits") {
      options.launchExits = true;
    } else if (arg == "--unknown-application") {
      options.unknownApplication = true;
    } else {
      return line.unknown(arg);
    }
  }

  win::RecorderPlatform recorder(options);
  const win::RunResult result = win::run(recorder, line.traced("vantic-win"));
  recorder.recordResult(result);
  for (const auto& line : recorder.transcript()) std::printf("%s\n", line.c_str());
  return result.status;
}
