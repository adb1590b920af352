// What the XCB backends of vantic-type and vantic-shot share: owning pointers for the connection
// and for replies, a reply wait that turns every error into no value, the connection to the
// display's default screen, and the frontmost window.
//
// XCB reports protocol errors as values, so a window that closes between two requests can never
// end the process; every read here has a fallback.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace mevrik::xcb {

struct ConnectionCloser {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using ConnectionPtr = std::unique_ptr<xcb_connection_t, ConnectionCloser>;

// XCB hands over replies, errors and events as malloc'ed blocks.
struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// Waits for the reply to a request; an error reply (or a broken connection) gives none.
template <auto replyOf, typename Cookie>
auto take(xcb_connection_t* connection, Cookie cookie) {
  xcb_generic_error_t* rawError = nullptr;
  using Body = std::remove_pointer_t<decltype(replyOf(connection, cookie, &rawError))>;
  Reply<Body> reply(replyOf(connection, cookie, &rawError));
  Reply<xcb_generic_error_t> error(rawError);
  return reply;
}

// A request that leaves at once; its answer is read when needed.
inline xcb_intern_atom_cookie_t askAtom(xcb_connection_t* c, const char* name) {
  // only_if_exists: an atom nobody made means that no client ever set such a property.
  return xcb_intern_atom(c, true, static_cast<uint16_t>(std::char_traits<char>::length(name)),
                         name);
}

inline xcb_atom_t atomOf(xcb_connection_t* c, xcb_intern_atom_cookie_t cookie) {
  auto reply = take<xcb_intern_atom_reply>(c, cookie);
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The first 32-bit value of a window's property of that type, or none.
inline std::optional<uint32_t> readCard32(xcb_connection_t* c, xcb_window_t window,
                                          xcb_atom_t property, xcb_atom_t type) {
  if (property == XCB_ATOM_NONE) return std::nullopt;
  auto reply =
      take<xcb_get_property_reply>(c, xcb_get_property(c, false, window, property, type, 0, 1));
  if (!reply || reply->type != type || reply->format != 32 ||
      xcb_get_property_value_length(reply.get()) < static_cast<int>(sizeof(uint32_t))) {
    return std::nullopt;
  }
  return *static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
}

// The display of $DISPLAY, on its default screen.
struct Display {
  ConnectionPtr connection;
  const xcb_setup_t* setup = nullptr;
  xcb_screen_t* screen = nullptr;
};

// None when the display cannot be reached.
inline std::optional<Display> connect() {
  int screenNumber = 0;
  Display display;
  display.connection.reset(xcb_connect(nullptr, &screenNumber));
  xcb_connection_t* c = display.connection.get();
  if (xcb_connection_has_error(c)) return std::nullopt;
  display.setup = xcb_get_setup(c);
  auto screens = xcb_setup_roots_iterator(display.setup);
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem <= 0) return std::nullopt;
  display.screen = screens.data;
  return display;
}

// "cannot open the X display "NAME"; " followed by what was therefore not done.
inline std::string unreachable(const std::string& consequence) {
  const char* name = std::getenv("DISPLAY");
  return std::string("cannot open the X display \"") + (name ? name : "") + "\"; " + consequence;
}

// A name for the X server of $DISPLAY that tells it from the other servers this user reaches:
// "x11-N" for local display N (":N", "unix:N"), "x11-HOST-N" for one over the network. None
// when $DISPLAY cannot be read.
inline std::optional<std::string> displayKey() {
  char* rawHost = nullptr;
  int number = 0;
  if (!xcb_parse_display(nullptr, &rawHost, &number, nullptr)) return std::nullopt;
  std::string host = rawHost ? rawHost : "";
  std::free(rawHost);
  if (host == "unix") host.clear();
  for (char& c : host) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-';
    if (!plain) c = '_';
  }
  return "x11-" + (host.empty() ? "" : host + "-") + std::to_string(number);
}

// The window the window manager names active (_NET_ACTIVE_WINDOW) and its process id
// (_NET_WM_PID); the atoms come from askAtom.
struct Frontmost {
  xcb_window_t window = XCB_WINDOW_NONE;
  int32_t pid = 0;  // 0 when unknown
};

inline Frontmost readFrontmost(xcb_connection_t* c, xcb_window_t root, xcb_atom_t activeAtom,
                               xcb_atom_t pidAtom) {
  Frontmost front;
  auto window = readCard32(c, root, activeAtom, XCB_ATOM_WINDOW);
  if (!window || *window == XCB_WINDOW_NONE) return front;
  front.window = *window;
  auto pid = readCard32(c, *window, pidAtom, XCB_ATOM_CARDINAL);
  if (pid && *pid != 0 && *pid <= INT32_MAX) front.pid = static_cast<int32_t>(*pid);
  return front;
}

}  // namespace mevrik::xcb
