#include "win/win.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

#include "ax/json.h"
#include "ax/text.h"
#include "common/numbers.h"
#include "win/window-at.h"

namespace win {
namespace {

bool validUtf8(std::string_view text) {
  return ax::repairUtf8(text) == text;
}

// A window id as vantic-win prints it (decimal), or as tools like wmctrl and xwininfo print it
// (0x and hexadecimal). 0 names no window.
std::optional<uint64_t> parseId(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value == 0) {
    return std::nullopt;
  }
  return value;
}

std::optional<double> parseTimeout(std::string_view text) {
  auto value = mevrik::parseDouble(text);
  // An hour is longer than any window takes to come; beyond it the caller surely erred.
  if (!value || !std::isfinite(*value) || *value < 0 || *value > 3600) return std::nullopt;
  return value;
}

std::string quoted(std::string_view text) {
  std::string out;
  ax::appendJsonString(out, text);
  return out;
}

std::string pointText(Point p) {
  return mevrik::formatShortest(p.x) + "," + mevrik::formatShortest(p.y);
}

std::string seconds(double s) {
  return mevrik::formatShortest(s) + " s";
}

bool sameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

RunResult printRecord(const Window& window) {
  return RunResult{kDone, record(window) + "\n", ""};
}

const Window* findId(const Desktop& desktop, uint64_t id) {
  for (const Window& w : desktop.windows) {
    if (w.id == id) return &w;
  }
  return nullptr;
}

// The window a focus command names: by id, else the topmost window of the process or of the
// application (its name compared regardless of ASCII case).
const Window* target(const Desktop& desktop, const Command& command, std::string& missing) {
  if (command.id) {
    missing = "no window with id " + std::to_string(*command.id);
    return findId(desktop, *command.id);
  }
  for (const Window& w : desktop.windows) {
    if (command.pid && w.pid == *command.pid) return &w;
    if (command.app && sameName(w.app, *command.app)) return &w;
  }
  missing = command.pid ? "no window of process " + std::to_string(*command.pid)
                        : "no window of the application " + quoted(*command.app);
  return nullptr;
}

RunResult focus(Platform& platform, const Command& command, const Desktop& before) {
  std::string missing;
  const Window* found = target(before, command, missing);
  if (!found) return failure(kNotFound, missing);
  const Window window = *found;
  const std::string name = "window " + std::to_string(window.id);
  if (!before.activates) {
    return failure(kNoWindowList, "the window manager takes no requests to activate a window; " +
                                      name + " was left as it is");
  }
  const bool switched = window.desktop && before.currentDesktop &&
                        *window.desktop != kAllDesktops &&
                        *window.desktop != *before.currentDesktop;
  if (switched) platform.showDesktop(*window.desktop);
  platform.activate(window);
  const double deadline = platform.now() + command.timeout;
  while (platform.activeWindow() != window.id) {
    if (!platform.exists(window.id)) {
      return failure(kNotActivated, name + " closed before it became active");
    }
    const double left = deadline - platform.now();
    if (left <= 0) {
      return failure(kNotActivated,
                     name + " did not become active within " + seconds(command.timeout));
    }
    platform.waitForChange(std::min(left, kPollInterval));
  }
  // A window coming back from minimised or from another desktop may still be moving (window
  // managers animate it, openbox for about 150 ms): its frame is printed once it has kept still
  // for kSettleTime, or when time is up.
  const bool moving = (window.minimized || switched) && platform.animates();
  std::optional<Window> previous;
  double stillSince = platform.now();
  for (;;) {
    std::string error;
    auto after = platform.read(error);
    const Window* now = after ? findId(*after, window.id) : nullptr;
    if (!now) return failure(kNotActivated, name + " closed as it became active");
    const double at = platform.now();
    if (!previous || previous->x != now->x || previous->y != now->y || previous->w != now->w ||
        previous->h != now->h) {
      stillSince = at;
    }
    const double left = deadline - at;
    if (!moving || left <= 0 || at - stillSince >= kSettleTime) return printRecord(*now);
    previous = *now;
    platform.waitForChange(std::min(left, kSettleInterval));
  }
}

// The launched program's first window: a new one of its process, else a new one whose process
// is unknown (clients that do not say), else, once the process has ended, any new one (it
// handed the work to an instance already running).
const Window* launchedWindow(const Desktop& desktop, const std::set<uint64_t>& old, int32_t pid,
                             bool ended) {
  const Window* unknownPid = nullptr;
  const Window* other = nullptr;
  for (const Window& w : desktop.windows) {
    if (old.count(w.id)) continue;
    if (w.pid == pid) return &w;
    if (w.pid == 0 && !unknownPid) unknownPid = &w;
    if (!other) other = &w;
  }
  if (unknownPid) return unknownPid;
  return ended ? other : nullptr;
}

RunResult launch(Platform& platform, const Command& command, const Desktop& before) {
  std::set<uint64_t> old;
  for (const Window& w : before.windows) old.insert(w.id);
  const std::string name = quoted(command.desktopId ? *command.desktopId : command.argv[0]);
  const Launched launched = command.desktopId ? platform.launchApplication(*command.desktopId)
                                              : platform.launchCommand(command.argv);
  if (launched.pid == 0) {
    return failure(launched.unknownId ? kNotFound : kLaunchFailed, launched.error);
  }
  const double deadline = platform.now() + command.timeout;
  std::optional<double> endedAt;
  for (;;) {
    if (!endedAt && !platform.running(launched.pid)) endedAt = platform.now();
    std::string error;
    auto desktop = platform.read(error);
    if (!desktop) return failure(kNoWindowList, error);
    if (const Window* w = launchedWindow(*desktop, old, launched.pid, endedAt.has_value())) {
      return printRecord(*w);
    }
    const double now = platform.now();
    if (endedAt && now - *endedAt >= kHandOffGrace) {
      return failure(kLaunchFailed, name + " (pid " + std::to_string(launched.pid) +
                                        ") exited without showing a window");
    }
    if (now >= deadline) {
      return failure(kLaunchFailed, name + " (pid " + std::to_string(launched.pid) +
                                        ") showed no window within " + seconds(command.timeout));
    }
    double left = deadline - now;
    if (endedAt) left = std::min(left, *endedAt + kHandOffGrace - now);
    platform.waitForChange(std::min(left, kPollInterval));
  }
}

}  // namespace

