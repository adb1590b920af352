// What the backends that inject plain input events share (X11 through XTest, wlroots through a
// virtual pointer): their events are values that the core builds and places, posted as one
// motion followed by a press, a release or wheel clicks, and the waits between them start only
// once the server has handled everything sent before.
//
// - Neither system has delivery to one process: an event meant for one pid goes to the seat.
// - Toolkits count clicks themselves from the timing and position of presses, so the click
//   state an event carries has nothing to map to and is dropped.
#pragma once

#include <time.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "click/platform.h"

namespace click {

struct InjectedEvent : Event {
  EventType type = kMouseMoved;
  MouseButton button = kButtonLeft;
  Point at;
  bool scroll = false;
  int32_t vertical = 0;    // wheel clicks, positive upwards
  int32_t horizontal = 0;  // wheel clicks, positive leftwards

  bool presses() const {
    return type == kLeftMouseDown || type == kRightMouseDown || type == kOtherMouseDown;
  }
  bool releases() const {
    return type == kLeftMouseUp || type == kRightMouseUp || type == kOtherMouseUp;
  }
};

class InjectingPlatform : public Platform {
 public:
  std::unique_ptr<Event> createMouseEvent(EventType type, MouseButton button, Point at) override {
    auto event = std::make_unique<InjectedEvent>();
    event->type = type;
    event->button = button;
    event->at = at;
    return event;
  }

  std::unique_ptr<Event> createScrollEvent(int32_t wheel1, int32_t wheel2, int32_t) override {
    auto event = std::make_unique<InjectedEvent>();
    event->scroll = true;
    event->vertical = wheel1;
    event->horizontal = wheel2;
    return event;
  }

  void setClickState(Event&, int64_t) override {}
  void setLocation(Event& event, Point at) override { static_cast<InjectedEvent&>(event).at = at; }
  void release(std::unique_ptr<Event>) override {}

  void postSystemWide(Event& event) override { post(static_cast<InjectedEvent&>(event)); }
  void postToPid(int32_t, Event& event) override { postSystemWide(event); }

  // Every wait begins with a round trip, so that it starts only when the server has processed
  // everything before it and the gaps that applications see are the plan's.
  void sleepMicroseconds(uint32_t microseconds) override {
    roundTrip();
    timespec left{static_cast<time_t>(microseconds / 1000000),
                  static_cast<long>(microseconds % 1000000) * 1000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

 protected:
  // Moves the pointer to the event's point, then presses, releases or turns the wheels.
  virtual void post(const InjectedEvent& event) = 0;
  // Returns once the server has handled every request sent so far.
  virtual void roundTrip() = 0;
};

}  // namespace click
