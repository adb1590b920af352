// The window list of an X11 window manager through EWMH, on an XCB connection: what vantic-win's
// X11 backend reads, and what vantic-click reads to tell which window a point belongs to.
#pragma once

#include <xcb/xcb.h>

#include <optional>
#include <string>

#include "desktop/x11/connection.h"
#include "win/platform.h"

namespace win::x11 {

// The atoms of the EWMH properties, asked for at construction and taken when first needed.
class WindowReader {
 public:
  WindowReader(xcb_connection_t* connection, xcb_window_t root);
  WindowReader(const WindowReader&) = delete;
  WindowReader& operator=(const WindowReader&) = delete;

  // Every managed top-level window, topmost first, with its frame in root-window pixels; none,
  // with the reason in `error`, when no EWMH window manager runs.
  std::optional<Desktop> read(std::string& error);
  // _NET_ACTIVE_WINDOW, 0 when none.
  uint64_t activeWindow();

  // The atoms, shared with the backend that sends the window manager its messages.
  mevrik::desktop::x11::Atoms& atoms() { return atoms_; }

 private:
  xcb_connection_t* c_;
  xcb_window_t root_;
  mevrik::desktop::x11::Atoms atoms_;
};

}  // namespace win::x11
