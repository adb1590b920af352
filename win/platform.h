// The one interface through which vantic-win reaches the window system.
//
// It exists so that the core (argument grammar, choosing the window, the focus and launch waits,
// the JSON) is one piece of code for every system, which tests and vantic-win-trace run against
// a recorder that fakes the windows. Backends: the recorder (platform-recorder.cc), X11 with the
// window manager's EWMH properties (platform-x11.cc) and CoreGraphics with AppKit on macOS
// (platform-mac.cc). CMake picks the system backend; the core never tests the platform.
//
// Nothing here throws: a read that fails gives no value.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace win {

// A point in screen points: global display coordinates, origin at the top-left corner of the
// first screen, y growing downwards (on X11 one point is one root-window pixel). vantic-click
// takes the same points.
struct Point {
  double x = 0;
  double y = 0;
};

// A desktop (workspace) number that means "shown on every desktop".
inline constexpr int64_t kAllDesktops = -1;

// One top-level window. x, y, w, h are its frame on screen, decorations included: the area a
// click reaches it in.
struct Window {
  uint64_t id = 0;
  std::string app;    // the application's name (X11: the WM_CLASS class); "" when unknown
  int32_t pid = 0;    // 0 when unknown
  std::string title;  // as the application set it; may be ill-formed UTF-8
  int64_t x = 0;
  int64_t y = 0;
  int64_t w = 0;
  int64_t h = 0;
  bool focused = false;
  bool minimized = false;
  std::optional<int64_t> desktop;  // none where the system has no desktops
  // Whether a click could reach it, where the system says so itself (sway: shown on an output,
  // not behind another tab or a fullscreen window); none: judged from desktop and minimized.
  std::optional<bool> shown;
  bool placed = true;  // false where the system tells no window's place: x, y, w, h are 0
};

// The windows and the desktop on show, read together.
struct Desktop {
  std::vector<Window> windows;            // stacking order, topmost first
  std::optional<int64_t> currentDesktop;  // none where the system has no desktops
  // Whether the system takes requests to activate a window (an X11 window manager may announce
  // no _NET_ACTIVE_WINDOW): without, focus refuses instead of waiting in vain.
  bool activates = true;
};

// What a launch gave: the process started, or why none was.
struct Launched {
  int32_t pid = 0;         // 0: nothing was started
  bool unknownId = false;  // the application id names no application
  std::string error;       // why nothing was started
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Every top-level window, or none (with the reason in `error`) when the system offers no list
  // (an X window manager without EWMH).
  virtual std::optional<Desktop> read(std::string& error) = 0;
  // Why this system tells no window's place ("" where it does): "at" is then refused.
  virtual std::string placesUnknown() { return ""; }
  // The window the system reports active, 0 when none.
  virtual uint64_t activeWindow() = 0;
  // Whether the window still exists.
  virtual bool exists(uint64_t id) = 0;

  // Shows that desktop.
  virtual void showDesktop(int64_t desktop) = 0;
  // Whether a window can still be moving once it is active (window managers that animate it back
  // from minimised or from another desktop); false where the system places it at once.
  virtual bool animates() { return true; }
  // Asks the system to un-minimise, activate and raise the window. The answer comes later:
  // activeWindow() reports it.
  virtual void activate(const Window& window) = 0;

  // Starts the application with that id (X11: a desktop file's id or path; macOS: a bundle
  // identifier or an application's path), detached from this process.
  virtual Launched launchApplication(const std::string& id) = 0;
  // Starts the program with these arguments, detached, never through a shell.
  virtual Launched launchCommand(const std::vector<std::string>& argv) = 0;
  // Whether a process started by a launch is still running.
  virtual bool running(int32_t pid) = 0;

  // Blocks until the system reports a change (windows, the active window) or `seconds` pass.
  virtual void waitForChange(double seconds) = 0;
  // Seconds on a monotonic clock.
  virtual double now() = 0;
};

// The window system's backend of this build (chosen by CMake). Gives none, with the reason in
// `error`, when the window system cannot be reached.
std::unique_ptr<Platform> createSystemPlatform(std::string& error);

}  // namespace win
