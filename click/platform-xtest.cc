// The X11 backend of vantic-click: XTest input for the events, root-window properties for the
// frontmost application, XQueryPointer for the cursor.
//
// X quirks this file relies on, with the reasons:
// - Every event is flushed to the server at once, and every wait begins with XSync: the wait then
//   starts only when the server has processed everything before it, so the gaps the server (and
//   the toolkits that count clicks by time) sees are the plan's. Flushing alone lets a wait start
//   while requests are still queued; under a window manager's synchronous button grabs the
//   server then took the first click of a double click late and the gap between the clicks
//   shrank below the plan. Syncing after every event as well would add a round trip per event
//   and gain nothing: requests on one connection are processed in order.
// - X has no delivery to one process: an event meant for one pid goes system-wide.
// - Toolkits count clicks themselves from the timing and position of presses, so the click
//   state an event carries has nothing to map to and is dropped.
// - The protocol's coordinates are 16-bit: points are taken to the pixel that contains them and
//   clamped into that range, so infinities, NaN and huge values cannot overflow a conversion.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "click/platform.h"

namespace click {
namespace {

// Wheel clicks per axis at most. A line unit is one wheel click, and a caller may pass up to
// 2^31 lines: posting them all would take hours. A thousand clicks reach the end of any view a
// person would scroll, and take milliseconds.
constexpr int64_t kMaxWheelClicks = 1000;

constexpr unsigned kButtonForLeft = 1;
constexpr unsigned kButtonForMiddle = 2;
constexpr unsigned kButtonForRight = 3;
constexpr unsigned kWheelUp = 4;     // vertical, positive amounts
constexpr unsigned kWheelDown = 5;   // vertical, negative amounts
constexpr unsigned kWheelLeft = 6;   // horizontal, positive amounts
constexpr unsigned kWheelRight = 7;  // horizontal, negative amounts

// XTestFakeMotionEvent's screen argument for "the screen the pointer is on".
constexpr int kPointerScreen = -1;

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

struct XFreeDeleter {
  void operator()(unsigned char* data) const { XFree(data); }
};

// Xlib's default handler ends the process on any protocol error, such as a BadWindow for an
// active window that closed between two requests. Every read here has a fallback instead.
int ignoreProtocolError(Display*, XErrorEvent*) {
  return 0;
}

int toPixel(double value) {
  if (std::isnan(value)) return 0;
  double pixel = std::floor(value);
  return static_cast<int>(std::clamp(pixel, -32768.0, 32767.0));
}

struct XTestEvent : Event {
  bool isScroll = false;
  EventType type = kMouseMoved;
  MouseButton button = kButtonLeft;
  Point at;
  int32_t vertical = 0;
  int32_t horizontal = 0;
};

class XTestPlatform : public Platform {
 public:
  explicit XTestPlatform(DisplayPtr display) : display_(std::move(display)) {}

  int32_t frontmostPid() override {
    Display* d = display_.get();
    // Both atoms in one round trip; only_if_exists, as a missing atom means no such property.
    char* names[] = {const_cast<char*>("_NET_ACTIVE_WINDOW"), const_cast<char*>("_NET_WM_PID")};
    Atom atoms[2] = {None, None};
    XInternAtoms(d, names, 2, True, atoms);
    Atom activeAtom = atoms[0], pidAtom = atoms[1];
    if (activeAtom == None || pidAtom == None) return 0;
    auto active = readLong(DefaultRootWindow(d), activeAtom, XA_WINDOW);
    if (!active || *active == 0) return 0;
    auto pid = readLong(static_cast<Window>(*active), pidAtom, XA_CARDINAL);
    if (!pid || *pid <= 0 || *pid > INT32_MAX) return 0;
    return static_cast<int32_t>(*pid);
  }

  std::optional<Point> cursorPosition() override {
    Window root = None, child = None;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned mask = 0;
    // The result is False when the pointer is on another screen; the root coordinates are still
    // those of the pointer on its own screen.
    XQueryPointer(display_.get(), DefaultRootWindow(display_.get()), &root, &child, &rootX, &rootY,
                  &winX, &winY, &mask);
    if (root == None) return std::nullopt;
    return Point{static_cast<double>(rootX), static_cast<double>(rootY)};
  }

  std::unique_ptr<Event> createMouseEvent(EventType type, MouseButton button, Point at) override {
    auto event = std::make_unique<XTestEvent>();
    event->type = type;
    event->button = button;
    event->at = at;
    return event;
  }

