#include "ax/atspi-x11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <memory>

namespace ax {
namespace {

struct XFreeDeleter {
  void operator()(void* p) const { XFree(p); }
};

int ignoreXError(Display*, XErrorEvent*) {
  return 0;
}

std::optional<std::vector<unsigned char>> windowProperty(Display* d, Window w, const char* name,
                                                         Atom type, int* format = nullptr) {
  Atom atom = XInternAtom(d, name, True);
  if (atom == None) return std::nullopt;
  Atom actualType = None;
  int actualFormat = 0;
  unsigned long count = 0, after = 0;
  unsigned char* raw = nullptr;
  if (XGetWindowProperty(d, w, atom, 0, 4096, False, type, &actualType, &actualFormat, &count,
                         &after, &raw) != Success) {
    return std::nullopt;
  }
  std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
  if (!data || actualType == None || count == 0) return std::nullopt;
  if (format) *format = actualFormat;
  // Format 32 items are longs in Xlib's memory, whatever their width on the wire.
  size_t bytes = actualFormat == 32   ? count * sizeof(long)
                 : actualFormat == 16 ? count * sizeof(short)
                                      : count;
  return std::vector<unsigned char>(data.get(), data.get() + bytes);
}

std::optional<unsigned long> cardinalProperty(Display* d, Window w, const char* name, Atom type) {
  int format = 0;
  auto bytes = windowProperty(d, w, name, type, &format);
  if (!bytes || format != 32 || bytes->size() < sizeof(long)) return std::nullopt;
  long value = 0;
  std::copy_n(bytes->data(), sizeof(long), reinterpret_cast<unsigned char*>(&value));
  return static_cast<unsigned long>(value);
}

std::optional<std::string> textProperty(Display* d, Window w, const char* name, Atom type) {
  auto bytes = windowProperty(d, w, name, type);
  if (!bytes) return std::nullopt;
  std::string text(bytes->begin(), bytes->end());
  return text;
}

// The system's screens: X11's first screen is the root window, which spans every monitor
// (XRandR places them side by side in it). Its frame is what the walk prunes against, so an
// application on a second monitor keeps its records, and their centres are root-window pixels,
// the points a click uses. The monitors are not screens of their own on X11.
std::vector<Rect> readMonitors(Display* d) {
  if (!d) return {};
  int screen = DefaultScreen(d);
  return {Rect{0, 0, static_cast<double>(DisplayWidth(d, screen)),
               static_cast<double>(DisplayHeight(d, screen))}};
}

}  // namespace

X11Display::X11Display()
    : previousHandler_(reinterpret_cast<void (*)()>(XSetErrorHandler(ignoreXError))) {}

X11Display::~X11Display() {
  if (display_) XCloseDisplay(display_);
  XSetErrorHandler(reinterpret_cast<XErrorHandler>(previousHandler_));
}

Display* X11Display::display() {
  if (!tried_) {
    tried_ = true;
    display_ = XOpenDisplay(nullptr);
  }
  return display_;
}

bool X11Display::available() {
  return display() != nullptr;
}

std::optional<std::pair<unsigned long, int32_t>> X11Display::activeWindow() {
  Display* d = display();
  if (!d) return std::nullopt;
  auto active = cardinalProperty(d, DefaultRootWindow(d), "_NET_ACTIVE_WINDOW", XA_WINDOW);
  if (!active || *active == 0) return std::nullopt;
  Window w = static_cast<Window>(*active);
  auto pid = cardinalProperty(d, w, "_NET_WM_PID", XA_CARDINAL);
  if (!pid || *pid == 0) return std::nullopt;
  return std::make_pair(w, static_cast<int32_t>(*pid));
}

WindowFacts X11Display::describe(unsigned long window) {
  WindowFacts out;
  Display* d = display();
  if (!d) return out;
  Window w = static_cast<Window>(window);
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  out.title = textProperty(d, w, "_NET_WM_NAME", utf8)
                  .value_or(textProperty(d, w, "WM_NAME", XA_STRING).value_or(""));
  XWindowAttributes attributes;
  if (XGetWindowAttributes(d, w, &attributes)) {
    out.width = attributes.width;
    out.height = attributes.height;
  }
  // Where the window's content starts on the root window: its origin, past the shadow GTK draws
  // around a window with client-side decorations (_GTK_FRAME_EXTENTS: left, right, top, bottom).
  int rootX = 0, rootY = 0;
  Window child = None;
  if (XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &rootX, &rootY, &child)) {
    out.contentX = rootX;
    out.contentY = rootY;
    int format = 0;
    auto frame = windowProperty(d, w, "_GTK_FRAME_EXTENTS", XA_CARDINAL, &format);
    if (frame && format == 32 && frame->size() >= 4 * sizeof(long)) {
      long extents[4];
      std::copy_n(frame->data(), sizeof extents, reinterpret_cast<unsigned char*>(extents));
      out.contentX += static_cast<double>(extents[0]);
      out.contentY += static_cast<double>(extents[2]);
    }
  }
  // WM_CLASS holds the instance name and the class name, each ended by a NUL.
  if (auto raw = textProperty(d, w, "WM_CLASS", XA_STRING)) {
    size_t end = raw->find('\0');
    if (end != std::string::npos && end + 1 < raw->size()) {
      std::string cls = raw->substr(end + 1);
      cls = cls.substr(0, cls.find('\0'));
      if (!cls.empty()) out.wmClass = cls;
    }
  }
  out.applicationId = textProperty(d, w, "_GTK_APPLICATION_ID", utf8);
  if (!out.applicationId) {
    // GTK marks only the application's main windows; a dialog names its main window as the
    // one it is transient for, so the id stays the same while a dialog is in front.
    if (auto owner = cardinalProperty(d, w, "WM_TRANSIENT_FOR", XA_WINDOW)) {
      out.applicationId = textProperty(d, static_cast<Window>(*owner), "_GTK_APPLICATION_ID", utf8);
    }
  }
  if (!out.applicationId || out.applicationId->empty()) out.applicationId = out.wmClass;
  return out;
}

