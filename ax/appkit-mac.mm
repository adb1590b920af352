// The frontmost application and the screens, from AppKit. Built only for Apple systems.
#import <AppKit/AppKit.h>

#include "ax/platform-mac.h"

namespace ax {
namespace {

std::optional<std::string> text(NSString* string) {
  if (!string) return std::nullopt;
  const char* bytes = string.UTF8String;
  return std::string(bytes ? bytes : "");
}

}  // namespace

std::optional<FrontmostApplication> workspaceFrontmostApplication() {
  @autoreleasepool {
    NSRunningApplication* app = [[NSWorkspace sharedWorkspace] frontmostApplication];
    if (!app) return std::nullopt;
    return FrontmostApplication{static_cast<int32_t>(app.processIdentifier),
                                text(app.localizedName), text(app.bundleIdentifier)};
  }
}

std::optional<FrontmostApplication> workspaceApplication(int32_t pid) {
  @autoreleasepool {
    NSRunningApplication* app =
        [NSRunningApplication runningApplicationWithProcessIdentifier:static_cast<pid_t>(pid)];
    if (!app || app.terminated) return std::nullopt;
    return FrontmostApplication{static_cast<int32_t>(app.processIdentifier),
                                text(app.localizedName), text(app.bundleIdentifier)};
  }
}

std::vector<Rect> workspaceScreens() {
  @autoreleasepool {
    // AppKit frames have their origin at the bottom-left corner of the first screen with y
    // growing upwards; the accessibility space flips that around the first screen's height.
    NSArray<NSScreen*>* screens = [NSScreen screens];
    std::vector<Rect> out;
    const CGFloat height = screens.count ? screens[0].frame.size.height : 0;
    for (NSScreen* screen in screens) {
      const NSRect f = screen.frame;
      out.push_back(
          Rect{f.origin.x, height - (f.origin.y + f.size.height), f.size.width, f.size.height});
    }
    return out;
  }
}

}  // namespace ax