  void setClickState(Event&, int64_t) override {}

  void postSystemWide(Event& base) override {
    auto& event = static_cast<XTestEvent&>(base);
    Display* d = display_.get();
    if (event.isScroll) {
      // The approach move has already put the pointer on the target; the wheel clicks go to the
      // window under it.
      wheel(event.vertical, kWheelUp, kWheelDown);
      wheel(event.horizontal, kWheelLeft, kWheelRight);
      XFlush(d);
      return;
    }
    XTestFakeMotionEvent(d, kPointerScreen, toPixel(event.at.x), toPixel(event.at.y), CurrentTime);
    switch (event.type) {
      case kLeftMouseDown:
      case kRightMouseDown:
      case kOtherMouseDown:
        XTestFakeButtonEvent(d, xButton(event.button), True, CurrentTime);
        break;
      case kLeftMouseUp:
      case kRightMouseUp:
      case kOtherMouseUp:
        XTestFakeButtonEvent(d, xButton(event.button), False, CurrentTime);
        break;
      case kMouseMoved:
      case kLeftMouseDragged:
        break;
    }
    XFlush(d);
  }

  void postToPid(int32_t, Event& event) override { postSystemWide(event); }

  std::unique_ptr<Event> createScrollEvent(int32_t wheel1, int32_t wheel2, int32_t) override {
    auto event = std::make_unique<XTestEvent>();
    event->isScroll = true;
    event->vertical = wheel1;
    event->horizontal = wheel2;
    return event;
  }

  void setLocation(Event& event, Point at) override { static_cast<XTestEvent&>(event).at = at; }

  void release(std::unique_ptr<Event>) override {}

  void warpCursor(Point to) override {
    // An XTest motion rather than XWarpPointer: it moves the pointer the way a user would, so
    // toolkits see the pointer leave the window they were just clicked in.
    XTestFakeMotionEvent(display_.get(), kPointerScreen, toPixel(to.x), toPixel(to.y), CurrentTime);
    XFlush(display_.get());
  }

  void sleepMicroseconds(uint32_t microseconds) override {
    XSync(display_.get(), False);
    timespec left{static_cast<time_t>(microseconds / 1000000),
                  static_cast<long>(microseconds % 1000000) * 1000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

 private:
  std::optional<unsigned long> readLong(Window window, Atom property, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* raw = nullptr;
    int status = XGetWindowProperty(display_.get(), window, property, 0, 1, False, type,
                                    &actualType, &format, &count, &after, &raw);
    std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
    if (status != Success || !data || actualType != type || format != 32 || count < 1) {
      return std::nullopt;
    }
    // Xlib hands format-32 data over as an array of long, whatever the size of long.
    return static_cast<unsigned long>(reinterpret_cast<long*>(data.get())[0]);
  }

  static unsigned xButton(MouseButton button) {
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

  void wheel(int32_t amount, unsigned positive, unsigned negative) {
    unsigned button = amount > 0 ? positive : negative;
    int64_t clicks = std::min<int64_t>(std::abs(static_cast<int64_t>(amount)), kMaxWheelClicks);
    for (int64_t i = 0; i < clicks; ++i) {
      XTestFakeButtonEvent(display_.get(), button, True, CurrentTime);
      XTestFakeButtonEvent(display_.get(), button, False, CurrentTime);
    }
  }

  DisplayPtr display_;
};

}  // namespace

std::unique_ptr<Platform> openSystemPlatform(std::string& error) {
  const char* name = XDisplayName(nullptr);
  // The keyboard extension is of no use here, and Xlib would set it up with two round trips at
  // open: the tool's whole run is a handful of round trips, so that counts.
  XkbIgnoreExtension(True);
  DisplayPtr display(XOpenDisplay(nullptr));
  if (!display) {
    error = std::string("cannot open the X display \"") + (name ? name : "") +
            "\"; no pointer action was performed";
    return nullptr;
  }
  // Resetting the grab control (to its default) is the cheapest XTest request that reports a
  // missing extension: it has no reply, unlike the version query.
  if (!XTestGrabControl(display.get(), False)) {
    error = "the X server has no XTEST extension; no pointer action was performed";
    return nullptr;
  }
  XSetErrorHandler(ignoreProtocolError);
  return std::make_unique<XTestPlatform>(std::move(display));
}

}  // namespace click
