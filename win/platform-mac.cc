// The macOS backend of vantic-win: the window server's list (windows-mac.cc), activation through
// AppKit and raising through the accessibility API, launching through NSWorkspace
// (workspace-mac.mm) or as a detached process (launch-posix.cc).
//
// - macOS activates applications, not windows: the application comes to the front with all its
//   windows, and the window asked for is then raised above its siblings with the accessibility
//   action AXRaise (un-minimised first, and made the main window). That needs the Accessibility
//   permission; without it the application still comes forward.
// - The accessibility API does not give window numbers, so the window is found among the
//   application's AXWindows by its frame (and by its title where the list has one).
// - There are no change notifications without a run loop, so the waits poll.
#include "win/platform-mac.h"

#include <ApplicationServices/ApplicationServices.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "common/cf-ref.h"
#include "desktop/mac/frontmost.h"
#include "win/launch-posix.h"

namespace win {
namespace {

using mevrik::CFRef;

// How often a wait looks again.
constexpr double kPollStep = 0.02;

// The attribute's point or size, when it holds one.
template <typename T>
std::optional<T> axValue(AXUIElementRef element, CFStringRef attribute, AXValueType kind) {
  CFRef<CFTypeRef> value;
  if (AXUIElementCopyAttributeValue(element, attribute, value.out()) != kAXErrorSuccess || !value ||
      CFGetTypeID(value.get()) != AXValueGetTypeID()) {
    return std::nullopt;
  }
  T out{};
  if (!AXValueGetValue(static_cast<AXValueRef>(value.get()), kind, &out)) return std::nullopt;
  return out;
}

std::string axTitle(AXUIElementRef element) {
  CFRef<CFTypeRef> value;
  if (AXUIElementCopyAttributeValue(element, CFSTR("AXTitle"), value.out()) != kAXErrorSuccess ||
      !value || CFGetTypeID(value.get()) != CFStringGetTypeID()) {
    return {};
  }
  return mevrik::toUtf8(static_cast<CFStringRef>(value.get()));
}

// Whether the accessibility window is the listed window: the same frame (to the point) and,
// where the list names it, the same title.
bool sameWindow(AXUIElementRef element, const Window& window) {
  const auto at = axValue<CGPoint>(element, CFSTR("AXPosition"), kAXValueTypeCGPoint);
  const auto size = axValue<CGSize>(element, CFSTR("AXSize"), kAXValueTypeCGSize);
  if (!at || !size) return false;
  auto near = [](double a, int64_t b) { return std::abs(a - static_cast<double>(b)) <= 1; };
  if (!near(at->x, window.x) || !near(at->y, window.y) || !near(size->width, window.w) ||
      !near(size->height, window.h)) {
    return false;
  }
  return window.title.empty() || axTitle(element) == window.title;
}

// Un-minimises, raises and makes main the application's window that is `window`.
void raise(const Window& window) {
  CFRef<AXUIElementRef> app(AXUIElementCreateApplication(window.pid));
  CFRef<CFTypeRef> windows;
  if (!app ||
      AXUIElementCopyAttributeValue(app.get(), CFSTR("AXWindows"), windows.out()) !=
          kAXErrorSuccess ||
      !windows || CFGetTypeID(windows.get()) != CFArrayGetTypeID()) {
    return;
  }
  const auto list = static_cast<CFArrayRef>(windows.get());
  for (CFIndex i = 0, n = CFArrayGetCount(list); i < n; ++i) {
    const auto element = static_cast<AXUIElementRef>(CFArrayGetValueAtIndex(list, i));
    if (!element || CFGetTypeID(element) != AXUIElementGetTypeID() ||
        !sameWindow(element, window)) {
      continue;
    }
    AXUIElementSetAttributeValue(element, CFSTR("AXMinimized"), kCFBooleanFalse);
    AXUIElementPerformAction(element, CFSTR("AXRaise"));
    AXUIElementSetAttributeValue(element, CFSTR("AXMain"), kCFBooleanTrue);
    return;
  }
}

class MacPlatform : public Platform {
 public:
  std::optional<Desktop> read(std::string& error) override {
    return mac::readDesktop(mevrik::desktop::mac::frontmostProcessId(), error);
  }

  uint64_t activeWindow() override {
    std::string error;
    auto desktop = read(error);
    if (!desktop) return 0;
    for (const Window& w : desktop->windows) {
      if (w.focused) return w.id;
    }
    return 0;
  }

  bool exists(uint64_t id) override { return mac::windowExists(id); }

  // Spaces cannot be switched through public interfaces; the list holds no desktops, so the core
  // never asks.
  void showDesktop(int64_t) override {}

  void activate(const Window& window) override {
    if (!mac::activateApplication(window.pid)) return;
    raise(window);
  }

  Launched launchApplication(const std::string& id) override { return mac::openApplication(id); }

  Launched launchCommand(const std::vector<std::string>& argv) override {
    return posix::spawnDetached(argv, "");
  }

  bool running(int32_t pid) override { return posix::running(pid); }

  void waitForChange(double seconds) override {
    const double step = std::clamp(seconds, 0.0, kPollStep);
    usleep(static_cast<useconds_t>(step * 1e6));
  }

  double now() override {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  }
};

}  // namespace

std::unique_ptr<Platform> createSystemPlatform(std::string&) {
  return std::make_unique<MacPlatform>();
}

}  // namespace win
