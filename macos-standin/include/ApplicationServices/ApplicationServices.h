// Stand-in of the part of ApplicationServices (the Accessibility API of HIServices) that the macOS
// backends use, for Linux test builds only.
//
// Types, constants, macros and signatures follow Apple's AXError.h, AXValue.h, AXUIElement.h and
// AXAttributeConstants.h (HIServices, macOS 14 SDK): CF_ENUM types as enumerations with the same
// fixed underlying type, CF_OPTIONS types as the integer typedef with an unnamed enumeration of
// that type (what both macros give in C++), Apple's macros as macros. The implementation
// (accessibility.cc) answers from an in-memory element tree that tests build through standin.h.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

// AXError.h
enum AXError : SInt32 {
  kAXErrorSuccess = 0,
  kAXErrorFailure = -25200,
  kAXErrorIllegalArgument = -25201,
  kAXErrorInvalidUIElement = -25202,
  kAXErrorCannotComplete = -25204,
  kAXErrorAttributeUnsupported = -25205,
  kAXErrorActionUnsupported = -25206,
  kAXErrorNotImplemented = -25208,
  kAXErrorAPIDisabled = -25211,
  kAXErrorNoValue = -25212,
};

// AXValue.h (the kAXValue...Type names are the old UInt32 constants, which C++ does not convert
// to AXValueType)
enum AXValueType : UInt32 {
  kAXValueTypeCGPoint = 1,
  kAXValueTypeCGSize = 2,
  kAXValueTypeCGRect = 3,
  kAXValueTypeCFRange = 4,
  kAXValueTypeAXError = 5,
  kAXValueTypeIllegal = 0,
};
static const UInt32 kAXValueCGPointType = kAXValueTypeCGPoint;
static const UInt32 kAXValueCGSizeType = kAXValueTypeCGSize;
static const UInt32 kAXValueCGRectType = kAXValueTypeCGRect;
static const UInt32 kAXValueCFRangeType = kAXValueTypeCFRange;
static const UInt32 kAXValueAXErrorType = kAXValueTypeAXError;
static const UInt32 kAXValueIllegalType = kAXValueTypeIllegal;
typedef const struct __AXValue* AXValueRef;
CFTypeID AXValueGetTypeID(void);
AXValueRef AXValueCreate(AXValueType theType, const void* valuePtr);
AXValueType AXValueGetType(AXValueRef value);
Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr);

// AXUIElement.h
Boolean AXIsProcessTrusted(void);
Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options);
extern CFStringRef kAXTrustedCheckOptionPrompt;

typedef const struct __AXUIElement* AXUIElementRef;
typedef UInt32 AXCopyMultipleAttributeOptions;
enum : AXCopyMultipleAttributeOptions { kAXCopyMultipleAttributeOptionStopOnError = 0x1 };

CFTypeID AXUIElementGetTypeID(void);
AXUIElementRef AXUIElementCreateApplication(pid_t pid);
// Its messaging timeout holds for every element of this process; an application element's own
// timeout holds only for that element.
AXUIElementRef AXUIElementCreateSystemWide(void);
AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds);
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value);
AXError AXUIElementCopyMultipleAttributeValues(AXUIElementRef element, CFArrayRef attributes,
                                               AXCopyMultipleAttributeOptions options,
                                               CFArrayRef* values);
AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value);
AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                       Boolean* settable);
AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action);

// AXAttributeConstants.h: the attribute names the backends read, as Apple defines them (macros,
// so a constant of the same name elsewhere collides here as it would on a Mac), and one old name.
#define kAXRoleAttribute CFSTR("AXRole")
#define kAXTitleAttribute CFSTR("AXTitle")
#define kAXValueAttribute CFSTR("AXValue")
#define kAXPlaceholderValueAttribute CFSTR("AXPlaceholderValue")
#define kAXEnabledAttribute CFSTR("AXEnabled")
#define kAXChildrenAttribute CFSTR("AXChildren")
#define kAXPositionAttribute CFSTR("AXPosition")
#define kAXSizeAttribute CFSTR("AXSize")
#define kAXDescriptionAttribute CFSTR("AXDescription")
#define kAXDescription CFSTR("AXDescription")  // old name
#define kAXMenuBarAttribute CFSTR("AXMenuBar")
#define kAXWindowsAttribute CFSTR("AXWindows")
#define kAXFocusedWindowAttribute CFSTR("AXFocusedWindow")
#define kAXFocusedUIElementAttribute CFSTR("AXFocusedUIElement")
#define kAXURLAttribute CFSTR("AXURL")

#ifdef __cplusplus
}
#endif
