// What the window manager and the toolkits say about one top-level window, and the monitors:
// what a snapshot needs from X11 besides the accessibility tree.
//
// AT-SPI has no cheap way to ask which application has the focus, nor what title the user sees
// on a window; the window manager's properties answer both. Every read of one window leaves in
// one write and is answered in one round trip.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "desktop/windows.h"
#include "desktop/x11/connection.h"
#include "desktop/x11/properties.h"

namespace mevrik::desktop::x11 {

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

class FactsReader {
 public:
  FactsReader() = default;
  FactsReader(const FactsReader&) = delete;
  FactsReader& operator=(const FactsReader&) = delete;

  // Opens the display on first use. False when there is none.
  bool available();
  // The active window and its process id, when the window manager names both.
  std::optional<std::pair<xcb_window_t, int32_t>> activeWindow();
  WindowFacts describe(xcb_window_t window);
  // The process id (_NET_WM_PID) of a window that exists; none for one that does not or that
  // names no process.
  std::optional<int32_t> windowPid(uint64_t window);
  // The topmost of the window manager's client windows (_NET_CLIENT_LIST_STACKING, else
  // _NET_CLIENT_LIST) that belongs to the process.
  std::optional<xcb_window_t> topWindowOf(int32_t pid);
  // The root window, which holds every monitor; none without a display.
  std::optional<Box> root();
  // The top-left corners of the monitors RandR lists, in root-window pixels. Read once.
  const std::vector<std::pair<int64_t, int64_t>>& monitorCorners();

 private:
  xcb_connection_t* connection();

  std::optional<Display> display_;
  std::optional<Atoms> atoms_;
  bool tried_ = false;
  std::optional<std::vector<std::pair<int64_t, int64_t>>> corners_;
};

}  // namespace mevrik::desktop::x11
