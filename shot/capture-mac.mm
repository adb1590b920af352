// vantic-shot's capture through ScreenCaptureKit (macOS 14 and later): the display's shareable
// content, a filter of the whole display with nothing excluded, and one screenshot of the area.
// ScreenCaptureKit answers on its own queues; the tool waits for each answer.
#include "shot/capture-mac.h"

#import <ScreenCaptureKit/ScreenCaptureKit.h>

namespace shot {
namespace {

// Long enough for a busy window server, short enough for a tool that an agent waits on.
constexpr int64_t kWaitNanoseconds = 5 * int64_t{NSEC_PER_SEC};

bool waitFor(dispatch_semaphore_t done) {
  return dispatch_semaphore_wait(done, dispatch_time(DISPATCH_TIME_NOW, kWaitNanoseconds)) == 0;
}

SCDisplay* shareableDisplay(CGDirectDisplayID id) {
  __block SCShareableContent* content = nil;
  dispatch_semaphore_t done = dispatch_semaphore_create(0);
  [SCShareableContent
      getShareableContentExcludingDesktopWindows:NO
                             onScreenWindowsOnly:YES
                               completionHandler:^(SCShareableContent* shareable, NSError*) {
                                 content = shareable;
                                 dispatch_semaphore_signal(done);
                               }];
  if (!waitFor(done)) return nil;
  for (SCDisplay* display in content.displays) {
    if (display.displayID == id) return display;
  }
  return nil;
}

}  // namespace

CGImageRef captureDisplayArea(CGDirectDisplayID id, CGRect area, size_t width, size_t height) {
  @autoreleasepool {
    SCDisplay* display = shareableDisplay(id);
    if (!display) return nullptr;
    SCContentFilter* filter = [[SCContentFilter alloc] initWithDisplay:display
                                                      excludingWindows:@[]];
    SCStreamConfiguration* configuration = [[SCStreamConfiguration alloc] init];
    configuration.sourceRect = area;
    configuration.width = width;
    configuration.height = height;
    configuration.showsCursor = NO;
    // The handler's image lives only as long as the handler, so it keeps its own reference. One
    // that comes after the wait gave up is never released: the process ends soon after anyway.
    __block CGImageRef image = nullptr;
    dispatch_semaphore_t done = dispatch_semaphore_create(0);
    [SCScreenshotManager captureImageWithFilter:filter
                                  configuration:configuration
                              completionHandler:^(CGImageRef captured, NSError*) {
                                image = captured ? CGImageRetain(captured) : nullptr;
                                dispatch_semaphore_signal(done);
                              }];
    if (!waitFor(done)) return nullptr;
    return image;
  }
}

}  // namespace shot
