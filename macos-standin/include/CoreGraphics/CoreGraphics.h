// Stand-in of the part of CoreGraphics that the macOS backends use, for Linux test builds only.
//
// Types, constants and signatures follow Apple's CGBase.h, CGGeometry.h, CGError.h,
// CGEventTypes.h, CGEvent.h, CGEventSource.h, CGRemoteOperation.h, CGWindow.h,
// CGDirectDisplay.h, CGImage.h and CGDataProvider.h. The event implementation (coregraphics.cc)
// posts nothing: it writes every call down in order (see standin.h) and keeps a cursor position
// that follows the events posted to the HID tap and the warps. The window list, the displays and
// the screen image (windows.cc) answer from what a test scripted. To support another call, copy
// its declaration from Apple's header here and implement it in one of those files.
#pragma once

// Apple declares most enumerations with CF_ENUM, which in C++ gives an enumeration type with a
// fixed underlying type, and option sets with CF_OPTIONS, which in C++ gives the integer type and
// an unnamed enumeration of it; so do the declarations here (the stand-in is compiled as C++
// only).

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

// CGRemoteOperation.h
typedef uint16_t CGKeyCode;

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

// CF_OPTIONS(uint64_t, CGEventFlags): in C++ the integer type and an unnamed enumeration of it;
// the masks the keyboard backend uses.
typedef uint64_t CGEventFlags;
enum : CGEventFlags {
  kCGEventFlagMaskAlphaShift = 0x00010000,
  kCGEventFlagMaskShift = 0x00020000,
  kCGEventFlagMaskControl = 0x00040000,
  kCGEventFlagMaskAlternate = 0x00080000,
  kCGEventFlagMaskCommand = 0x00100000,
};

enum CGEventSourceStateID : int32_t {
  kCGEventSourceStatePrivate = -1,
  kCGEventSourceStateCombinedSessionState = 0,
  kCGEventSourceStateHIDSystemState = 1
};

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
CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown);
void CGEventSetFlags(CGEventRef event, CGEventFlags flags);
void CGEventKeyboardSetUnicodeString(CGEventRef event, UniCharCount stringLength,
                                     const UniChar* unicodeString);
bool CGPreflightPostEventAccess(void);
bool CGRequestPostEventAccess(void);

// CGEventSource.h
bool CGEventSourceKeyState(CGEventSourceStateID stateID, CGKeyCode key);
CGEventFlags CGEventSourceFlagsState(CGEventSourceStateID stateID);
void CGEventPostToPid(pid_t pid, CGEventRef event);

// CGRemoteOperation.h
CGError CGWarpMouseCursorPosition(CGPoint newCursorPosition);

// CGGeometry.h
bool CGRectMakeWithDictionaryRepresentation(CFDictionaryRef dict, CGRect* rect);

// CGDirectDisplay.h
typedef uint32_t CGDirectDisplayID;
CGError CGGetActiveDisplayList(uint32_t maxDisplays, CGDirectDisplayID* activeDisplays,
                               uint32_t* displayCount);
CGRect CGDisplayBounds(CGDirectDisplayID display);
typedef struct CGDisplayMode* CGDisplayModeRef;
CGDisplayModeRef CGDisplayCopyDisplayMode(CGDirectDisplayID display);
size_t CGDisplayModeGetWidth(CGDisplayModeRef mode);
size_t CGDisplayModeGetPixelWidth(CGDisplayModeRef mode);
void CGDisplayModeRelease(CGDisplayModeRef mode);

