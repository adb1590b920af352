// click_test's cases against the macOS backend on the Apple stand-in: the stand-in writes down
// the Quartz calls, and this file turns them into the recorder's transcript lines.
#include <gtest/gtest.h>

#include <set>

#include "click/platform-mac.h"
#include "click/test_trace.h"
#include "desktop/mac/frontmost.h"
#include "standin.h"

namespace click {
namespace {

int32_t gFrontmost = 0;

// Waits go into the transcript instead of blocking; the window lookup's answer is written as
// the recorder writes it.
class NotedSleeps : public QuartzPlatform {
 public:
  void sleepMicroseconds(uint32_t microseconds) override {
    standin::note("sleep " + std::to_string(microseconds));
  }
  WindowLookup windowAt(Point at) override {
    WindowLookup lookup = QuartzPlatform::windowAt(at);
    std::string line = "window at " + formatPoint(at) + " -> ";
    if (lookup.window) {
      const TargetWindow& w = *lookup.window;
      line += "id=" + std::to_string(w.id) + " pid=" + std::to_string(w.pid) + " app=" + w.app +
              " title=" + w.title;
    } else {
      line += lookup.error.empty() ? "none" : "unknown";
    }
    standin::note(line);
    return lookup;
  }
};

std::string transcriptLine(const standin::Call& call, std::set<uint64_t>& cursorReads) {
  const auto& v = call.values;
  const std::string none = call.event == 0 ? " -> none" : "";
  const std::string at = call.point ? formatPoint({call.point->x, call.point->y}) : "";
  const std::string f = call.function;
  if (f == "note") return call.text;
  if (f == "CGEventCreate") {
    if (call.event == 0) return "cursor -> none";
    cursorReads.insert(call.event);
    return "";
  }
  if (f == "CGEventGetLocation") return "cursor -> " + at;
  if (f == "CFRelease") return cursorReads.count(call.event) ? "" : "release";
  if (f == "CGEventCreateMouseEvent") {
    return "mouse type=" + std::to_string(v[0]) + " button=" + std::to_string(v[1]) + " at=" + at +
           none;
  }
  if (f == "CGEventSetIntegerValueField" && v[0] == kCGMouseEventClickState) {
    return "clickstate " + std::to_string(v[1]);
  }
  if (f == "CGEventPost" && v[0] == kCGHIDEventTap) return "post hid";
  if (f == "CGEventPostToPid") return "post pid=" + std::to_string(v[0]);
  if (f == "CGEventCreateScrollWheelEvent2" && v[0] == kCGScrollEventUnitLine) {
    return "scroll units=line count=" + std::to_string(v[1]) + " wheel1=" + std::to_string(v[2]) +
           " wheel2=" + std::to_string(v[3]) + " wheel3=" + std::to_string(v[4]) + none;
  }
  if (f == "CGEventSetLocation") return "locate " + at;
  if (f == "CGWarpMouseCursorPosition") return "warp " + at;
  if (f == "CGWindowListCopyWindowInfo") return "";  // written as the lookup's answer
  return "unexpected " + f;                          // fails the comparison, naming the call
}

}  // namespace

std::string trace(std::vector<std::string> arguments, RecorderOptions options) {
  standin::reset();
  gFrontmost = options.pid;
  standin::setCursor(options.cursor
                         ? std::optional<CGPoint>(CGPoint{options.cursor->x, options.cursor->y})
                         : std::nullopt);
  standin::failCursorReadsAfterFirst(options.cursorAfterFails);
  standin::failMouseEvents(options.mouseEventsFail);
  standin::failScrollEvents(options.scrollEventsFail);
  // The window at every point: one window that covers the whole plane.
  std::vector<standin::WindowInfo> windows;
  if (options.windowAt) {
    const TargetWindow& w = *options.windowAt;
    windows.push_back(
        {w.pid, 0, CGRect{{-1e6, -1e6}, {2e6, 2e6}}, static_cast<uint32_t>(w.id), w.title, w.app});
  }
  standin::setWindows(windows);
  const int64_t live = standin::liveReferences();

  RunState state;
  state.args.push_back("vantic-click");
  for (auto& a : arguments) state.args.push_back(a);
  RunResult result;
  {
    NotedSleeps quartz;
    result = run(quartz, state);
  }

  std::string text;
  std::set<uint64_t> cursorReads;
  for (const standin::Call& call : standin::calls()) {
    const std::string line = transcriptLine(call, cursorReads);
    if (!line.empty()) text += line + "\n";
  }
  RecorderPlatform formatter({});
  formatter.recordResult(result);
  for (const auto& line : formatter.transcript()) text += line + "\n";
  // Every event the run made was released.
  if (standin::liveReferences() != live) text += "leaked Quartz events\n";
  return text;
}

// The tool refuses to start, after asking the system to list it, rather than post events that
// the window server would drop.
TEST(ClickMac, WithoutThePostEventPermissionNothingIsPosted) {
  standin::reset();
  standin::setPostEventAccess(false);
  std::string error;
  EXPECT_FALSE(createSystemPlatform(error));
  EXPECT_TRUE(error.starts_with("posting events not allowed")) << error;
  ASSERT_EQ(standin::calls().size(), 1u);
  EXPECT_EQ(standin::calls()[0].function, "CGRequestPostEventAccess");
}

}  // namespace click

int32_t mevrik::desktop::mac::frontmostProcessId() {
  standin::note("frontmost -> " + std::to_string(click::gFrontmost));
  return click::gFrontmost;
}
