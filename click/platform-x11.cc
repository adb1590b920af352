// The X11 backend of vantic-click, on XCB: XTest FakeInput for the events, root-window properties
// for the frontmost application, QueryPointer for the cursor.
//
// The tool lives for one action, so its cost is mostly process start and round trips to the
// server. XCB lets requests go out before earlier replies are in: at connect the XTEST extension
// query, both atoms and the first cursor read leave together and answer in one round trip, and
// the only waits on the server after that are the ones that depend on a reply (the two property
// reads) and the syncs before the plan's waits. XCB also reports protocol errors as values, so an
// error (a BadWindow for an active window that closed between two requests) can never end the
// process; every read here has a fallback.
//
// X quirks this file relies on, with the reasons:
// - Every event is flushed to the server at once, and every wait begins with a round trip
//   (GetInputFocus): the wait then starts only when the server has processed everything before
//   it, so the gaps the server (and the toolkits that count clicks by time) sees are the plan's.
//   Flushing alone lets a wait start while requests are still queued; under a window manager's
//   synchronous button grabs the server then took the first click of a double click late and the
//   gap between the clicks shrank below the plan. Syncing after every event as well would add a
//   round trip per event and gain nothing: requests on one connection are processed in order.
// - The protocol's coordinates are 16-bit: points are taken to the pixel that contains them and
//   clamped into that range, so infinities, NaN and huge values cannot overflow a conversion.
// - The connection never asks for BIG-REQUESTS (XCB does only when a request outgrows the
//   setup's limit, which these small requests never do): that would cost a round trip.
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xproto.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "click/platform-injecting.h"
#include "desktop/x11/connection.h"
#include "desktop/x11/properties.h"
#include "win/window-at.h"
#include "win/windows-x11.h"

namespace click {
namespace {

// Wheel clicks per axis at most. A line unit is one wheel click, and a caller may pass up to
// 2^31 lines: posting them all would take hours. A thousand clicks reach the end of any view a
// person would scroll, and take milliseconds.
constexpr int64_t kMaxWheelClicks = 1000;

constexpr uint8_t kButtonForLeft = 1;
constexpr uint8_t kButtonForMiddle = 2;
constexpr uint8_t kButtonForRight = 3;
constexpr uint8_t kWheelUp = 4;     // vertical, positive amounts
constexpr uint8_t kWheelDown = 5;   // vertical, negative amounts
constexpr uint8_t kWheelLeft = 6;   // horizontal, positive amounts
constexpr uint8_t kWheelRight = 7;  // horizontal, negative amounts

// FakeInput's root for a motion: none means the screen the pointer is on. The detail 0 makes
// the motion absolute.
constexpr xcb_window_t kPointerScreen = XCB_NONE;
constexpr uint8_t kAbsoluteMotion = 0;
// FakeInput's device for core events: the server uses its XTest device.
constexpr uint8_t kCoreDevice = 0;

namespace x11 = mevrik::desktop::x11;
using x11::Atom;
using x11::take;

int16_t toPixel(double value) {
  if (std::isnan(value)) return 0;
  return static_cast<int16_t>(std::clamp(std::floor(value), -32768.0, 32767.0));
}

class X11Platform : public InjectingPlatform {
 public:
  // `atoms` and `earlyPointer` were sent at connect, before their replies are needed.
  X11Platform(x11::Display display, xcb_query_pointer_cookie_t earlyPointer)
      : display_(std::move(display)),
        c_(display_.connection.get()),
        root_(display_.screen->root),
        atoms_(c_, {Atom::kActiveWindow, Atom::kWmPid}),
        earlyPointer_(earlyPointer) {}

  ~X11Platform() override {
    if (earlyPointer_) xcb_discard_reply(c_, earlyPointer_->sequence);
  }

  X11Platform(const X11Platform&) = delete;
  X11Platform& operator=(const X11Platform&) = delete;

  int32_t frontmostPid() override { return x11::readFrontmost(c_, root_, atoms_).pid; }

  std::optional<Point> cursorPosition() override {
    // The read sent at connect stands for the cursor until the first event goes out.
    xcb_query_pointer_cookie_t cookie =
        earlyPointer_ ? *earlyPointer_ : xcb_query_pointer(c_, root_);
    earlyPointer_.reset();
    // same_screen is false when the pointer is on another screen; the root coordinates are
    // still those of the pointer on its own screen.
    auto reply = take<xcb_query_pointer_reply>(c_, cookie);
    if (!reply) return std::nullopt;
    return Point{static_cast<double>(reply->root_x), static_cast<double>(reply->root_y)};
  }

  // The window manager's window list (EWMH), read only for a guarded click: the same reading
  // and the same rule as vantic-win at.
  WindowLookup windowAt(Point at) override {
    WindowLookup lookup;
    win::x11::WindowReader reader(c_, root_);
    auto desktop = reader.read(lookup.error);
    if (!desktop) return lookup;
    if (const win::Window* w = win::windowAt(*desktop, {at.x, at.y})) {
      lookup.window = TargetWindow{w->id, w->pid, w->app, w->title};
    }
    return lookup;
  }

  void warpCursor(Point to) override {
    // An XTest motion rather than WarpPointer: it moves the pointer the way a user would, so
    // toolkits see the pointer leave the window they were just clicked in.
    beforeEvent();
    motion(to);
    xcb_flush(c_);
  }

  bool buttonDown(MouseButton which) override {
    auto reply = take<xcb_query_pointer_reply>(c_, xcb_query_pointer(c_, root_));
    const uint16_t mask = which == kButtonRight    ? XCB_BUTTON_MASK_3
                          : which == kButtonCenter ? XCB_BUTTON_MASK_2
                                                   : XCB_BUTTON_MASK_1;
    return reply && (reply->mask & mask) != 0;
  }

