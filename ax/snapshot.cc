#include "ax/snapshot.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string_view>

#include "ax/json.h"
#include "ax/text.h"
#include "common/numbers.h"
#include "common/output.h"

namespace ax {
namespace {

// Requests to the target application give up after this long.
constexpr float kMessagingTimeout = 0.6f;
// Backends sleep only finite times and may count them in nanoseconds in a signed 64-bit integer;
// a longer pause (up to "--settle inf") is cut to about 31 years, which still never ends in
// practice but overflows nothing.
constexpr double kLongestSettle = 1e9;

std::string probeLine(bool trusted) {
  return trusted ? "{\"trusted\":true}" : "{\"trusted\":false}";
}

// JSON cannot write an infinite or NaN budget. Both an infinite and a NaN budget leave the walk
// bounded by the other limits only (the time test never fires), so both are written as the
// largest double; a budget of minus infinity, which stops the walk at once, as its negative. The
// entry stays a JSON number, as consumers expect.
double budgetForJson(double budget) {
  if (std::isnan(budget)) return std::numeric_limits<double>::max();
  if (std::isinf(budget)) return std::copysign(std::numeric_limits<double>::max(), budget);
  return budget;
}

void writeRecord(JsonWriter& json, const ElementRecord& record, bool withPath) {
  json.beginObject();
  json.key("i");
  json.integer(record.i);
  json.key("role");
  json.string(record.role);
  json.key("label");
  json.string(record.label);
  json.key("value");
  json.string(record.value);
  json.key("x");
  json.integer(record.x);
  json.key("y");
  json.integer(record.y);
  json.key("w");
  json.integer(record.w);
  json.key("h");
  json.integer(record.h);
  json.key("disabled");
  json.boolean(record.disabled);
  if (withPath) {
    json.key("path");
    json.string(record.path);
  }
  json.endObject();
}

// The window to walk: the focused window, else the first entry of the window list, else none.
// A value that is not an element counts as absent. `unanswered` is set when there is none because
// the application did not answer either read in time (a busy application, not one without
// windows).
Element chooseWindow(Platform& platform, const Element& app, bool& unanswered) {
  ReadResult focused = platform.copyAttributeValue(app, attribute::kFocusedWindow);
  if (focused.code == kSuccess) {
    if (Element window = asElement(focused.value)) return window;
  }
  ReadResult windows = platform.copyAttributeValue(app, attribute::kWindows);
  if (windows.code == kSuccess && windows.value && windows.value->kind == Value::Kind::kList &&
      !windows.value->list.empty()) {
    return asElement(windows.value->list.front());
  }
  unanswered = focused.code == kCannotComplete && windows.code == kCannotComplete;
  return nullptr;
}

// A process id: a positive 32-bit number. A window id: a positive number, decimal or hexadecimal
// with "0x" (as X11 tools print it).
std::optional<int32_t> parsePid(const std::string& text) {
  const std::optional<int32_t> pid = mevrik::parseInt32(text);
  if (!pid || *pid <= 0) return std::nullopt;
  return pid;
}

std::optional<uint64_t> parseWindowId(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string_view digits = std::string_view(text).substr(hex ? 2 : 0);
  if (digits.empty() || digits.size() > (hex ? 16u : 19u)) return std::nullopt;
  uint64_t id = 0;
  for (const char c : digits) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return std::nullopt;
    id = id * (hex ? 16 : 10) + static_cast<uint64_t>(d);
  }
  if (id == 0) return std::nullopt;
  return id;
}

}  // namespace

void parseOptions(const std::vector<std::string>& args, RunState& state) {
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& word = args[k];
    const bool takesValue = word == "--budget" || word == "--settle" || word == "--max-elements" ||
                            word == "--pid" || word == "--window";
    if (takesValue) {
      if (k + 1 >= args.size()) {
        // A target that is not named must not fall back to the frontmost application.
        if (word == "--pid" || word == "--window") state.targetError = word + " needs a value";
        continue;
      }
      const std::string& text = args[++k];
      if (word == "--pid") {
        state.targetPid = parsePid(text);
        if (!state.targetPid) state.targetError = "--pid needs a process id, not \"" + text + "\"";
      } else if (word == "--window") {
        state.targetWindow = parseWindowId(text);
        state.targetWindowText = text;
        if (!state.targetWindow) {
          state.targetError = "--window needs a window id, not \"" + text + "\"";
        }
      } else if (word == "--max-elements") {
        if (const auto n = mevrik::parseInt64(text)) state.maxElements = *n;
      } else if (const auto seconds = mevrik::parseDouble(text)) {
        (word == "--budget" ? state.timeBudget : state.settle) = *seconds;
      }
    } else if (word == "--prompt") {
      state.wantPrompt = true;
    } else if (word == "--debug") {
      state.debug = true;
    } else if (word == "--paths") {
      state.paths = true;
    }
  }
}