// CGImage.h, CGDataProvider.h
typedef struct CGImage* CGImageRef;
typedef struct CGDataProvider* CGDataProviderRef;
enum CGImageAlphaInfo : uint32_t {
  kCGImageAlphaNone = 0,
  kCGImageAlphaPremultipliedLast = 1,
  kCGImageAlphaPremultipliedFirst = 2,
  kCGImageAlphaLast = 3,
  kCGImageAlphaFirst = 4,
  kCGImageAlphaNoneSkipLast = 5,
  kCGImageAlphaNoneSkipFirst = 6,
  kCGImageAlphaOnly = 7,
};
// CF_OPTIONS, which in C++ makes the type a plain integer and the constants an unnamed
// enumeration: CGBitmapInfo, CGWindowListOption and CGWindowImageOption.
typedef uint32_t CGBitmapInfo;
enum : CGBitmapInfo {
  kCGBitmapAlphaInfoMask = 0x1F,
  kCGBitmapFloatInfoMask = 0xF00,
  kCGBitmapFloatComponents = (1 << 8),
  kCGBitmapByteOrderMask = 0x7000,
  kCGBitmapByteOrderDefault = (0 << 12),
  kCGBitmapByteOrder16Little = (1 << 12),
  kCGBitmapByteOrder32Little = (2 << 12),
  kCGBitmapByteOrder16Big = (3 << 12),
  kCGBitmapByteOrder32Big = (4 << 12),
};
enum CGImagePixelFormatInfo : uint32_t { kCGImagePixelFormatMask = 0xF0000 };  // CF_ENUM
size_t CGImageGetWidth(CGImageRef image);
size_t CGImageGetHeight(CGImageRef image);
size_t CGImageGetBitsPerComponent(CGImageRef image);
size_t CGImageGetBitsPerPixel(CGImageRef image);
size_t CGImageGetBytesPerRow(CGImageRef image);
CGBitmapInfo CGImageGetBitmapInfo(CGImageRef image);
CGImageAlphaInfo CGImageGetAlphaInfo(CGImageRef image);
CGDataProviderRef CGImageGetDataProvider(CGImageRef image);
void CGImageRelease(CGImageRef image);
CFDataRef CGDataProviderCopyData(CGDataProviderRef provider);

// CGWindow.h
typedef uint32_t CGWindowID;
#define kCGNullWindowID ((CGWindowID)0)
extern const CFStringRef kCGWindowLayer;
extern const CFStringRef kCGWindowBounds;
extern const CFStringRef kCGWindowOwnerPID;
extern const CFStringRef kCGWindowNumber;
extern const CFStringRef kCGWindowOwnerName;
extern const CFStringRef kCGWindowName;
typedef uint32_t CGWindowListOption;
enum : CGWindowListOption {
  kCGWindowListOptionAll = 0,
  kCGWindowListOptionOnScreenOnly = (1 << 0),
  kCGWindowListOptionOnScreenAboveWindow = (1 << 1),
  kCGWindowListOptionOnScreenBelowWindow = (1 << 2),
  kCGWindowListOptionIncludingWindow = (1 << 3),
  kCGWindowListExcludeDesktopElements = (1 << 4),
};
typedef uint32_t CGWindowImageOption;
enum : CGWindowImageOption {
  kCGWindowImageDefault = 0,
  kCGWindowImageBoundsIgnoreFraming = (1 << 0),
  kCGWindowImageShouldBeOpaque = (1 << 1),
  kCGWindowImageOnlyShadows = (1 << 2),
  kCGWindowImageBestResolution = (1 << 3),
  kCGWindowImageNominalResolution = (1 << 4),
};
CFArrayRef CGWindowListCopyWindowInfo(CGWindowListOption option, CGWindowID relativeToWindow);
bool CGPreflightScreenCaptureAccess(void);
// The macOS 15 SDK marks this one unavailable ("obsoleted in macOS 15.0", ScreenCaptureKit
// replaces it) for builds that target macOS 15, as Mevrik's Apple builds do, and the stand-in
// marks it the same way, so that a call fails to compile here as it would on a Mac. The stand-in
// does not implement it.
__attribute__((unavailable("obsoleted in macOS 15.0 - Please use ScreenCaptureKit instead.")))
CGImageRef
CGWindowListCreateImage(CGRect screenBounds, CGWindowListOption listOption, CGWindowID windowID,
                        CGWindowImageOption imageOption);

#ifdef __cplusplus
}
#endif
