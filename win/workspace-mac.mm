// vantic-win's AppKit calls. Built only for Apple systems.
#import <AppKit/AppKit.h>
#include <dispatch/dispatch.h>

#include "win/platform-mac.h"

namespace win::mac {

bool activateApplication(int32_t pid) {
  @autoreleasepool {
    NSRunningApplication* app =
        [NSRunningApplication runningApplicationWithProcessIdentifier:static_cast<pid_t>(pid)];
    if (!app) return false;
    // From macOS 14 an application that is not active itself may only yield activation; a
    // command-line tool has no such standing, so it asks the application to take it regardless.
    return [app activateWithOptions:NSApplicationActivateAllWindows];
  }
}

Launched openApplication(const std::string& id) {
  @autoreleasepool {
    Launched result;
    NSString* text = [NSString stringWithUTF8String:id.c_str()];
    NSWorkspace* workspace = [NSWorkspace sharedWorkspace];
    NSURL* url = [text hasPrefix:@"/"] ? [NSURL fileURLWithPath:text]
                                       : [workspace URLForApplicationWithBundleIdentifier:text];
    if (!url || ![[NSFileManager defaultManager] fileExistsAtPath:url.path]) {
      result.unknownId = true;
      result.error = "no application \"" + id + "\" (a bundle identifier or an application's path)";
      return result;
    }
    NSWorkspaceOpenConfiguration* configuration = [NSWorkspaceOpenConfiguration configuration];
    configuration.activates = YES;
    dispatch_semaphore_t done = dispatch_semaphore_create(0);
    __block int32_t pid = 0;
    __block std::string error;
    [workspace openApplicationAtURL:url
                      configuration:configuration
                  completionHandler:^(NSRunningApplication* app, NSError* failure) {
                    if (app) pid = app.processIdentifier;
                    const char* text = failure ? failure.localizedDescription.UTF8String : nullptr;
                    if (text) error = text;
                    dispatch_semaphore_signal(done);
                  }];
    // The handler runs on a queue of AppKit's own, so waiting here does not block it.
    dispatch_semaphore_wait(done, dispatch_time(DISPATCH_TIME_NOW, 30 * NSEC_PER_SEC));
    result.pid = pid;
    if (pid == 0)
      result.error = "cannot open \"" + id + "\": " + (error.empty() ? "no answer" : error);
    return result;
  }
}

}  // namespace win::mac
