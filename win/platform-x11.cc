// The X11 backend of vantic-win: the window list from the window manager's EWMH properties
// (windows-x11.cc), activation through its client messages, and launching on POSIX
// (launch-posix.cc).
//
// X quirks this file relies on, with the reasons:
// - Window managers guard focus against stealing by the timestamp of a _NET_ACTIVE_WINDOW request.
//   CurrentTime is refused or deferred by some, so the request carries a real server time,
//   taken from the PropertyNotify that a zero-length append to a property of our own window
//   produces (the ICCCM way to learn the server's time without an input event).
// - Source indication 2 says that the request comes from a pager-like tool acting for the user,
//   which window managers honour without their focus-stealing rules.
// - Mapping a minimised (iconic) window asks the window manager to show it again (ICCCM); EWMH
//   window managers also do so on activation. Both are sent.
// - The wait for the result listens for PropertyNotify on the root window (the window manager
//   updates _NET_ACTIVE_WINDOW and the client list there), so it ends as soon as the answer
//   comes instead of polling.
#include <poll.h>

#include <array>
#include <cmath>
#include <cstdlib>

#include "desktop/x11/connection.h"
#include "win/launch-posix.h"
#include "win/platform-gnome.h"
#include "win/platform-wlroots.h"
#include "win/platform.h"
#include "win/windows-x11.h"

namespace win {
namespace {

namespace dx11 = mevrik::desktop::x11;
using dx11::Atom;
using dx11::take;
using x11::WindowReader;

constexpr uint32_t kSourcePager = 2;
constexpr uint32_t kStackAbove = 0;

class X11Platform : public PosixPlatform {
 public:
  X11Platform(dx11::Display display)
      : display_(std::move(display)),
        c_(display_.connection.get()),
        root_(display_.screen->root),
        reader_(c_, root_) {}

  std::optional<Desktop> read(std::string& error) override { return reader_.read(error); }

  uint64_t activeWindow() override { return reader_.activeWindow(); }

  bool exists(uint64_t id) override {
    return take<xcb_get_window_attributes_reply>(
               c_, xcb_get_window_attributes(c_, static_cast<xcb_window_t>(id))) != nullptr;
  }

  void showDesktop(int64_t desktop) override {
    watch();
    message(root_, reader_.atoms()[Atom::kCurrentDesktop],
            {static_cast<uint32_t>(desktop), serverTime(), 0, 0, 0});
  }

  void activate(const Window& window) override {
    watch();
    const auto id = static_cast<xcb_window_t>(window.id);
    if (window.minimized) xcb_map_window(c_, id);
    message(id, reader_.atoms()[Atom::kActiveWindow],
            {kSourcePager, serverTime(), static_cast<uint32_t>(reader_.activeWindow()), 0, 0});
    message(id, reader_.atoms()[Atom::kRestackWindow],
            {kSourcePager, XCB_WINDOW_NONE, kStackAbove, 0, 0});
    xcb_flush(c_);
  }

  void waitForChange(double seconds) override {
    xcb_flush(c_);
    if (drainEvents()) return;
    pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
    const int ms = static_cast<int>(std::ceil(std::max(seconds, 0.0) * 1000));
    poll(&fd, 1, ms);
    drainEvents();
  }

 protected:
  // From here on the root's property changes (the active window, the client list) arrive as
  // events; selected before any request, so that no answer can come unseen.
  void watch() override {
    if (watching_) return;
    watching_ = true;
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
  }

 private:
  // True when events had arrived.
  bool drainEvents() {
    bool any = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
      std::free(event);
      any = true;
    }
    return any;
  }

  xcb_timestamp_t serverTime() {
    if (time_) return *time_;
    time_ = XCB_CURRENT_TIME;
    const xcb_window_t own = xcb_generate_id(c_);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c_, 0, own, root_, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    xcb_change_property(c_, XCB_PROP_MODE_APPEND, own, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0,
                        nullptr);
    xcb_flush(c_);
    while (xcb_generic_event_t* event = xcb_wait_for_event(c_)) {
      const bool ours = (event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY &&
                        reinterpret_cast<xcb_property_notify_event_t*>(event)->window == own;
      if (ours) time_ = reinterpret_cast<xcb_property_notify_event_t*>(event)->time;
      std::free(event);
      if (ours) break;
    }
    xcb_destroy_window(c_, own);
    return *time_;
  }

  void message(xcb_window_t window, xcb_atom_t type, std::array<uint32_t, 5> data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    for (size_t i = 0; i < 5; ++i) event.data.data32[i] = data[i];
    xcb_send_event(c_, false, root_,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
  }

  dx11::Display display_;
  xcb_connection_t* c_;
  xcb_window_t root_;
  WindowReader reader_;
  bool watching_ = false;
  std::optional<xcb_timestamp_t> time_;
};

}  // namespace

std::unique_ptr<Platform> createSystemPlatform(std::string& error) {
  // In a Wayland session the X server is XWayland, which sees only the X clients' windows.
  return dx11::Backends<Platform>{dx11::make<Platform, X11Platform>, createWlrootsPlatform,
                                  createGnomePlatform, createKwinPlatform}
      .pick("vantic-win", "X11 sees only XWayland's windows", "nothing was done", error);
}

}  // namespace win
