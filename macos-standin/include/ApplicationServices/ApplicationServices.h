// Stand-in of the part of ApplicationServices (the Accessibility API of HIServices) that the macOS
// backends use, for Linux test builds only.
//
// Types, constants and signatures follow Apple's AXError.h, AXValue.h and AXUIElement.h. The
// implementation (accessibility.cc) answers from an in-memory element tree that tests build
// through standin.h.
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
  kAXErrorNotImplemented = -25208,
  kAXErrorAPIDisabled = -25211,
  kAXErrorNoValue = -25212,
};

// AXValue.h
enum AXValueType : UInt32 {
  kAXValueCGPointType = 1,
  kAXValueCGSizeType = 2,
  kAXValueCGRectType = 3,
  kAXValueCFRangeType = 4,
  kAXValueAXErrorType = 5,
  kAXValueIllegalType = 0,
};
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
enum { kAXCopyMultipleAttributeOptionStopOnError = 0x1 };

CFTypeID AXUIElementGetTypeID(void);
AXUIElementRef AXUIElementCreateApplication(pid_t pid);
AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds);
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value);
AXError AXUIElementCopyMultipleAttributeValues(AXUIElementRef element, CFArrayRef attributes,
                                               AXCopyMultipleAttributeOptions options,
                                               CFArrayRef* values);
AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value);
AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action);

#ifdef __cplusplus
}
#endif
