// The window list of an X11 window manager through EWMH, on an XCB connection: what vantic-win's
// X11 backend reads, and what vantic-click reads to tell which window a point belongs to.
#pragma once

#include <xcb/xcb.h>

#include <optional>
#include <string>

#include "win/platform.h"

namespace win::x11 {

// The atoms of the EWMH properties, asked for at construction and taken when first needed.
class WindowReader {
 public:
  WindowReader(xcb_connection_t* connection, xcb_window_t root);
  ~WindowReader();
  WindowReader(const WindowReader&) = delete;
  WindowReader& operator=(const WindowReader&) = delete;

  // Every managed top-level window, topmost first, with its frame in root-window pixels; none,
  // with the reason in `error`, when no EWMH window manager runs.
  std::optional<Desktop> read(std::string& error);
  // _NET_ACTIVE_WINDOW, 0 when none.
  uint64_t activeWindow();

  enum Atom {
    kSupportingWmCheck,
    kClientListStacking,
    kActiveWindow,
    kCurrentDesktop,
    kWmPid,
    kWmName,
    kUtf8String,
    kWmState,
    kWmStateHidden,
    kWmDesktop,
    kFrameExtents,
    kRestackWindow,
    kSupported,
    kAtomCount
  };
  xcb_atom_t atom(Atom which);

 private:
  xcb_connection_t* c_;
  xcb_window_t root_;
  std::optional<xcb_intern_atom_cookie_t> cookies_[kAtomCount];
  xcb_atom_t atoms_[kAtomCount] = {};
};

}  // namespace win::x11
