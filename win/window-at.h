// Which window a click at a point reaches, from a window list: shared by vantic-win's "at" and
// vantic-click's guard, so that both always name the same window.
#pragma once

#include "win/platform.h"

namespace win {

// Whether a click could reach the window: not minimised, and on the desktop shown.
inline bool onScreen(const Window& window, std::optional<int64_t> currentDesktop) {
  if (window.shown) return *window.shown;
  if (window.minimized) return false;
  return !window.desktop || !currentDesktop || *window.desktop == kAllDesktops ||
         *window.desktop == *currentDesktop;
}

// The topmost window on screen whose frame holds the point, or none.
inline const Window* windowAt(const Desktop& desktop, Point at) {
  for (const Window& w : desktop.windows) {
    if (!onScreen(w, desktop.currentDesktop)) continue;
    if (at.x >= static_cast<double>(w.x) && at.x < static_cast<double>(w.x + w.w) &&
        at.y >= static_cast<double>(w.y) && at.y < static_cast<double>(w.y + w.h)) {
      return &w;
    }
  }
  return nullptr;
}

}  // namespace win
