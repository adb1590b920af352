// Window properties as the tools read them, and the window in front.
//
// A property read is split in two like every request: ask() sends it, the readers below take
// the reply, so a caller can send the reads of many windows before it waits for the first.
// A read that fails (the window closed, the property is missing or of another type) gives no
// value, never an error.
//
// X quirks these readers rely on:
// - A property asked for with a type it does not have comes back with its own type and no
//   value; the readers compare the type, so such a property reads as missing.
// - Format-32 values are 32 bits on the wire and in XCB's replies (Xlib widens them to longs).
// - WM_NAME of type STRING is Latin-1; _NET_WM_NAME is UTF-8.
// - WM_CLASS holds the instance name and then the class name, each ended by a NUL.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "desktop/x11/connection.h"

namespace mevrik::desktop::x11 {

using PropertyCookie = xcb_get_property_cookie_t;
using PropertyReply = Reply<xcb_get_property_reply_t>;

// Sends a read of up to `longs` 32-bit units of the property (of any type when `type` is
// XCB_GET_PROPERTY_TYPE_ANY).
PropertyCookie ask(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                   uint32_t longs);
PropertyReply takeProperty(xcb_connection_t* c, PropertyCookie cookie);

// The property's 32-bit values, when it has the type (any type when `type` is XCB_ATOM_NONE).
std::vector<uint32_t> cardinals(const PropertyReply& reply, xcb_atom_t type);
// The first of them, or none.
std::optional<uint32_t> firstCardinal(const PropertyReply& reply, xcb_atom_t type);
// The property's bytes (format 8) whatever its type; "" when it is missing or not bytes.
std::string bytes(const PropertyReply& reply);
// The property's bytes when it has the type and at least one byte; none otherwise.
std::optional<std::string> text(const PropertyReply& reply, xcb_atom_t type);

// One 32-bit value, read at once (a round trip); none without the property or the atom.
std::optional<uint32_t> readCard32(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property,
                                   xcb_atom_t type);

std::string latin1ToUtf8(const std::string& text);

// WM_CLASS split into the instance name and the class name ("" for a part that is missing).
struct WmClass {
  std::string instance;
  std::string name;
};
WmClass splitWmClass(const std::string& raw);

// The window the window manager names active (_NET_ACTIVE_WINDOW) and its process id
// (_NET_WM_PID).
struct Frontmost {
  xcb_window_t window = XCB_WINDOW_NONE;  // none when the window manager names none
  int32_t pid = 0;                        // 0 when unknown
};
// Two round trips (the window, then its pid), plus the atoms' replies if not yet read.
Frontmost readFrontmost(xcb_connection_t* c, xcb_window_t root, Atoms& atoms);

}  // namespace mevrik::desktop::x11
