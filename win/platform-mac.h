// The macOS side of vantic-win (and of vantic-click's guard): the window server's window list
// through CoreGraphics (windows-mac.cc, plain C++ that also runs on the Apple stand-in), raising
// through the accessibility API (platform-mac.cc), and the AppKit calls (workspace-mac.mm; the
// frontmost process is desktop/mac/frontmost.h's).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "win/platform.h"

namespace win::mac {

// -- workspace-mac.mm (AppKit) ----------------------------------------------------------------

// Activates the running application (NSRunningApplication activateWithOptions:); false when no
// application has that pid.
bool activateApplication(int32_t pid);
// Opens the application with that bundle identifier, or at that path, through NSWorkspace's
// openApplicationAtURL:configuration:completionHandler:, and gives its pid.
Launched openApplication(const std::string& id);

// -- windows-mac.cc (CoreGraphics) ------------------------------------------------------------

// The windows on screen in the normal layer, front first, with their bounds in points; the
// frontmost application's first window is the focused one. None, with the reason in `error`,
// when the window server gives no list.
std::optional<Desktop> readDesktop(int32_t frontmostPid, std::string& error);
// Whether a window with that number is still in the window server's list.
bool windowExists(uint64_t id);

}  // namespace win::mac
