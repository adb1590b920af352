#include "win/platform-recorder.h"

#include <algorithm>
#include <string_view>

#include "common/numbers.h"

namespace win {
namespace {

void appendLines(std::vector<std::string>& lines, std::string_view prefix, std::string_view text) {
  while (!text.empty()) {
    size_t end = text.find('\n');
    lines.push_back(std::string(prefix) + std::string(text.substr(0, end)));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

}  // namespace

RecorderPlatform::RecorderPlatform(RecorderOptions options) : options_(std::move(options)) {}

void RecorderPlatform::recordResult(const RunResult& result) {
  appendLines(lines_, "out ", result.out);
  appendLines(lines_, "err ", result.err);
  lines_.push_back("exit " + std::to_string(result.status));
}

std::optional<Desktop> RecorderPlatform::read(std::string& error) {
  if (options_.noWindowList) {
    error = "the window manager keeps no window list";
    lines_.push_back("read -> none");
    return std::nullopt;
  }
  Desktop desktop = options_.desktop;
  for (Window& w : desktop.windows) w.focused = w.id == options_.active;
  lines_.push_back("read -> " + std::to_string(desktop.windows.size()) + " windows");
  return desktop;
}

uint64_t RecorderPlatform::activeWindow() {
  lines_.push_back("active -> " + std::to_string(options_.active));
  return options_.active;
}

bool RecorderPlatform::exists(uint64_t id) {
  const auto& windows = options_.desktop.windows;
  const bool found =
      std::any_of(windows.begin(), windows.end(), [id](const Window& w) { return w.id == id; });
  lines_.push_back("exists " + std::to_string(id) + " -> " + (found ? "yes" : "no"));
  return found;
}

void RecorderPlatform::showDesktop(int64_t desktop) {
  lines_.push_back("show desktop " + std::to_string(desktop));
  options_.desktop.currentDesktop = desktop;
}

void RecorderPlatform::activate(const Window& window) {
  lines_.push_back("activate " + std::to_string(window.id));
  activating_ = window.id;
}

Launched RecorderPlatform::launched(std::string line) {
  Launched result;
  if (options_.unknownApplication) {
    result.unknownId = true;
    result.error = "no such application";
  } else if (options_.launchPid == 0) {
    result.error = "cannot start it";
  } else {
    result.pid = options_.launchPid;
    launchPending_ = true;
  }
  lines_.push_back(line + " -> pid " + std::to_string(result.pid));
  return result;
}

Launched RecorderPlatform::launchApplication(const std::string& id) {
  return launched("launch application " + id);
}

Launched RecorderPlatform::launchCommand(const std::vector<std::string>& argv) {
  std::string line = "launch command";
  for (const auto& a : argv) line += " " + a;
  return launched(line);
}

bool RecorderPlatform::running(int32_t pid) {
  const bool alive = pid == options_.launchPid && !options_.launchExits;
  lines_.push_back("running " + std::to_string(pid) + " -> " + (alive ? "yes" : "no"));
  return alive;
}

void RecorderPlatform::waitForChange(double seconds) {
  lines_.push_back("wait " + mevrik::formatShortest(seconds));
  clock_ += seconds;
  auto& windows = options_.desktop.windows;
  if (activating_) {
    auto it = std::find_if(windows.begin(), windows.end(),
                           [&](const Window& w) { return w.id == *activating_; });
    if (it != windows.end()) {
      switch (options_.activation) {
        case RecorderOptions::Activation::kActivates: {
          Window w = *it;
          w.minimized = false;
          windows.erase(it);
          windows.insert(windows.begin(), w);
          options_.active = w.id;
          break;
        }
        case RecorderOptions::Activation::kCloses:
          windows.erase(it);
          break;
        case RecorderOptions::Activation::kIgnored:
          break;
      }
    }
    activating_.reset();
  }
  if (launchPending_ && options_.launchWindow) {
    windows.insert(windows.begin(), *options_.launchWindow);
  }
  launchPending_ = false;
}

}  // namespace win
