// The macOS backend of vantic-shot: the frontmost application's frontmost window from the window
// server's window list, the screen from the active displays, the pixels from ScreenCaptureKit.
//
// - Window bounds, display bounds and capture areas are in points with the origin at the top-left
//   of the main display and y downwards: the coordinates vantic-ax reports and vantic-click takes.
// - ScreenCaptureKit captures one display at a time: an area is taken display by display and the
//   parts are put together. The image has as many pixels per point as the densest display under
//   the area (2 on Retina), and the scale says so; a part of the area that no display covers
//   stays black.
// - Without the Screen Recording permission the window server leaves every other application's
//   windows out of the image (only the desktop and the menu bar remain), so the backend refuses
//   to start rather than write such an image.
// - The frontmost application's process comes from AppKit (desktop/mac/frontmost.h), and the
//   capture call from capture-mac.mm; this file is plain C++ and also runs on the Apple stand-in.
#include <CoreGraphics/CoreGraphics.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "common/cf-ref.h"
#include "desktop/mac/frontmost.h"
#include "shot/capture-mac.h"
#include "shot/platform.h"

namespace shot {
namespace {

using mevrik::CFRef;

// Images wider or taller than this are no screen's; the limit keeps the arithmetic small.
constexpr size_t kLargestSide = size_t{1} << 20;

// The whole points that cover a rectangle; none for a rectangle that is empty or not finite.
std::optional<Rect> covering(const CGRect& r) {
  const double left = std::floor(r.origin.x), top = std::floor(r.origin.y);
  const double right = std::ceil(r.origin.x + r.size.width);
  const double bottom = std::ceil(r.origin.y + r.size.height);
  constexpr double kFar = 1 << 24;
  for (double v : {left, top, right, bottom}) {
    if (!std::isfinite(v) || std::abs(v) > kFar) return std::nullopt;
  }
  if (right <= left || bottom <= top) return std::nullopt;
  return Rect{static_cast<int64_t>(left), static_cast<int64_t>(top),
              static_cast<int64_t>(right - left), static_cast<int64_t>(bottom - top)};
}

std::optional<int32_t> integer(CFDictionaryRef entry, CFStringRef key) {
  const auto value = static_cast<CFNumberRef>(CFDictionaryGetValue(entry, key));
  int32_t out = 0;
  if (!value || CFGetTypeID(value) != CFNumberGetTypeID() ||
      !CFNumberGetValue(value, kCFNumberSInt32Type, &out)) {
    return std::nullopt;
  }
  return out;
}

// Where a pixel's components lie: `count` components of `bytes` bytes each (1 or 2), component i
// (in the order the alpha layout names: A R G B, R G B A or R G B) starting at byte offset[i].
struct Layout {
  size_t count = 0;
  size_t bytes = 0;
  size_t offset[4] = {};
  bool littleEndian = false;  // the byte order of 16-bit components
  size_t red = 0;             // the component that holds red; green and blue follow it
  int alpha = -1;             // the component of a straight (not premultiplied) alpha, or -1
};

// The layout of the image's pixels, from its bitmap info; none for layouts a screen image does not
// use (floating-point or packed components, alpha only, other widths).
std::optional<Layout> layoutOf(CGImageRef image) {
  const CGBitmapInfo info = CGImageGetBitmapInfo(image);
  const size_t bits = CGImageGetBitsPerComponent(image);
  if ((info & kCGBitmapFloatComponents) || (info & kCGImagePixelFormatMask) != 0) return {};
  if (bits != 8 && bits != 16) return {};
  Layout layout;
  layout.bytes = bits / 8;
  layout.count = 4;
  switch (CGImageGetAlphaInfo(image)) {
    case kCGImageAlphaNone:
      layout.count = 3;
      break;
    case kCGImageAlphaFirst:
      layout.alpha = 0;
      [[fallthrough]];
    case kCGImageAlphaPremultipliedFirst:
    case kCGImageAlphaNoneSkipFirst:
      layout.red = 1;
      break;
    case kCGImageAlphaLast:
      layout.alpha = 3;
      break;
    case kCGImageAlphaPremultipliedLast:
    case kCGImageAlphaNoneSkipLast:
      break;
    default:
      return {};
  }
  if (CGImageGetBitsPerPixel(image) != layout.count * bits) return {};
  const uint32_t order = info & kCGBitmapByteOrderMask;
  // A 32-bit little-endian word of four 8-bit components holds them in reverse (BGRA for ARGB);
  // big-endian words, and the default order, hold them as named.
  const bool reversed = order == kCGBitmapByteOrder32Little;
  if (reversed && (layout.bytes != 1 || layout.count != 4)) return {};
  if (order == kCGBitmapByteOrder16Little && layout.bytes != 2) return {};
  layout.littleEndian = order == kCGBitmapByteOrder16Little;
  for (size_t i = 0; i < layout.count; ++i) {
    layout.offset[i] = (reversed ? layout.count - 1 - i : i) * layout.bytes;
  }
  return layout;
}

// The image's pixels as 8-bit RGB. A straight alpha is composed over black, as premultiplied
// components already are: the PNG has no alpha, and what the screen shows is opaque anyway.
std::optional<Image> readPixels(CGImageRef image) {
  const auto layout = layoutOf(image);
  const size_t width = CGImageGetWidth(image), height = CGImageGetHeight(image);
  if (!layout || width == 0 || height == 0 || width > kLargestSide || height > kLargestSide) {
    return std::nullopt;
  }
  CGDataProviderRef provider = CGImageGetDataProvider(image);
  CFRef<CFDataRef> data(provider ? CGDataProviderCopyData(provider) : nullptr);
  if (!data) return std::nullopt;
  // Rows may be padded (bytes per row beyond width times pixel size); the last one need not be.
  const size_t rowBytes = width * layout->count * layout->bytes;
  const size_t stride = CGImageGetBytesPerRow(image);
  const auto length = static_cast<size_t>(std::max<CFIndex>(CFDataGetLength(data.get()), 0));
  if (stride < rowBytes || length < rowBytes ||
      (height > 1 && stride > (length - rowBytes) / (height - 1))) {
    return std::nullopt;
  }
  const UInt8* bytes = CFDataGetBytePtr(data.get());
  const uint32_t full = layout->bytes == 1 ? 0xFF : 0xFFFF;
  auto component = [&](const UInt8* pixel, size_t i) -> uint32_t {
    const UInt8* p = pixel + layout->offset[i];
    if (layout->bytes == 1) return p[0];
    return layout->littleEndian ? (p[0] | p[1] << 8) : (p[0] << 8 | p[1]);
  };
  Image out;
  out.width = static_cast<uint32_t>(width);
  out.height = static_cast<uint32_t>(height);
  out.rgb.reserve(width * height * 3);
  for (size_t y = 0; y < height; ++y) {
    for (size_t x = 0; x < width; ++x) {
      const UInt8* pixel = bytes + y * stride + x * layout->count * layout->bytes;
      const uint64_t alpha = layout->alpha < 0 ? full : component(pixel, size_t(layout->alpha));
      for (size_t c = 0; c < 3; ++c) {
        const uint64_t value = (component(pixel, layout->red + c) * alpha + full / 2) / full;
        out.rgb.push_back(static_cast<uint8_t>(layout->bytes == 1 ? value : (value + 128) / 257));
      }
    }
  }
  return out;
}

class QuartzPlatform : public Platform {
 public:
  std::optional<Window> frontmostWindow() override {
    const int32_t pid = mevrik::desktop::mac::frontmostProcessId();
    if (pid == 0) return std::nullopt;
    CFRef<CFArrayRef> list(CGWindowListCopyWindowInfo(
        kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements, kCGNullWindowID));
    if (!list) return std::nullopt;
    // The list runs from front to back, so the application's first window in the normal layer
    // (0; menus, panels and the Dock lie above it) is its frontmost one.
    for (CFIndex i = 0, n = CFArrayGetCount(list.get()); i < n; ++i) {
      const auto entry = static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(list.get(), i));
      if (!entry || CFGetTypeID(entry) != CFDictionaryGetTypeID()) continue;
      if (integer(entry, kCGWindowOwnerPID) != pid || integer(entry, kCGWindowLayer) != 0) continue;
      const auto bounds =
          static_cast<CFDictionaryRef>(CFDictionaryGetValue(entry, kCGWindowBounds));
      CGRect rect;
      if (!bounds || CFGetTypeID(bounds) != CFDictionaryGetTypeID() ||
          !CGRectMakeWithDictionaryRepresentation(bounds, &rect)) {
        continue;
      }
      if (auto frame = covering(rect)) return Window{pid, *frame};
    }
    return std::nullopt;
  }

