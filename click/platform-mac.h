// The macOS backend of the pointer tool: Quartz events (CoreGraphics) for the events and the
// cursor, AppKit for the frontmost process.
//
// The CoreGraphics part is plain C++ (platform-mac.cc); the one AppKit question, the frontmost
// process, is desktop/mac/frontmost.h's.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "click/platform.h"

namespace click {

class QuartzPlatform : public Platform {
 public:
  int32_t frontmostPid() override;
  std::optional<Point> cursorPosition() override;
  std::unique_ptr<Event> createMouseEvent(EventType type, MouseButton button, Point at) override;
  void setClickState(Event& event, int64_t clicks) override;
  void postSystemWide(Event& event) override;
  void postToPid(int32_t pid, Event& event) override;
  std::unique_ptr<Event> createScrollEvent(int32_t wheel1, int32_t wheel2, int32_t wheel3) override;
  void setLocation(Event& event, Point at) override;
  void release(std::unique_ptr<Event> event) override;
  WindowLookup windowAt(Point at) override;
  void warpCursor(Point to) override;
  void sleepMicroseconds(uint32_t microseconds) override;
};

}  // namespace click