  std::string journalName() override {
    const auto key = x11::displayKey();
    return key ? "click-journal-" + *key : "";
  }

  std::string lostReason() override {
    // XCB marks the connection broken for good once the server is gone; events after that
    // point were never delivered.
    if (!xcb_connection_has_error(c_)) return {};
    return "lost the connection to the X display during the action; it may be incomplete";
  }

 protected:
  void post(const InjectedEvent& event) override {
    beforeEvent();
    if (event.scroll) {
      // The approach move has already put the pointer on the target; the wheel clicks go to the
      // window under it.
      wheel(event.vertical, kWheelUp, kWheelDown);
      wheel(event.horizontal, kWheelLeft, kWheelRight);
    } else {
      motion(event.at);
      if (event.presses()) button(XCB_BUTTON_PRESS, xButton(event.button));
      if (event.releases()) button(XCB_BUTTON_RELEASE, xButton(event.button));
    }
    xcb_flush(c_);
  }

  void roundTrip() override { x11::roundTrip(c_); }

 private:
  // The early cursor read stood for the cursor before any event: once one goes out it is stale.
  void beforeEvent() {
    if (earlyPointer_) {
      xcb_discard_reply(c_, earlyPointer_->sequence);
      earlyPointer_.reset();
    }
  }

  void motion(Point at) {
    xcb_test_fake_input(c_, XCB_MOTION_NOTIFY, kAbsoluteMotion, XCB_CURRENT_TIME, kPointerScreen,
                        toPixel(at.x), toPixel(at.y), kCoreDevice);
  }

  void button(uint8_t type, uint8_t number) {
    xcb_test_fake_input(c_, type, number, XCB_CURRENT_TIME, XCB_NONE, 0, 0, kCoreDevice);
  }

  static uint8_t xButton(MouseButton button) {
    switch (button) {
      case kButtonRight:
        return kButtonForRight;
      case kButtonCenter:
        return kButtonForMiddle;
      case kButtonLeft:
        break;
    }
    return kButtonForLeft;
  }

  void wheel(int32_t amount, uint8_t positive, uint8_t negative) {
    uint8_t number = amount > 0 ? positive : negative;
    int64_t clicks = std::min<int64_t>(std::abs(static_cast<int64_t>(amount)), kMaxWheelClicks);
    for (int64_t i = 0; i < clicks; ++i) {
      button(XCB_BUTTON_PRESS, number);
      button(XCB_BUTTON_RELEASE, number);
    }
  }

  x11::Display display_;
  xcb_connection_t* c_;
  xcb_window_t root_;
  x11::Atoms atoms_;
  std::optional<xcb_query_pointer_cookie_t> earlyPointer_;
};

// Replaces this process with vantic-click-wayland from the same folder, with the same
// arguments. Returns only when that fails, with the reason in `error`.
void handOverToWayland(std::string& error) {
  const std::string tail = "; no pointer action was performed";
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string command(self, length > 0 ? static_cast<size_t>(length) : 0);
  std::string arguments;
  if (FILE* file = std::fopen("/proc/self/cmdline", "rb")) {
    char chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) arguments.append(chunk, n);
    std::fclose(file);
  }
  const size_t slash = command.rfind('/');
  if (slash == std::string::npos || arguments.empty()) {
    error = "cannot find the program's own path" + tail;
    return;
  }
  command = command.substr(0, slash + 1) + "vantic-click-wayland";
  std::vector<char*> argv;
  for (size_t at = 0; at < arguments.size(); at = arguments.find('\0', at) + 1) {
    argv.push_back(arguments.data() + at);
  }
  argv.push_back(nullptr);
  execv(command.c_str(), argv.data());
  error = "cannot start " + command + " (" + std::strerror(errno) + ")" + tail;
}

std::unique_ptr<Platform> createX11Platform(x11::Display display, std::string& error) {
  const std::string nothingDone = "no pointer action was performed";
  xcb_connection_t* c = display.connection.get();
  const xcb_window_t root = display.screen->root;

  // Everything that needs no earlier reply leaves now, in one write (the atoms with the
  // platform); the extension check below waits for the first reply, and the others arrive
  // with it.
  xcb_prefetch_extension_data(c, &xcb_test_id);
  const xcb_query_pointer_cookie_t pointer = xcb_query_pointer(c, root);
  auto platform = std::make_unique<X11Platform>(std::move(display), pointer);
  const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(c, &xcb_test_id);
  if (xcb_connection_has_error(c)) {
    error = x11::unreachable(nothingDone);
    return nullptr;
  }
  if (!xtest || !xtest->present) {
    error = "the X server has no XTEST extension; " + nothingDone;
    return nullptr;
  }
  return platform;
}

}  // namespace

std::unique_ptr<Platform> createSystemPlatform(std::string& error) {
  // In a Wayland session the X server is XWayland: XTest moves only its own pointer, which the
  // compositor does not give to Wayland windows, so a click would land nowhere or elsewhere. The
  // wlroots, KWin and GNOME backends need wayland-client and GIO, which this statically linked
  // program leaves out: its sibling program carries them and takes over the same command line.
  const auto handOver = [](std::string& why) -> std::unique_ptr<Platform> {
    handOverToWayland(why);
    return nullptr;
  };
  return x11::Backends<Platform>{createX11Platform, handOver, handOver, handOver}.pick(
      "vantic-click", "X11 input does not reach Wayland windows", "no pointer action was performed",
      error);
}

}  // namespace click