  // The bounding box of the active displays; empty when there is none.
  Rect screen() override {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    double left = kInf, top = kInf, right = -kInf, bottom = -kInf;
    for (const CGDirectDisplayID display : activeDisplays()) {
      const CGRect b = CGDisplayBounds(display);
      left = std::min(left, b.origin.x);
      top = std::min(top, b.origin.y);
      right = std::max(right, b.origin.x + b.size.width);
      bottom = std::max(bottom, b.origin.y + b.size.height);
    }
    if (left > right) return {};
    return covering(CGRect{{left, top}, {right - left, bottom - top}}).value_or(Rect{});
  }

  std::optional<Image> capture(const Rect& area) override {
    struct Part {
      CGDirectDisplayID display;
      Rect bounds;  // the display's
      Rect area;    // the part of the area it shows
    };
    std::vector<Part> parts;
    size_t scale = 1;
    for (const CGDirectDisplayID display : activeDisplays()) {
      const auto bounds = covering(CGDisplayBounds(display));
      if (!bounds) continue;
      const auto part = intersection(area, *bounds);
      if (!part) continue;
      parts.push_back({display, *bounds, *part});
      scale = std::max(scale, pixelsPerPoint(display));
    }
    if (parts.empty()) return std::nullopt;
    const auto width = static_cast<size_t>(area.width) * scale;
    const auto height = static_cast<size_t>(area.height) * scale;
    if (width > kLargestSide || height > kLargestSide) return std::nullopt;
    Image out;
    out.width = static_cast<uint32_t>(width);
    out.height = static_cast<uint32_t>(height);
    out.scale = static_cast<double>(scale);
    out.rgb.assign(width * height * 3, 0);
    for (const Part& part : parts) {
      const CGRect local{
          {static_cast<double>(part.area.x - part.bounds.x),
           static_cast<double>(part.area.y - part.bounds.y)},
          {static_cast<double>(part.area.width), static_cast<double>(part.area.height)}};
      const auto partWidth = static_cast<size_t>(part.area.width) * scale;
      const auto partHeight = static_cast<size_t>(part.area.height) * scale;
      CFRef<CGImageRef> image(captureDisplayArea(part.display, local, partWidth, partHeight));
      if (!image) return std::nullopt;
      const auto pixels = readPixels(image.get());
      if (!pixels || pixels->width != partWidth || pixels->height != partHeight) {
        return std::nullopt;
      }
      const auto left = static_cast<size_t>(part.area.x - area.x) * scale;
      const auto top = static_cast<size_t>(part.area.y - area.y) * scale;
      for (size_t row = 0; row < partHeight; ++row) {
        std::copy_n(
            pixels->rgb.begin() + static_cast<std::ptrdiff_t>(row * partWidth * 3), partWidth * 3,
            out.rgb.begin() + static_cast<std::ptrdiff_t>(((top + row) * width + left) * 3));
      }
    }
    return out;
  }