std::string snapshotDocument(const RunState& state, const FrontmostApplication& frontmost,
                             double elapsed) {
  JsonWriter out;
  out.beginObject();
  out.key("app");
  out.string(frontmost.name.value_or(""));
  out.key("bundle");
  out.string(frontmost.bundleId.value_or(""));
  out.key("window");
  out.string(state.windowTitle);
  out.key("elements");
  out.beginArray();
  for (const ElementRecord& record : state.elements) writeRecord(out, record, state.paths);
  out.endArray();
  out.key("truncated");
  out.boolean(state.truncated);
  out.key("visited");
  out.integer(state.visited);
  out.key("ms");
  out.integer(mevrik::truncateToInt64(elapsed * 1000));
  if (state.url && !state.url->empty()) {
    out.key("url");
    out.string(*state.url);
  }
  if (state.focusedIndex) {
    out.key("focused");
    out.integer(*state.focusedIndex);
  }
  if (state.debug) {
    out.key("debug");
    out.beginObject();
    // Keys are written as repaired UTF-8; two ill-formed roles that repair to the same text are
    // counted together, so the object never holds a key twice.
    std::map<std::string, int64_t> roles;
    for (const auto& [role, count] : state.roleCounts) roles[repairUtf8(role)] += count;
    out.key("roles");
    out.beginObject();
    for (const auto& [role, count] : roles) {
      out.key(role);
      out.integer(count);
    }
    out.endObject();
    out.key("child_errors");
    out.integer(state.childErrors);
    out.key("budget");
    out.number(budgetForJson(state.timeBudget));
    out.endObject();
  }
  out.endObject();
  return out.take();
}

RunResult runSnapshot(Platform& platform, const std::vector<std::string>& args) {
  RunState state;
  parseOptions(args, state);

  // A session the backend cannot serve is not a matter of permission: switching accessibility on
  // would not help, so --prompt gets the same error line.
  if (std::optional<std::string> unsupported = platform.unsupportedSession()) {
    return {errorLine(*unsupported), kExitNotTrusted};
  }
  if (state.wantPrompt) {
    const bool trusted = platform.isProcessTrustedWithPrompt();
    return {probeLine(trusted), trusted ? kExitOk : kExitNotTrusted};
  }
  // Trust comes first, so an untrusted run touches no application.
  if (!platform.isProcessTrusted()) {
    return {errorLine(platform.notTrustedMessage()), kExitNotTrusted};
  }
  std::string error;
  const std::optional<FrontmostApplication> frontmost = targetApplication(platform, state, error);
  if (!frontmost) return {errorLine(error), kExitNoFrontmost};

  state.screen = displayArea(platform.screens());
  state.app = platform.createApplicationElement(frontmost->pid);
  platform.setMessagingTimeout(state.app, kMessagingTimeout);
  platform.setBooleanAttribute(state.app, attribute::kManualAccessibility, true);
  if (state.settle > 0) platform.sleepFor(std::min(state.settle, kLongestSettle));
  state.tStart = platform.now();
  state.resetWalk();

  state.focused = asElement(attr(platform, state.app, attribute::kFocusedUIElement));
  state.windowTitle = "";
  bool unanswered = false;
  if (const Element window = targetWindow(platform, state, unanswered)) {
    state.windowTitle = asString(attr(platform, window, attribute::kTitle));
    visit(platform, state, window, 0);
  }
  menuBarPass(platform, state);
  // The messaging timeout cut the snapshot short: a document without the window must not pass
  // for a complete one. (Set after the menu-bar pass, which a truncated walk would skip.)
  if (unanswered) state.truncated = true;
  // Centres that would miss are worse than none: such a window is refused like a session that is
  // not served.
  if (std::optional<std::string> why = platform.misplacedWindow()) {
    return {errorLine(*why), kExitNotTrusted};
  }

  const double elapsed = platform.now() - state.tStart;
  return {snapshotDocument(state, *frontmost, elapsed), kExitOk};
}

std::string errorLine(const std::string& message) {
  JsonWriter json;
  json.beginObject();
  json.key("error");
  json.string(message);
  json.endObject();
  return json.take();
}

std::optional<FrontmostApplication> targetApplication(Platform& platform, const RunState& state,
                                                      std::string& error) {
  if (!state.targetError.empty()) {
    error = state.targetError;
    return std::nullopt;
  }
  if (state.targetWindow) {
    std::optional<FrontmostApplication> owner = platform.applicationOfWindow(*state.targetWindow);
    if (!owner) {
      error = "no window " + state.targetWindowText;
    } else if (state.targetPid && owner->pid != *state.targetPid) {
      error = "window " + state.targetWindowText + " belongs to pid " + std::to_string(owner->pid) +
              ", not " + std::to_string(*state.targetPid);
      owner.reset();
    }
    return owner;
  }
  if (state.targetPid) {
    std::optional<FrontmostApplication> app = platform.applicationWithPid(*state.targetPid);
    if (!app) error = "no application with pid " + std::to_string(*state.targetPid);
    return app;
  }
  std::optional<FrontmostApplication> frontmost = platform.frontmostApplication();
  if (!frontmost) error = "no frontmost application";
  return frontmost;
}

Element targetWindow(Platform& platform, const RunState& state, bool& unanswered) {
  if (state.targetWindow) return platform.windowElement(state.app, *state.targetWindow);
  return chooseWindow(platform, state.app, unanswered);
}

bool writeRunResult(int fd, const RunResult& result) {
  return mevrik::writeAll(fd, result.document) && mevrik::writeAll(fd, "\n");
}

}  // namespace ax
