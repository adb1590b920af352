// Stand-in of the part of CoreGraphics that the macOS backends use, for Linux test builds only.
//
// Types, constants and signatures follow Apple's CGBase.h, CGGeometry.h, CGError.h,
// CGEventTypes.h, CGEvent.h and CGRemoteOperation.h. The implementation (coregraphics.cc) posts
// nothing: it writes every call down in order (see standin.h) and keeps a cursor position that
// follows the events posted to the HID tap and the warps. To support another call, copy its
// declaration from Apple's header here and record it in coregraphics.cc.
#pragma once

// Apple declares these enumerations with CF_ENUM, which in C++ gives an enumeration type with a
// fixed underlying type; so do the declarations here (the stand-in is compiled as C++ only).

#include <CoreFoundation/CoreFoundation.h>
#include <stdbool.h>
#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

// CGBase.h, CGGeometry.h (64-bit: CGFloat is double)
typedef double CGFloat;
struct CGPoint {
  CGFloat x;
  CGFloat y;
};
typedef struct CGPoint CGPoint;
struct CGSize {
  CGFloat width;
  CGFloat height;
};
typedef struct CGSize CGSize;
struct CGRect {
  CGPoint origin;
  CGSize size;
};
typedef struct CGRect CGRect;

// CGError.h
enum CGError : int32_t { kCGErrorSuccess = 0, kCGErrorFailure = 1000 };

// CGEventTypes.h
typedef struct __CGEvent* CGEventRef;
typedef struct __CGEventSource* CGEventSourceRef;

enum CGMouseButton : uint32_t {
  kCGMouseButtonLeft = 0,
  kCGMouseButtonRight = 1,
  kCGMouseButtonCenter = 2
};

enum CGScrollEventUnit : uint32_t { kCGScrollEventUnitPixel = 0, kCGScrollEventUnitLine = 1 };

enum CGEventType : uint32_t {
  kCGEventNull = 0,
  kCGEventLeftMouseDown = 1,
  kCGEventLeftMouseUp = 2,
  kCGEventRightMouseDown = 3,
  kCGEventRightMouseUp = 4,
  kCGEventMouseMoved = 5,
  kCGEventLeftMouseDragged = 6,
  kCGEventRightMouseDragged = 7,
  kCGEventKeyDown = 10,
  kCGEventKeyUp = 11,
  kCGEventFlagsChanged = 12,
  kCGEventScrollWheel = 22,
  kCGEventOtherMouseDown = 25,
  kCGEventOtherMouseUp = 26,
  kCGEventOtherMouseDragged = 27,
};

enum CGEventField : uint32_t { kCGMouseEventNumber = 0, kCGMouseEventClickState = 1 };

enum CGEventTapLocation : uint32_t {
  kCGHIDEventTap = 0,
  kCGSessionEventTap = 1,
  kCGAnnotatedSessionEventTap = 2
};

// CGEvent.h
CFTypeID CGEventGetTypeID(void);
CGEventRef CGEventCreate(CGEventSourceRef source);
CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType mouseType,
                                   CGPoint mouseCursorPosition, CGMouseButton mouseButton);
CGEventRef CGEventCreateScrollWheelEvent2(CGEventSourceRef source, CGScrollEventUnit units,
                                          uint32_t wheelCount, int32_t wheel1, int32_t wheel2,
                                          int32_t wheel3);
CGPoint CGEventGetLocation(CGEventRef event);
void CGEventSetLocation(CGEventRef event, CGPoint location);
void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, int64_t value);
void CGEventPost(CGEventTapLocation tap, CGEventRef event);
void CGEventPostToPid(pid_t pid, CGEventRef event);

// CGRemoteOperation.h
CGError CGWarpMouseCursorPosition(CGPoint newCursorPosition);

#ifdef __cplusplus
}
#endif
