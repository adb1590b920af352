// The X11 session's connection as every tool's X11 backend holds it, on XCB: owning pointers for
// the connection and for replies, a reply wait that turns every error into no value, the
// display's default screen, and the atoms the tools use, asked for early and read late.
//
// The tools live for one action, so their cost is mostly process start and round trips to the
// server. XCB lets requests go out before earlier replies are in: a backend sends at connect
// everything that needs no earlier reply (atoms, extension queries, the first reads), and takes
// the replies when it needs them, so they all arrive in one round trip. XCB also reports protocol
// errors as values, so a window that closes between two requests can never end the process.
//
// Plain XCB and nothing else, so that the statically linked vantic-click can use it: the library
// links no X library itself, each program links XCB (shared, or its archives).
#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "desktop/session.h"

namespace mevrik::desktop::x11 {

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

// One round trip: returns once the server has processed every request sent before.
void roundTrip(xcb_connection_t* c);

// The display of $DISPLAY, on its default screen.
struct Display {
  ConnectionPtr connection;
  const xcb_setup_t* setup = nullptr;
  xcb_screen_t* screen = nullptr;
};

// None when the display cannot be reached.
std::optional<Display> connect();

// "cannot open the X display "NAME"; " followed by what was therefore not done.
std::string unreachable(const std::string& consequence);

// A tool's backends, one per session family it serves. Each gives none, with the line to print
// in `error`, when it cannot serve; the X11 one is handed the display.
template <class Platform>
struct Backends {
  std::unique_ptr<Platform> (*x11)(Display display, std::string& error);
  std::unique_ptr<Platform> (*wlroots)(std::string& error);
  std::unique_ptr<Platform> (*gnome)(std::string& error);
  std::unique_ptr<Platform> (*kde)(std::string& error);

  // The backend for the session `tool` runs in. Another Wayland compositor is refused with why
  // X11 does not serve it (its X server is XWayland, which sees only its own clients); that line
  // and the one for a display out of reach end with what was therefore not done.
  std::unique_ptr<Platform> pick(std::string_view tool, std::string_view whyNotX11,
                                 std::string_view nothingDone, std::string& error) const {
    const Session session = detectSession();
    if (session == Session::kWlroots) return wlroots(error);
    if (session == Session::kGnome) return gnome(error);
    if (session == Session::kKde) return kde(error);
    if (isWayland(session)) {
      error = refusal(session, tool, whyNotX11, nothingDone);
      return nullptr;
    }
    std::optional<Display> display = connect();
    if (!display) {
      error = unreachable(std::string(nothingDone));
      return nullptr;
    }
    return x11(std::move(*display), error);
  }
};

// An X11 backend made of the display alone.
template <class Platform, class Backend>
std::unique_ptr<Platform> make(Display display, std::string&) {
  return std::make_unique<Backend>(std::move(display));
}

// A name for the X server of $DISPLAY that tells it from the other servers this user reaches:
// "x11-N" for local display N (":N", "unix:N"), "x11-HOST-N" for one over the network. None
// when $DISPLAY cannot be read.
std::optional<std::string> displayKey();

// The atoms the tools read and send; their names are in connection.cc. The predefined ones
// (WM_NAME, WM_CLASS, STRING, CARDINAL, WINDOW...) are XCB_ATOM_ constants instead.
enum class Atom : uint8_t {
  kActiveWindow,        // _NET_ACTIVE_WINDOW
  kWmPid,               // _NET_WM_PID
  kSupportingWmCheck,   // _NET_SUPPORTING_WM_CHECK
  kClientListStacking,  // _NET_CLIENT_LIST_STACKING
  kClientList,          // _NET_CLIENT_LIST
  kCurrentDesktop,      // _NET_CURRENT_DESKTOP
  kWmName,              // _NET_WM_NAME
  kUtf8String,          // UTF8_STRING
  kWmState,             // _NET_WM_STATE
  kWmStateHidden,       // _NET_WM_STATE_HIDDEN
  kWmDesktop,           // _NET_WM_DESKTOP
  kFrameExtents,        // _NET_FRAME_EXTENTS
  kRestackWindow,       // _NET_RESTACK_WINDOW
  kWmProtocols,         // WM_PROTOCOLS
  kWmPing,              // _NET_WM_PING
  kGtkFrameExtents,     // _GTK_FRAME_EXTENTS
  kGtkApplicationId,    // _GTK_APPLICATION_ID
  kSupported,           // _NET_SUPPORTED
  kCount
};

// Atoms asked for at construction, all in the same write as whatever else the caller sends
// then; each reply is read the first time its atom is used. An atom used without having been
// asked for is asked for then (a round trip of its own).
//
// Atoms are asked for with only_if_exists: an atom nobody made means that no client ever set
// such a property, and reads as XCB_ATOM_NONE.
class Atoms {
 public:
  Atoms(xcb_connection_t* c, std::initializer_list<Atom> wanted);
  // Replies never taken would otherwise wait in the connection's queue until it closes.
  ~Atoms();
  Atoms(const Atoms&) = delete;
  Atoms& operator=(const Atoms&) = delete;

  xcb_atom_t operator[](Atom which);

 private:
  static constexpr size_t kCount = static_cast<size_t>(Atom::kCount);
  void ask(Atom which);

  xcb_connection_t* c_;
  std::array<std::optional<xcb_intern_atom_cookie_t>, kCount> pending_{};
  std::array<bool, kCount> known_{};
  std::array<xcb_atom_t, kCount> values_{};
};

}  // namespace mevrik::desktop::x11
