// A Platform that performs nothing and writes down every operation, one transcript line each.
//
// Used by the core's tests and by vantic-click-trace; the transcript format is read by other
// programs, so its lines never change shape. Its cursor starts where the options say, follows
// every mouse event posted system-wide and every warp, and ignores events posted to a pid and
// scroll events (neither moves the real cursor).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "click/click.h"
#include "click/platform.h"

namespace click {

struct RecorderOptions {
  int32_t pid = 0;
  // Where the cursor starts; none makes the first read fail (the cursor is then unknown until a
  // system-wide mouse event or a warp places it).
  std::optional<Point> cursor = Point{0, 0};
  bool cursorAfterFails = false;  // every read after the first fails
  bool mouseEventsFail = false;   // every mouse-event creation fails
  bool scrollEventsFail = false;  // every scroll-event creation fails
  // The window at every point: none (the desktop), or the system cannot tell.
  std::optional<TargetWindow> windowAt;
  bool windowAtUnknown = false;
};

class RecorderPlatform : public Platform {
 public:
  explicit RecorderPlatform(RecorderOptions options);

  const std::vector<std::string>& transcript() const { return lines_; }
  // Adds the run's outputs and exit status: "out ..." and "err ..." per line, then "exit N".
  void recordResult(const RunResult& result);

  int32_t frontmostPid() override;
  std::optional<Point> cursorPosition() override;
  std::unique_ptr<Event> createMouseEvent(EventType type, MouseButton button, Point at) override;
  void setClickState(Event& event, int64_t clicks) override;
  void postSystemWide(Event& event) override;
  void postToPid(int32_t pid, Event& event) override;
  std::unique_ptr<Event> createScrollEvent(int32_t wheel1, int32_t wheel2, int32_t wheel3) override;
  void setLocation(Event& event, Point at) override;
  void release(std::unique_ptr<Event> event) override;
  WindowLookup windowAt(Point at) override;
  void warpCursor(Point to) override;
  void sleepMicroseconds(uint32_t microseconds) override;

 private:
  RecorderOptions options_;
  std::optional<Point> cursor_;
  int reads_ = 0;
  std::vector<std::string> lines_;
};

// "X,Y" in the shortest form that reads back to the same doubles.
std::string formatPoint(Point p);

}  // namespace click
