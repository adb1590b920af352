#include "click/click.h"

#include <string_view>
#include <utility>

#include "common/exit_status.h"
#include "common/numbers.h"

namespace click {
namespace {

// The journal's record of a run that holds a button: this line, then "button N" (a MouseButton).
constexpr std::string_view kJournalHeader = "vantic-click journal 1\n";

std::optional<Point> readPoint(const std::string& x, const std::string& y) {
  auto px = mevrik::parseDouble(x);
  auto py = mevrik::parseDouble(y);
  if (!px || !py) return std::nullopt;
  return Point{*px, *py};
}

std::string formatPosition(const std::optional<Point>& p) {
  if (!p) return "?";
  return std::to_string(mevrik::truncateToInt64(p->x)) + "," +
         std::to_string(mevrik::truncateToInt64(p->y));
}

void drag(Platform& platform, const RunState& state, Point end) {
  post(platform, state, kLeftMouseDown, kButtonLeft, state.pt, 1);
  const Point start = state.pt;
  for (int i = 1; i <= kDragSteps; ++i) {
    double t = static_cast<double>(i) / kDragSteps;
    Point step{start.x + (end.x - start.x) * t, start.y + (end.y - start.y) * t};
    post(platform, state, kLeftMouseDragged, kButtonLeft, step, 1);
    platform.sleepMicroseconds(kDragStepWait);
  }
  // The release goes to the end point as parsed, not the last interpolated one, which rounding
  // may have moved.
  post(platform, state, kLeftMouseUp, kButtonLeft, end, 1);
}

// False when the scroll event cannot be made.
bool scroll(Platform& platform, const RunState& state, int32_t horizontal, int32_t vertical) {
  auto event = platform.createScrollEvent(vertical, horizontal, 0);
  if (!event) return false;
  platform.setLocation(*event, state.pt);
  platform.postSystemWide(*event);
  platform.release(std::move(event));
  return true;
}

void pressAndRelease(Platform& platform, const RunState& state, EventType down, EventType up,
                     MouseButton button, int64_t clicks) {
  post(platform, state, down, button, state.pt, clicks);
  post(platform, state, up, button, state.pt, clicks);
}

// A title or name as one line of text, in double quotes.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  }
  return out + "\"";
}

// The refusal of a guarded click, or none when the point lies in a window of the expected
// process. Asked before any event, so a refused run posts nothing and moves nothing.
std::optional<RunResult> guard(Platform& platform, const RunState& state) {
  if (!state.expectPid) return std::nullopt;
  const WindowLookup lookup = platform.windowAt(state.pt);
  if (lookup.window && lookup.window->pid == *state.expectPid) return std::nullopt;
  const std::string at =
      mevrik::formatShortest(state.pt.x) + "," + mevrik::formatShortest(state.pt.y);
  const std::string expected = "pid " + std::to_string(*state.expectPid);
  std::string why;
  if (lookup.window) {
    const TargetWindow& w = *lookup.window;
    why = at + " is in the window " + std::to_string(w.id) + " " + quoted(w.title) + " of " +
          quoted(w.app) + " (pid " + std::to_string(w.pid) + "), not of " + expected;
  } else if (lookup.error.empty()) {
    why = "no window is at " + at + " (" + expected + " expected)";
  } else {
    why = "cannot tell which window is at " + at + " (" + lookup.error + ")";
  }
  return RunResult{mevrik::exit_status::click::kRefused, "",
                   "vantic-click: refused: " + why + "; no pointer action was performed\n"};
}

// The button the action presses, if any.
std::optional<MouseButton> pressedButton(const Action& action) {
  switch (action.kind) {
    case Action::Kind::kDrag:
    case Action::Kind::kLeftClicks:
      return kButtonLeft;
    case Action::Kind::kRight:
      return kButtonRight;
    case Action::Kind::kMiddle:
      return kButtonCenter;
    case Action::Kind::kMove:
    case Action::Kind::kScroll:
      break;
  }
  return std::nullopt;
}

}  // namespace

RunResult usage() {
  RunResult result;
  result.status = mevrik::exit_status::click::kUsage;
  result.err = kUsage;
  return result;
}