std::optional<int32_t> X11Display::windowPid(unsigned long window) {
  Display* d = display();
  if (!d || window == 0 || window > 0xFFFFFFFFul) return std::nullopt;
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(d, static_cast<Window>(window), &attributes)) return std::nullopt;
  auto pid = cardinalProperty(d, static_cast<Window>(window), "_NET_WM_PID", XA_CARDINAL);
  if (!pid || *pid == 0 || *pid > 0x7FFFFFFFul) return std::nullopt;
  return static_cast<int32_t>(*pid);
}

std::optional<unsigned long> X11Display::topWindowOf(int32_t pid) {
  Display* d = display();
  if (!d) return std::nullopt;
  int format = 0;
  auto list =
      windowProperty(d, DefaultRootWindow(d), "_NET_CLIENT_LIST_STACKING", XA_WINDOW, &format);
  if (!list) list = windowProperty(d, DefaultRootWindow(d), "_NET_CLIENT_LIST", XA_WINDOW, &format);
  if (!list || format != 32) return std::nullopt;
  std::vector<long> windows(list->size() / sizeof(long));
  std::copy_n(list->data(), windows.size() * sizeof(long),
              reinterpret_cast<unsigned char*>(windows.data()));
  // Bottom to top in both lists (the stacking order, or the order of mapping).
  for (auto w = windows.rbegin(); w != windows.rend(); ++w) {
    auto owner = cardinalProperty(d, static_cast<Window>(*w), "_NET_WM_PID", XA_CARDINAL);
    if (owner && static_cast<int64_t>(*owner) == pid) return static_cast<unsigned long>(*w);
  }
  return std::nullopt;
}

const std::vector<Rect>& X11Display::monitors() {
  if (!monitors_) monitors_ = readMonitors(display());
  return *monitors_;
}

const std::vector<Point>& X11Display::monitorCorners() {
  if (corners_) return *corners_;
  corners_.emplace();
  Display* d = display();
  int count = 0;
  int eventBase = 0, errorBase = 0;
  if (!d || !XRRQueryExtension(d, &eventBase, &errorBase)) return *corners_;
  std::unique_ptr<XRRMonitorInfo, decltype(&XRRFreeMonitors)> list(
      XRRGetMonitors(d, DefaultRootWindow(d), True, &count), &XRRFreeMonitors);
  for (int i = 0; list && i < count; ++i) {
    corners_->push_back(
        Point{static_cast<double>(list.get()[i].x), static_cast<double>(list.get()[i].y)});
  }
  return *corners_;
}

}  // namespace ax
