// The window server's list through CGWindowListCopyWindowInfo.
//
// - The list holds only windows on screen: minimised windows, hidden applications' windows and
//   those of other Spaces are not in it, so no record says minimised and none has a desktop.
// - Menus, the Dock, the menu bar and panels live in layers above 0; applications' windows are
//   layer 0.
// - Window names (kCGWindowName) of other applications are given only under the Screen
//   Recording permission; without it titles are empty.
// - Bounds are in points with the origin at the top-left of the main display, the space that
//   vantic-click takes; a fractional frame is widened to the whole points that cover it.
#include <CoreGraphics/CoreGraphics.h>

#include <cmath>

#include "common/cf-ref.h"
#include "win/platform-mac.h"

namespace win::mac {
namespace {

using mevrik::CFRef;

std::optional<int64_t> integer(CFDictionaryRef entry, CFStringRef key) {
  const auto value = static_cast<CFNumberRef>(CFDictionaryGetValue(entry, key));
  int64_t out = 0;
  if (!value || CFGetTypeID(value) != CFNumberGetTypeID() ||
      !CFNumberGetValue(value, kCFNumberSInt64Type, &out)) {
    return std::nullopt;
  }
  return out;
}

std::string text(CFDictionaryRef entry, CFStringRef key) {
  const auto value = static_cast<CFStringRef>(CFDictionaryGetValue(entry, key));
  if (!value || CFGetTypeID(value) != CFStringGetTypeID()) return {};
  return mevrik::toUtf8(value);
}

CFRef<CFArrayRef> windowList(CGWindowListOption option, CGWindowID window) {
  return CFRef<CFArrayRef>(CGWindowListCopyWindowInfo(option, window));
}

}  // namespace

std::optional<Desktop> readDesktop(int32_t frontmostPid, std::string& error) {
  auto list = windowList(kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements,
                         kCGNullWindowID);
  if (!list) {
    error = "the window server gave no window list";
    return std::nullopt;
  }
  Desktop desktop;
  bool focusedSeen = false;
  for (CFIndex i = 0, n = CFArrayGetCount(list.get()); i < n; ++i) {
    const auto entry = static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(list.get(), i));
    if (!entry || CFGetTypeID(entry) != CFDictionaryGetTypeID()) continue;
    const auto number = integer(entry, kCGWindowNumber);
    if (!number || *number <= 0 || integer(entry, kCGWindowLayer) != 0) continue;
    const auto bounds = static_cast<CFDictionaryRef>(CFDictionaryGetValue(entry, kCGWindowBounds));
    CGRect r;
    if (!bounds || !CGRectMakeWithDictionaryRepresentation(bounds, &r)) continue;
    const double left = std::floor(r.origin.x), top = std::floor(r.origin.y);
    const double right = std::ceil(r.origin.x + r.size.width);
    const double bottom = std::ceil(r.origin.y + r.size.height);
    constexpr double kFar = 1 << 24;
    if (!(std::abs(left) < kFar && std::abs(top) < kFar && std::abs(right) < kFar &&
          std::abs(bottom) < kFar)) {
      continue;
    }
    Window w;
    w.id = static_cast<uint64_t>(*number);
    const auto pid = integer(entry, kCGWindowOwnerPID).value_or(0);
    w.pid = pid > 0 && pid <= INT32_MAX ? static_cast<int32_t>(pid) : 0;
    w.app = text(entry, kCGWindowOwnerName);
    w.title = text(entry, kCGWindowName);
    w.x = static_cast<int64_t>(left);
    w.y = static_cast<int64_t>(top);
    w.w = static_cast<int64_t>(right - left);
    w.h = static_cast<int64_t>(bottom - top);
    w.focused = !focusedSeen && w.pid != 0 && w.pid == frontmostPid;
    focusedSeen = focusedSeen || w.focused;
    desktop.windows.push_back(std::move(w));
  }
  return desktop;
}

bool windowExists(uint64_t id) {
  auto list = windowList(kCGWindowListOptionIncludingWindow, static_cast<CGWindowID>(id));
  return list && CFArrayGetCount(list.get()) > 0;
}

}  // namespace win::mac
