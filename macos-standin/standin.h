// The test side of the Apple stand-in: builds the in-memory world that the stand-in's Apple
// functions answer from, and reads back what the code under test did to it.
//
// One world per process; reset() empties it. The references that the stand-in's Create and Copy
// functions and CFRetain hand out are counted until released, so a test can show that code
// released every one it got, no more and no fewer.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace standin {

// Empties the world: no elements, no calls written down, clock at 0, cursor at (0, 0), trusted.
void reset();
// References made by Create/Copy functions and CFRetain and not yet released (constants such as
// kCFNull and CFSTR strings are not counted).
int64_t liveReferences();

// -- Accessibility -----------------------------------------------------------------------------

// How AXUIElementCopyMultipleAttributeValues answers for one element.
enum class Batch { kNormal, kFail, kShort };

// Adds an element without attributes; returns its number (0, 1, ...).
uint32_t addElement();
// A new reference (+1) to element `number`; a number without element gives an element that has
// no attributes.
AXUIElementRef createElement(uint32_t number);
// The attribute's value (retained by the world; a null value reads as success without value).
void setAttribute(uint32_t element, const std::string& name, CFTypeRef value);
// The attribute's read fails with this code.
void setAttributeFailure(uint32_t element, const std::string& name, AXError code);
void setBatch(uint32_t element, Batch batch);
// The actions AXUIElementPerformAction performs on the element ("AXPress" flips a 0/1 or boolean
// AXValue), and the attributes AXUIElementSetAttributeValue changes (AXFocused true also makes
// it the application's AXFocusedUIElement). Every other action or attribute is unsupported.
void setActions(uint32_t element, std::vector<std::string> actions);
void setSettable(uint32_t element, std::vector<std::string> attributes);
// The element AXUIElementCreateApplication gives for any pid, and for one pid in particular.
void setApplication(uint32_t element);
void setApplication(int32_t pid, uint32_t element);
void setTrusted(bool trusted);
// How often AXIsProcessTrustedWithOptions was asked to prompt.
int promptCount();
// The fake clock read by CFAbsoluteTimeGetCurrent: it advances by `step` seconds on every request
// to an application's element (the messaging timeout, set and copy calls).
void setClockStep(double step);
void advanceClock(double seconds);
// The messaging timeout set for the whole process (on the system-wide element; a timeout set on
// another element holds only for that element and is not kept), and the attributes set, as
// "NAME=true|false|other".
std::optional<float> messagingTimeout();
std::vector<std::string> attributesSet();

// -- Bundle and preferences --------------------------------------------------------------------

// A value of the main bundle's Info.plist (retained by the world; null removes it).
void setInfoValue(const std::string& key, CFTypeRef value);
// The main bundle's resources folder; none makes CFBundleCopyResourcesDirectoryURL give NULL.
void setResourcesFolder(std::optional<std::string> path);
// The value stored under the key in the current application's preferences, or null (not retained).
CFPropertyListRef preference(const std::string& key);
// How often the current application's preferences were written out.
int preferenceSynchronizations();

// -- Quartz events -----------------------------------------------------------------------------

// One call of a CoreGraphics event function, or a note a test adds between them.
struct Call {
  std::string function;  // "CGEventCreateMouseEvent", "CFRelease", ..., or "note"
  uint64_t event = 0;    // the event made or passed (1, 2, ... in order of creation); 0: NULL
  std::vector<int64_t> values;   // the integer arguments in order (type, button, field, wheels...)
  std::optional<CGPoint> point;  // the point argument, or the location read
  std::string text;              // notes; the UTF-16 units of a Unicode string, as "U+XXXX ..."
};
const std::vector<Call>& calls();
void note(std::string text);
// The cursor the HID tap moves; none makes CGEventCreate fail until an event or a warp places it.
void setCursor(std::optional<CGPoint> at);
// Every CGEventCreate after the first fails.
void failCursorReadsAfterFirst(bool fail);
void failMouseEvents(bool fail);
void failScrollEvents(bool fail);
// What CGPreflightPostEventAccess answers (granted after reset()); CGRequestPostEventAccess is
// written down as a call.
void setPostEventAccess(bool granted);
// The keys CGEventSourceKeyState reads as down, and the flags CGEventSourceFlagsState gives.
void setKeysDown(std::vector<CGKeyCode> keys);
void setFlagsState(uint64_t flags);

// -- Windows, displays and the screen image ----------------------------------------------------

// One entry of CGWindowListCopyWindowInfo's list, which gives them in this order (front first).
struct WindowInfo {
  int32_t pid = 0;
  int32_t layer = 0;
  CGRect bounds = {};
  uint32_t number = 0;         // kCGWindowNumber
  std::string name = {};       // kCGWindowName, left out when empty
  std::string ownerName = {};  // kCGWindowOwnerName
};
void setWindows(std::vector<WindowInfo> windows);
// The active displays' bounds, main display first; CGDirectDisplayID 1, 2, ... in this order.
// `scales` gives their pixels per point (1 where it gives none), which their display modes show.
void setDisplays(std::vector<CGRect> bounds, std::vector<size_t> scales = {});
void setScreenCaptureAccess(bool granted);
// The pixels every screen capture gives, whatever display and area is asked for; none makes it
// fail.
struct Bitmap {
  size_t width = 0;
  size_t height = 0;
  size_t bitsPerComponent = 8;
  size_t bitsPerPixel = 32;
  size_t bytesPerRow = 0;
  uint32_t info = 0;  // CGBitmapInfo: alpha layout, byte order, float components
  std::vector<uint8_t> bytes;
};
void setScreenImage(std::optional<Bitmap> bitmap);
// A screen capture as ScreenCaptureKit's screenshot gives it (vantic-shot's capture-mac.mm, which
// Linux builds do not compile; its tests call this in its place): a new image of the scripted
// bitmap, or NULL. Written down as a "capture" call with the display and the pixel size as
// values and the area as "x y width height" in `text`, after "CGWindowListCopyWindowInfo" calls
// with the option and window (kCGWindowListOptionIncludingWindow gives only that window's entry).
CGImageRef captureScreen(CGDirectDisplayID display, CGRect area, size_t width, size_t height);

}  // namespace standin
