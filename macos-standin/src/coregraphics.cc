// The stand-in's Quartz event functions: nothing is posted; every call is written down in order,
// and a cursor position follows the mouse events posted to the HID tap and the warps.
#include <algorithm>
#include <cstdio>

#include "runtime.h"

namespace standin {
namespace {

void record(const char* function, uint64_t event, std::vector<int64_t> values = {},
            std::optional<CGPoint> point = std::nullopt) {
  world().calls.push_back({function, event, std::move(values), point, {}});
}

__CGEvent* newEvent(bool mouse, CGPoint at) {
  auto event = new __CGEvent;
  event->serial = ++world().events;
  event->mouse = mouse;
  event->at = at;
  return event;
}

uint64_t serial(CGEventRef event) {
  return event ? event->serial : 0;
}

}  // namespace

const std::vector<Call>& calls() {
  return world().calls;
}
void note(std::string text) {
  world().calls.push_back({"note", 0, {}, {}, std::move(text)});
}
void setCursor(std::optional<CGPoint> at) {
  world().cursor = at;
}
void failCursorReadsAfterFirst(bool fail) {
  world().failReadsAfterFirst = fail;
}
void failMouseEvents(bool fail) {
  world().failMouse = fail;
}
void failScrollEvents(bool fail) {
  world().failScroll = fail;
}
void setPostEventAccess(bool granted) {
  world().postEvents = granted;
}
void setKeysDown(std::vector<CGKeyCode> keys) {
  world().keysDown = std::move(keys);
}
void setFlagsState(uint64_t flags) {
  world().flagsState = flags;
}

}  // namespace standin

using standin::world;

extern "C" {

CFTypeID CGEventGetTypeID(void) {
  return standin::kEventType;
}

CGEventRef CGEventCreate(CGEventSourceRef) {
  const bool fails = ++world().cursorReads > 1 && world().failReadsAfterFirst;
  CGEventRef event = fails || !world().cursor ? nullptr : standin::newEvent(false, *world().cursor);
  standin::record("CGEventCreate", standin::serial(event));
  return event;
}

CGEventRef CGEventCreateMouseEvent(CGEventSourceRef, CGEventType mouseType,
                                   CGPoint mouseCursorPosition, CGMouseButton mouseButton) {
  CGEventRef event = world().failMouse ? nullptr : standin::newEvent(true, mouseCursorPosition);
  standin::record("CGEventCreateMouseEvent", standin::serial(event), {mouseType, mouseButton},
                  mouseCursorPosition);
  return event;
}

CGEventRef CGEventCreateScrollWheelEvent2(CGEventSourceRef, CGScrollEventUnit units,
                                          uint32_t wheelCount, int32_t wheel1, int32_t wheel2,
                                          int32_t wheel3) {
  CGEventRef event = world().failScroll ? nullptr : standin::newEvent(false, CGPoint{0, 0});
  standin::record("CGEventCreateScrollWheelEvent2", standin::serial(event),
                  {units, wheelCount, wheel1, wheel2, wheel3});
  return event;
}

CGPoint CGEventGetLocation(CGEventRef event) {
  const CGPoint at = event ? event->at : CGPoint{0, 0};
  standin::record("CGEventGetLocation", standin::serial(event), {}, at);
  return at;
}

void CGEventSetLocation(CGEventRef event, CGPoint location) {
  standin::record("CGEventSetLocation", standin::serial(event), {}, location);
  if (event) event->at = location;
}

void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, int64_t value) {
  standin::record("CGEventSetIntegerValueField", standin::serial(event), {field, value});
}

void CGEventPost(CGEventTapLocation tap, CGEventRef event) {
  standin::record("CGEventPost", standin::serial(event), {tap});
  if (event && event->mouse && tap == kCGHIDEventTap) world().cursor = event->at;
}

bool CGPreflightPostEventAccess(void) {
  return world().postEvents;
}

// The real one shows the system's prompt the first time; the stand-in writes the request down.
bool CGRequestPostEventAccess(void) {
  standin::record("CGRequestPostEventAccess", 0, {});
  return world().postEvents;
}

void CGEventPostToPid(pid_t pid, CGEventRef event) {
  standin::record("CGEventPostToPid", standin::serial(event), {pid});
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef, CGKeyCode virtualKey, bool keyDown) {
  CGEventRef event = standin::newEvent(false, CGPoint{0, 0});
  standin::record("CGEventCreateKeyboardEvent", standin::serial(event), {virtualKey, keyDown});
  return event;
}

void CGEventSetFlags(CGEventRef event, CGEventFlags flags) {
  standin::record("CGEventSetFlags", standin::serial(event), {static_cast<int64_t>(flags)});
}

void CGEventKeyboardSetUnicodeString(CGEventRef event, UniCharCount stringLength,
                                     const UniChar* unicodeString) {
  std::string units;
  for (UniCharCount i = 0; i < stringLength; ++i) {
    char unit[8];
    std::snprintf(unit, sizeof unit, "%sU+%04X", i ? " " : "", unicodeString[i]);
    units += unit;
  }
  world().calls.push_back({"CGEventKeyboardSetUnicodeString",
                           standin::serial(event),
                           {static_cast<int64_t>(stringLength)},
                           std::nullopt,
                           units});
}

bool CGEventSourceKeyState(CGEventSourceStateID stateID, CGKeyCode key) {
  const auto& down = world().keysDown;
  const bool pressed = std::find(down.begin(), down.end(), key) != down.end();
  standin::record("CGEventSourceKeyState", 0, {stateID, key, pressed});
  return pressed;
}

CGEventFlags CGEventSourceFlagsState(CGEventSourceStateID stateID) {
  standin::record("CGEventSourceFlagsState", 0, {stateID});
  return static_cast<CGEventFlags>(world().flagsState);
}

CGError CGWarpMouseCursorPosition(CGPoint newCursorPosition) {
  standin::record("CGWarpMouseCursorPosition", 0, {}, newCursorPosition);
  world().cursor = newCursorPosition;
  return kCGErrorSuccess;
}

}  // extern "C"