std::optional<Command> readArguments(const std::vector<std::string>& args, std::string& error) {
  if (args.size() < 2) {
    error = "no command";
    return std::nullopt;
  }
  Command command;
  const std::string& verb = args[1];
  const size_t count = args.size();
  if (verb == "list") {
    if (count != 2) {
      error = "list takes no arguments";
      return std::nullopt;
    }
    return command;
  }
  if (verb == "at") {
    command.verb = Command::Verb::kAt;
    auto x = count == 4 ? mevrik::parseDouble(args[2]) : std::nullopt;
    auto y = count == 4 ? mevrik::parseDouble(args[3]) : std::nullopt;
    if (!x || !y || std::isnan(*x) || std::isnan(*y)) {
      error = "at needs two numbers, X and Y";
      return std::nullopt;
    }
    command.at = {*x, *y};
    return command;
  }
  if (verb != "focus" && verb != "launch") {
    error = "unknown command " + quoted(verb);
    return std::nullopt;
  }
  const bool focus = verb == "focus";
  command.verb = focus ? Command::Verb::kFocus : Command::Verb::kLaunch;
  command.timeout = focus ? kFocusTimeout : kLaunchTimeout;
  int targets = 0;
  for (size_t i = 2; i < count; ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < count;
    if (arg == "--timeout" && hasValue) {
      auto timeout = parseTimeout(args[++i]);
      if (!timeout) {
        error = "--timeout needs seconds from 0 to 3600";
        return std::nullopt;
      }
      command.timeout = *timeout;
    } else if (focus && arg == "--pid" && hasValue) {
      auto pid = mevrik::parseInt32(args[++i]);
      if (!pid || *pid <= 0) {
        error = "--pid needs a process id";
        return std::nullopt;
      }
      command.pid = *pid;
      ++targets;
    } else if (focus && arg == "--app" && hasValue) {
      command.app = args[++i];
      if (command.app->empty() || !validUtf8(*command.app)) {
        error = "--app needs a name in UTF-8";
        return std::nullopt;
      }
      ++targets;
    } else if (!focus && arg == "--") {
      command.argv.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      if (command.argv.empty() || command.argv[0].empty()) {
        error = "-- needs a command";
        return std::nullopt;
      }
      ++targets;
      break;
    } else if (arg.starts_with("--")) {
      error = "unknown option or missing value: " + quoted(arg);
      return std::nullopt;
    } else if (focus) {
      command.id = parseId(arg);
      if (!command.id) {
        error = "not a window id: " + quoted(arg);
        return std::nullopt;
      }
      ++targets;
    } else {
      if (arg.empty() || !validUtf8(arg)) {
        error = "the desktop id must be UTF-8 text";
        return std::nullopt;
      }
      command.desktopId = arg;
      ++targets;
    }
  }
  if (targets != 1) {
    error = focus ? "focus needs one of ID, --pid PID, --app NAME"
                  : "launch needs one of DESKTOP-ID, -- COMMAND";
    return std::nullopt;
  }
  return command;
}

