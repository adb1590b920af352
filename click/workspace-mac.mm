// The frontmost process, from AppKit. Built only for Apple systems.
#import <AppKit/AppKit.h>

#include "click/platform-mac.h"

namespace click {

int32_t frontmostProcessId() {
  @autoreleasepool {
    NSRunningApplication* app = [[NSWorkspace sharedWorkspace] frontmostApplication];
    return app ? static_cast<int32_t>(app.processIdentifier) : 0;
  }
}

}  // namespace click
