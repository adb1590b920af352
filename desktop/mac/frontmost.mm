// The frontmost process, from AppKit. Built only for Apple systems.
#include "desktop/mac/frontmost.h"

#import <AppKit/AppKit.h>

namespace mevrik::desktop::mac {

int32_t frontmostProcessId() {
  @autoreleasepool {
    NSRunningApplication* app = [[NSWorkspace sharedWorkspace] frontmostApplication];
    return app ? static_cast<int32_t>(app.processIdentifier) : 0;
  }
}

}  // namespace mevrik::desktop::mac