 private:
  static std::vector<CGDirectDisplayID> activeDisplays() {
    uint32_t count = 0;
    if (CGGetActiveDisplayList(0, nullptr, &count) != kCGErrorSuccess || count == 0) return {};
    std::vector<CGDirectDisplayID> displays(count);
    if (CGGetActiveDisplayList(count, displays.data(), &count) != kCGErrorSuccess) return {};
    displays.resize(std::min<size_t>(count, displays.size()));
    return displays;
  }

  // The display's pixels per point in its current mode (2 on Retina, also in the scaled "more
  // space" modes); 1 when the mode cannot be read.
  static size_t pixelsPerPoint(CGDirectDisplayID display) {
    CGDisplayModeRef mode = CGDisplayCopyDisplayMode(display);
    if (!mode) return 1;
    const size_t points = CGDisplayModeGetWidth(mode);
    const size_t pixels = CGDisplayModeGetPixelWidth(mode);
    CGDisplayModeRelease(mode);
    if (points == 0 || pixels <= points) return 1;
    return (pixels + points / 2) / points;
  }

  static std::optional<Rect> intersection(const Rect& a, const Rect& b) {
    const int64_t left = std::max(a.x, b.x), top = std::max(a.y, b.y);
    const int64_t right = std::min(a.x + a.width, b.x + b.width);
    const int64_t bottom = std::min(a.y + a.height, b.y + b.height);
    if (right <= left || bottom <= top) return std::nullopt;
    return Rect{left, top, right - left, bottom - top};
  }
};

}  // namespace

std::unique_ptr<Platform> createSystemPlatform(std::string& error) {
  if (!CGPreflightScreenCaptureAccess()) {
    error =
        "screen recording not allowed (without it the screen shows only the desktop and the menu "
        "bar): allow this terminal app in System Settings > Privacy & Security > Screen & System "
        "Audio Recording, then quit and reopen it";
    return nullptr;
  }
  return std::make_unique<QuartzPlatform>();
}

}  // namespace shot
