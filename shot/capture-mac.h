// vantic-shot's one ScreenCaptureKit call (capture-mac.mm). ScreenCaptureKit is Objective-C, so
// it lives in a file of its own: the rest of the macOS backend stays plain C++ and also runs on
// the Apple stand-in in Linux test builds, whose tests supply this function.
#pragma once

#include <CoreGraphics/CoreGraphics.h>

#include <cstddef>

namespace shot {

// What display `display` shows in `area` (points, from the display's top-left corner), without
// the cursor, as an image of `width` x `height` pixels: a new reference, or NULL when the display
// cannot be shared or the capture fails or does not finish within a few seconds.
CGImageRef captureDisplayArea(CGDirectDisplayID display, CGRect area, size_t width, size_t height);

}  // namespace shot
