// The application in front on macOS, as AppKit names it: what the pointer, keyboard, screenshot
// and window tools ask before they act.
//
// The one AppKit question lives in frontmost.mm, so that the tools' macOS backends stay plain C++
// and also build and run against the stand-in of Apple's declarations in Linux test builds (the
// tests define this function themselves).
#pragma once

#include <cstdint>

namespace mevrik::desktop::mac {

// Process id of NSWorkspace's frontmost application, 0 when there is none.
int32_t frontmostProcessId();

}  // namespace mevrik::desktop::mac
