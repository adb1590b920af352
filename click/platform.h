// The one interface through which the pointer core reaches the window system.
//
// It exists so that the core (argument grammar, action plans, waits, restore, report) is one piece
// of code for every system and can be run against a recorder in tests and in vantic-click-trace.
// Backends: the recorder (platform-recorder.cc), X11 with XTest (platform-x11.cc) and wlroots
// compositors (platform-wlroots.cc) on Linux, Quartz events on macOS (platform-mac.cc). CMake
// picks the system backend; the core never tests the platform.
//
// Nothing here throws: a read that fails gives no value, a creation that fails gives no event.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace click {

// A point in global display coordinates: origin at the top-left corner of the first screen, y
// growing downwards, one unit per screen point.
struct Point {
  double x = 0;
  double y = 0;
};

// Mouse event types, with the numbers Quartz gives them. Transcripts print these numbers, so they
// are fixed on every system.
enum EventType : int32_t {
  kLeftMouseDown = 1,
  kLeftMouseUp = 2,
  kRightMouseDown = 3,
  kRightMouseUp = 4,
  kMouseMoved = 5,
  kLeftMouseDragged = 6,
  kOtherMouseDown = 25,
  kOtherMouseUp = 26,
};

enum MouseButton : int32_t {
  kButtonLeft = 0,
  kButtonRight = 1,
  kButtonCenter = 2,
};

// A backend's event. The core only passes it back to the backend that made it. Destroying it
// frees whatever the backend holds; Platform::release is the explicit end of its use.
class Event {
 public:
  virtual ~Event() = default;
};

// The top-level window that a click at a point reaches.
struct TargetWindow {
  uint64_t id = 0;
  int32_t pid = 0;  // 0 when unknown
  std::string app;
  std::string title;
};

// What the system says about the window at a point: a window, none (the point lies on the
// desktop), or, when it cannot tell, why not in `error`.
struct WindowLookup {
  std::optional<TargetWindow> window;
  std::string error;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Process id of the application in front, 0 when there is none.
  virtual int32_t frontmostPid() = 0;
  // The current position of the real cursor, or none when it cannot be read.
  virtual std::optional<Point> cursorPosition() = 0;

  // A new mouse event of that type and button at that point, or none on failure.
  virtual std::unique_ptr<Event> createMouseEvent(EventType type, MouseButton button, Point at) = 0;
  // Sets the click count that the event carries.
  virtual void setClickState(Event& event, int64_t clicks) = 0;
  // Posts into the system's input stream at the hardware level.
  virtual void postSystemWide(Event& event) = 0;
  // Delivers to the one process only, where the system can.
  virtual void postToPid(int32_t pid, Event& event) = 0;
  // A new scroll event in line units with two wheel axes (wheel 1 vertical, wheel 2 horizontal),
  // or none on failure.
  virtual std::unique_ptr<Event> createScrollEvent(int32_t wheel1, int32_t wheel2,
                                                   int32_t wheel3) = 0;
  // Places an event (the scroll event) at a point.
  virtual void setLocation(Event& event, Point at) = 0;
  virtual void release(std::unique_ptr<Event> event) = 0;

  // The window a click at the point would reach (asked only for a guarded click).
  virtual WindowLookup windowAt(Point at) = 0;

  // Moves the real cursor without a click; the outcome is not reported.
  virtual void warpCursor(Point to) = 0;
  // A blocking wait.
  virtual void sleepMicroseconds(uint32_t microseconds) = 0;

  // Whether the button is down now; false where the system cannot tell.
  virtual bool buttonDown(MouseButton) { return false; }
  // The name of this display's journal (one path component), or "" where runs keep none.
  virtual std::string journalName() { return {}; }

  // Why the window system stopped taking events during the run (the display went away), or ""
  // while it is there. The front then reports a failure instead of an action that may be cut off.
  virtual std::string lostReason() { return {}; }
};

// The window system's backend of this build (chosen by CMake). Gives none, with the reason in
// `error`, when the window system cannot be reached.
std::unique_ptr<Platform> createSystemPlatform(std::string& error);

}  // namespace click
