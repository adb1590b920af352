// The X11 side of the Linux snapshot backend: the active window as the window manager names it,
// that window's properties, and the monitors.
//
// AT-SPI has no cheap way to ask which application has the focus, nor what title the user sees
// on a window; the window manager's properties answer both. Xlib's headers stay in the .cc file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ax/platform.h"

struct _XDisplay;

namespace ax {

// What the window manager and the toolkit say about one top-level window.
struct WindowFacts {
  std::string title;  // _NET_WM_NAME, else WM_NAME, else ""
  int width = 0;      // in root-window pixels; 0 when unknown
  int height = 0;
  double contentX = 0, contentY = 0;   // where its content starts on the root window
  std::optional<std::string> wmClass;  // WM_CLASS's class name
  // _GTK_APPLICATION_ID of the window, or of the window it is transient for (a dialog names its
  // main window), else the class name.
  std::optional<std::string> applicationId;
};

class X11Display {
 public:
  // Installs an error handler that ignores failed requests (a window can vanish between two
  // requests, and that must only mean "no value"); the destructor restores the previous one.
  X11Display();
  ~X11Display();
  X11Display(const X11Display&) = delete;
  X11Display& operator=(const X11Display&) = delete;

  // Opens the display on first use. False when there is none.
  bool available();
  // The active window (_NET_ACTIVE_WINDOW) and its process id (_NET_WM_PID), when the window
  // manager names both.
  std::optional<std::pair<unsigned long, int32_t>> activeWindow();
  WindowFacts describe(unsigned long window);
  // The process id (_NET_WM_PID) of a window that exists; none for one that does not or that
  // names no process.
  std::optional<int32_t> windowPid(unsigned long window);
  // The topmost of the window manager's client windows (_NET_CLIENT_LIST_STACKING, else
  // _NET_CLIENT_LIST) that belongs to the process.
  std::optional<unsigned long> topWindowOf(int32_t pid);
  // The screens: the root window, which holds every monitor. Read once.
  const std::vector<Rect>& monitors();
  // The top-left corners of the monitors XRandR lists, in root-window pixels. Read once.
  const std::vector<Point>& monitorCorners();

 private:
  _XDisplay* display();

  _XDisplay* display_ = nullptr;
  bool tried_ = false;
  std::optional<std::vector<Rect>> monitors_;
  std::optional<std::vector<Point>> corners_;
  void (*previousHandler_)() = nullptr;  // Xlib's XErrorHandler, kept without Xlib's headers
};

}  // namespace ax