RunResult failure(int status, const std::string& message) {
  ax::JsonWriter json;
  json.beginObject();
  json.key("error");
  json.string(message);
  json.endObject();
  return RunResult{status, json.take() + "\n", ""};
}

RunResult usage(const std::string& why) {
  RunResult result = failure(kBadArguments, why);
  result.err = kUsage;
  return result;
}

std::string record(const Window& window) {
  ax::JsonWriter json;
  json.beginObject();
  json.key("id");
  json.integer(static_cast<int64_t>(window.id));
  json.key("app");
  json.string(window.app);
  json.key("pid");
  json.integer(window.pid);
  json.key("title");
  json.string(window.title);
  if (window.placed) {
    json.key("x");
    json.integer(window.x);
    json.key("y");
    json.integer(window.y);
    json.key("w");
    json.integer(window.w);
    json.key("h");
    json.integer(window.h);
  }
  json.key("focused");
  json.boolean(window.focused);
  json.key("minimized");
  json.boolean(window.minimized);
  if (window.desktop) {
    json.key("desktop");
    json.integer(*window.desktop);
  }
  json.endObject();
  return json.take();
}

RunResult perform(Platform& platform, const Command& command) {
  std::string error;
  auto desktop = platform.read(error);
  // Without the window list nothing can be chosen, so nothing is started or activated either.
  if (!desktop) return failure(kNoWindowList, error);
  switch (command.verb) {
    case Command::Verb::kList: {
      std::string out = "{\"windows\":[";
      for (size_t i = 0; i < desktop->windows.size(); ++i) {
        if (i) out += ',';
        out += record(desktop->windows[i]);
      }
      return RunResult{kDone, out + "]}\n", ""};
    }
    case Command::Verb::kAt:
      if (std::string why = platform.placesUnknown(); !why.empty()) {
        return failure(kUnreachable, why);
      }
      if (const Window* w = windowAt(*desktop, command.at)) return printRecord(*w);
      return failure(kNotFound, "no window at " + pointText(command.at));
    case Command::Verb::kFocus:
      return focus(platform, command, *desktop);
    case Command::Verb::kLaunch:
      return launch(platform, command, *desktop);
  }
  return failure(kBadArguments, "unknown command");
}

RunResult run(Platform& platform, const std::vector<std::string>& args) {
  std::string error;
  auto command = readArguments(args, error);
  if (!command) return usage(error);
  return perform(platform, *command);
}

}  // namespace win