bool readArguments(RunState& state) {
  auto& all = state.args;
  for (size_t i = 1; i < all.size(); ++i) {
    if (all[i] != "--expect-pid") continue;
    auto pid = i + 1 < all.size() ? mevrik::parseInt32(all[i + 1]) : std::nullopt;
    if (!pid || *pid <= 0 || state.expectPid) return false;
    state.expectPid = *pid;
    all.erase(all.begin() + static_cast<std::ptrdiff_t>(i),
              all.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    --i;
  }
  const auto& args = state.args;
  if (args.size() < 3) return false;
  auto pt = readPoint(args[1], args[2]);
  if (!pt) return false;
  state.kind = args.size() >= 4 ? args[3] : "left";
  state.pt = *pt;
  return true;
}

Action chooseAction(const RunState& state) {
  const auto& args = state.args;
  const std::string& kind = state.kind;
  Action action;
  if (kind == "move") {
    action.kind = Action::Kind::kMove;
    return action;
  }
  if (kind == "drag" && args.size() >= 6) {
    if (auto end = readPoint(args[4], args[5])) {
      action.kind = Action::Kind::kDrag;
      action.end = *end;
      return action;
    }
  }
  if (kind == "scroll" && args.size() >= 6) {
    auto horizontal = mevrik::parseInt32(args[4]);
    auto vertical = mevrik::parseInt32(args[5]);
    if (horizontal && vertical) {
      action.kind = Action::Kind::kScroll;
      action.horizontal = *horizontal;
      action.vertical = *vertical;
      return action;
    }
  }
  if (kind == "right") {
    action.kind = Action::Kind::kRight;
    return action;
  }
  if (kind == "middle") {
    action.kind = Action::Kind::kMiddle;
    return action;
  }
  action.kind = Action::Kind::kLeftClicks;
  action.clicks = kind == "triple" ? 3 : kind == "double" ? 2 : 1;
  return action;
}

void post(Platform& platform, const RunState& state, EventType type, MouseButton button, Point at,
          int64_t clicks, bool processLocal) {
  auto event = platform.createMouseEvent(type, button, at);
  if (!event) return;
  if (clicks >= 1) platform.setClickState(*event, clicks);
  if (processLocal && state.pid != 0) {
    platform.postToPid(state.pid, *event);
  } else {
    platform.postSystemWide(*event);
  }
  platform.release(std::move(event));
}

std::string reportLine(const RunState& state) {
  return "pid=" + std::to_string(state.pid) +
         " delivery=" + (state.kind == "move" ? "pid" : "hid+restore") +
         " real_cursor_before=" + formatPosition(state.saved) +
         " after=" + formatPosition(state.now) + "\n";
}

RunResult perform(Platform& platform, RunState& state) {
  state.pid = platform.frontmostPid();
  if (auto refused = guard(platform, state)) return *refused;
  state.saved = platform.cursorPosition();
  state.restoreCursor = false;

  const Action action = chooseAction(state);
  // A run killed while the button is down (a drag takes a while) leaves the record behind. It is
  // written and removed outside the plan's timed gaps.
  const std::optional<MouseButton> pressed = pressedButton(action);
  const bool journaled = pressed && state.journal &&
                         state.journal->write(std::string(kJournalHeader) + "button " +
                                              std::to_string(static_cast<int>(*pressed)) + "\n");
  if (action.kind == Action::Kind::kMove) {
    post(platform, state, kMouseMoved, kButtonLeft, state.pt, 0, true);
  } else {
    state.restoreCursor = true;
    post(platform, state, kMouseMoved, kButtonLeft, state.pt, 0);
    platform.sleepMicroseconds(kApproachWait);
    switch (action.kind) {
      case Action::Kind::kDrag:
        drag(platform, state, action.end);
        break;
      case Action::Kind::kScroll:
        // No restore and no report: the caller learns of the failure from the status alone.
        if (!scroll(platform, state, action.horizontal, action.vertical))
          return RunResult{mevrik::exit_status::click::kNoScroll, "", ""};
        break;
      case Action::Kind::kRight:
        pressAndRelease(platform, state, kRightMouseDown, kRightMouseUp, kButtonRight, 1);
        break;
      case Action::Kind::kMiddle:
        pressAndRelease(platform, state, kOtherMouseDown, kOtherMouseUp, kButtonCenter, 1);
        break;
      case Action::Kind::kLeftClicks:
        for (int n = 1; n <= action.clicks; ++n) {
          pressAndRelease(platform, state, kLeftMouseDown, kLeftMouseUp, kButtonLeft, n);
          if (n < action.clicks) platform.sleepMicroseconds(kClickGap);
        }
        break;
      case Action::Kind::kMove:
        break;
    }
  }

  if (state.restoreCursor && state.saved) {
    platform.sleepMicroseconds(kRestoreWait);
    platform.warpCursor(*state.saved);
  }
  if (journaled && platform.lostReason().empty()) state.journal->remove();

  state.now = platform.cursorPosition();
  RunResult result;
  result.out = reportLine(state);
  return result;
}

RunResult run(Platform& platform, RunState& state) {
  if (!readArguments(state)) return usage();
  return perform(platform, state);
}

size_t restoreLeftovers(Platform& platform, mevrik::Journal& journal) {
  const auto text = journal.read();
  if (!text) return 0;
  size_t released = 0;
  std::string_view record = *text;
  if (record.starts_with(kJournalHeader)) {
    record.remove_prefix(kJournalHeader.size());
    for (const auto& [button, up] :
         {std::pair{kButtonLeft, kLeftMouseUp}, std::pair{kButtonRight, kRightMouseUp},
          std::pair{kButtonCenter, kOtherMouseUp}}) {
      if (record != "button " + std::to_string(static_cast<int>(button)) + "\n") continue;
      if (!platform.buttonDown(button)) break;
      // The release goes where the pointer is, so that it does not move.
      if (const auto at = platform.cursorPosition()) {
        RunState none;
        post(platform, none, up, button, *at, 1);
        // The wait starts by syncing with the window system: the button is up for whatever
        // runs next, also in another process.
        platform.sleepMicroseconds(0);
        ++released;
      }
    }
  }
  if (platform.lostReason().empty()) journal.remove();
  return released;
}

}  // namespace click
