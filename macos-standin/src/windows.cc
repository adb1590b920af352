// The stand-in's window list, displays and screen image: CoreGraphics answers from what a test
// scripted, as CFArray/CFDictionary/CFData objects the caller must release.
#include <algorithm>
#include <string>

#include "runtime.h"

namespace standin {
namespace {

// A new dictionary (+1) of the given keys and values, which it retains; releases the values.
CFDictionaryRef dictionary(std::vector<CFStringRef> keys, std::vector<CFTypeRef> values) {
  auto made = CFDictionaryCreate(nullptr, reinterpret_cast<const void**>(keys.data()),
                                 values.data(), static_cast<CFIndex>(keys.size()),
                                 &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  for (CFTypeRef value : values) CFRelease(value);
  return made;
}

CFNumberRef number(double value) {
  return CFNumberCreate(nullptr, kCFNumberDoubleType, &value);
}

CFNumberRef number(int32_t value) {
  return CFNumberCreate(nullptr, kCFNumberSInt32Type, &value);
}

double real(CFDictionaryRef dict, const char* key) {
  double value = 0;
  if (auto n =
          static_cast<CFNumberRef>(CFDictionaryGetValue(dict, __CFStringMakeConstantString(key)))) {
    CFNumberGetValue(n, kCFNumberDoubleType, &value);
  }
  return value;
}

}  // namespace

void setWindows(std::vector<WindowInfo> windows) {
  world().windows = std::move(windows);
}
void setDisplays(std::vector<CGRect> bounds, std::vector<size_t> scales) {
  world().displays = std::move(bounds);
  world().displayScales = std::move(scales);
}
void setScreenCaptureAccess(bool granted) {
  world().screenCapture = granted;
}
void setScreenImage(std::optional<Bitmap> bitmap) {
  world().screenImage = std::move(bitmap);
}

CGImageRef captureScreen(CGDirectDisplayID display, CGRect area, size_t width, size_t height) {
  const CGRect& r = area;
  world().calls.push_back({"capture",
                           0,
                           {display, static_cast<int64_t>(width), static_cast<int64_t>(height)},
                           {},
                           std::to_string(r.origin.x) + " " + std::to_string(r.origin.y) + " " +
                               std::to_string(r.size.width) + " " + std::to_string(r.size.height)});
  if (!world().screenImage) return nullptr;
  auto image = new CGImage;
  image->provider.bitmap = *world().screenImage;
  return image;
}

}  // namespace standin

using standin::world;

extern "C" {

const CFStringRef kCGWindowLayer = CFSTR("kCGWindowLayer");
const CFStringRef kCGWindowBounds = CFSTR("kCGWindowBounds");
const CFStringRef kCGWindowOwnerPID = CFSTR("kCGWindowOwnerPID");
const CFStringRef kCGWindowNumber = CFSTR("kCGWindowNumber");
const CFStringRef kCGWindowOwnerName = CFSTR("kCGWindowOwnerName");
const CFStringRef kCGWindowName = CFSTR("kCGWindowName");

CFIndex CFDataGetLength(CFDataRef theData) {
  return static_cast<CFIndex>(theData->bytes.size());
}
const UInt8* CFDataGetBytePtr(CFDataRef theData) {
  return theData->bytes.data();
}

bool CGRectMakeWithDictionaryRepresentation(CFDictionaryRef dict, CGRect* rect) {
  if (!dict || CFGetTypeID(dict) != CFDictionaryGetTypeID()) return false;
  *rect = CGRect{{standin::real(dict, "X"), standin::real(dict, "Y")},
                 {standin::real(dict, "Width"), standin::real(dict, "Height")}};
  return true;
}

CGError CGGetActiveDisplayList(uint32_t maxDisplays, CGDirectDisplayID* activeDisplays,
                               uint32_t* displayCount) {
  uint32_t count = static_cast<uint32_t>(world().displays.size());
  if (activeDisplays) {
    count = std::min(count, maxDisplays);
    for (uint32_t i = 0; i < count; ++i) activeDisplays[i] = i + 1;
  }
  if (displayCount) *displayCount = count;
  return kCGErrorSuccess;
}

CGRect CGDisplayBounds(CGDirectDisplayID display) {
  const auto& displays = world().displays;
  return display >= 1 && display <= displays.size() ? displays[display - 1] : CGRect{};
}

CFArrayRef CGWindowListCopyWindowInfo(CGWindowListOption option, CGWindowID relativeToWindow) {
  world().calls.push_back({"CGWindowListCopyWindowInfo", 0, {option, relativeToWindow}, {}, {}});
  std::vector<CFTypeRef> entries;
  for (const standin::WindowInfo& w : world().windows) {
    if ((option & kCGWindowListOptionIncludingWindow) && w.number != relativeToWindow) continue;
    const CGRect& b = w.bounds;
    CFDictionaryRef bounds =
        standin::dictionary({CFSTR("X"), CFSTR("Y"), CFSTR("Width"), CFSTR("Height")},
                            {standin::number(b.origin.x), standin::number(b.origin.y),
                             standin::number(b.size.width), standin::number(b.size.height)});
    std::vector<CFStringRef> keys = {kCGWindowOwnerPID, kCGWindowLayer, kCGWindowBounds,
                                     kCGWindowNumber, kCGWindowOwnerName};
    std::vector<CFTypeRef> values = {standin::number(w.pid), standin::number(w.layer), bounds,
                                     standin::number(static_cast<int32_t>(w.number)),
                                     standin::makeString(w.ownerName)};
    if (!w.name.empty()) {
      keys.push_back(kCGWindowName);
      values.push_back(standin::makeString(w.name));
    }
    entries.push_back(standin::dictionary(keys, values));
  }
  CFArrayRef list = CFArrayCreate(nullptr, entries.data(), static_cast<CFIndex>(entries.size()),
                                  &kCFTypeArrayCallBacks);
  for (CFTypeRef entry : entries) CFRelease(entry);
  return list;
}

bool CGPreflightScreenCaptureAccess(void) {
  return world().screenCapture;
}

CGDisplayModeRef CGDisplayCopyDisplayMode(CGDirectDisplayID display) {
  const CGRect bounds = CGDisplayBounds(display);
  if (bounds.size.width <= 0) return nullptr;
  const auto& scales = world().displayScales;
  auto mode = new CGDisplayMode;
  mode->width = static_cast<size_t>(bounds.size.width);
  mode->pixelWidth = mode->width * (display <= scales.size() ? scales[display - 1] : 1);
  return mode;
}
size_t CGDisplayModeGetWidth(CGDisplayModeRef mode) {
  return mode ? mode->width : 0;
}
size_t CGDisplayModeGetPixelWidth(CGDisplayModeRef mode) {
  return mode ? mode->pixelWidth : 0;
}
void CGDisplayModeRelease(CGDisplayModeRef mode) {
  if (mode) CFRelease(mode);
}

size_t CGImageGetWidth(CGImageRef image) {
  return image->provider.bitmap.width;
}
size_t CGImageGetHeight(CGImageRef image) {
  return image->provider.bitmap.height;
}
size_t CGImageGetBitsPerComponent(CGImageRef image) {
  return image->provider.bitmap.bitsPerComponent;
}
size_t CGImageGetBitsPerPixel(CGImageRef image) {
  return image->provider.bitmap.bitsPerPixel;
}
size_t CGImageGetBytesPerRow(CGImageRef image) {
  return image->provider.bitmap.bytesPerRow;
}
CGBitmapInfo CGImageGetBitmapInfo(CGImageRef image) {
  return image->provider.bitmap.info;
}
CGImageAlphaInfo CGImageGetAlphaInfo(CGImageRef image) {
  return static_cast<CGImageAlphaInfo>(image->provider.bitmap.info & kCGBitmapAlphaInfoMask);
}
CGDataProviderRef CGImageGetDataProvider(CGImageRef image) {
  return &image->provider;
}
void CGImageRelease(CGImageRef image) {
  if (image) CFRelease(image);
}

CFDataRef CGDataProviderCopyData(CGDataProviderRef provider) {
  auto data = new __CFData;
  data->bytes = provider->bitmap.bytes;
  return data;
}

}  // extern "C"
