#include "click/platform-mac.h"

#include <CoreGraphics/CoreGraphics.h>
#include <unistd.h>

#include <utility>

#include "click/post-access-mac.h"
#include "desktop/mac/frontmost.h"
#include "win/platform-mac.h"
#include "win/window-at.h"

namespace click {
namespace {

// Owns one Quartz event: released exactly once, whichever way the core lets go of it.
class QuartzEvent : public Event {
 public:
  explicit QuartzEvent(CGEventRef event) : event_(event) {}
  ~QuartzEvent() override { CFRelease(event_); }
  QuartzEvent(const QuartzEvent&) = delete;
  QuartzEvent& operator=(const QuartzEvent&) = delete;

  CGEventRef get() const { return event_; }

 private:
  CGEventRef event_;
};

CGEventRef quartz(Event& event) {
  return static_cast<QuartzEvent&>(event).get();
}

std::unique_ptr<Event> own(CGEventRef event) {
  if (!event) return nullptr;
  return std::make_unique<QuartzEvent>(event);
}

}  // namespace

int32_t QuartzPlatform::frontmostPid() {
  return mevrik::desktop::mac::frontmostProcessId();
}

std::optional<Point> QuartzPlatform::cursorPosition() {
  // A new event with no source carries the cursor's current location.
  CGEventRef event = CGEventCreate(nullptr);
  if (!event) return std::nullopt;
  const CGPoint at = CGEventGetLocation(event);
  CFRelease(event);
  return Point{at.x, at.y};
}

std::unique_ptr<Event> QuartzPlatform::createMouseEvent(EventType type, MouseButton button,
                                                        Point at) {
  return own(CGEventCreateMouseEvent(nullptr, static_cast<CGEventType>(type), CGPoint{at.x, at.y},
                                     static_cast<CGMouseButton>(button)));
}

void QuartzPlatform::setClickState(Event& event, int64_t clicks) {
  CGEventSetIntegerValueField(quartz(event), kCGMouseEventClickState, clicks);
}

void QuartzPlatform::postSystemWide(Event& event) {
  CGEventPost(kCGHIDEventTap, quartz(event));
}

void QuartzPlatform::postToPid(int32_t pid, Event& event) {
  CGEventPostToPid(static_cast<pid_t>(pid), quartz(event));
}

std::unique_ptr<Event> QuartzPlatform::createScrollEvent(int32_t wheel1, int32_t wheel2,
                                                         int32_t wheel3) {
  return own(
      CGEventCreateScrollWheelEvent2(nullptr, kCGScrollEventUnitLine, 2, wheel1, wheel2, wheel3));
}

void QuartzPlatform::setLocation(Event& event, Point at) {
  CGEventSetLocation(quartz(event), CGPoint{at.x, at.y});
}

void QuartzPlatform::release(std::unique_ptr<Event> event) {
  event.reset();
}

// The window server's list, and the same rule as vantic-win at.
WindowLookup QuartzPlatform::windowAt(Point at) {
  WindowLookup lookup;
  const auto desktop = win::mac::readDesktop(0, lookup.error);
  if (!desktop) return lookup;
  if (const win::Window* w = win::windowAt(*desktop, {at.x, at.y})) {
    lookup.window = TargetWindow{w->id, w->pid, w->app, w->title};
  }
  return lookup;
}

void QuartzPlatform::warpCursor(Point to) {
  CGWarpMouseCursorPosition(CGPoint{to.x, to.y});
}

void QuartzPlatform::sleepMicroseconds(uint32_t microseconds) {
  usleep(microseconds);
}

// Quartz needs no connection: events go to the window server of the user's session. It does
// need the permission to post them, without which it drops every event without a word.
std::unique_ptr<Platform> createSystemPlatform(std::string& error) {
  if (!mayPostEvents(error)) return nullptr;
  return std::make_unique<QuartzPlatform>();
}

}  // namespace click
