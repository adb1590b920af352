// The stand-in's object model and world, shared by its CoreFoundation, Accessibility and
// CoreGraphics parts. Every CF object is an Object with a reference count; the constant ones
// (kCFNull, the booleans, CFSTR strings) live for the whole process and are not counted.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "standin.h"

namespace standin {

enum TypeId : CFTypeID {
  kNullType = 1,
  kStringType,
  kBooleanType,
  kNumberType,
  kArrayType,
  kDictionaryType,
  kUrlType,
  kAttributedType,
  kAxValueType,
  kAxElementType,
  kEventType,
  kBundleType,
  kDataType,
  kImageType,
  kDisplayModeType,
  kDataProviderType,
};

struct Object {
  Object(CFTypeID type, bool counted);
  virtual ~Object();
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  CFTypeID type;
  long references = 1;
  bool counted;
};

// The object behind a reference; never null for references the stand-in handed out.
Object* object(CFTypeRef ref);

// A new string (+1) from UTF-8 text, or null for invalid UTF-8.
CFStringRef makeString(const std::string& utf8);
std::string toUtf8(CFStringRef string);

struct Attribute {
  std::string name;
  CFTypeRef value = nullptr;  // retained; null: read succeeds without a value
  AXError failure = kAXErrorSuccess;
};

struct Node {
  std::vector<Attribute> attributes;
  Batch batch = Batch::kNormal;
  std::vector<std::string> actions;   // what AXUIElementPerformAction accepts
  std::vector<std::string> settable;  // attributes AXUIElementSetAttributeValue changes
};

struct World {
  std::vector<Node> nodes;
  uint32_t application = 0;
  std::vector<std::pair<int32_t, uint32_t>> applications;  // by pid
  bool trusted = true;
  int prompts = 0;
  double clock = 0;
  double clockStep = 0;
  std::optional<float> timeout;
  std::vector<std::string> sets;

  std::vector<std::pair<std::string, CFTypeRef>> info;         // retained values
  std::vector<std::pair<std::string, CFTypeRef>> preferences;  // retained values
  std::optional<std::string> resources;
  int synchronizations = 0;

  std::vector<Call> calls;
  std::optional<CGPoint> cursor = CGPoint{0, 0};
  bool failReadsAfterFirst = false;
  int cursorReads = 0;
  bool failMouse = false;
  bool failScroll = false;
  uint64_t events = 0;
  std::vector<CGKeyCode> keysDown;  // what CGEventSourceKeyState answers
  uint64_t flagsState = 0;          // what CGEventSourceFlagsState answers
  bool postEvents = true;           // what CGPreflightPostEventAccess answers

  std::vector<WindowInfo> windows;
  std::vector<CGRect> displays;
  std::vector<size_t> displayScales;
  bool screenCapture = true;
  std::optional<Bitmap> screenImage;

  int64_t live = 0;
};
World& world();

// The element's attribute, emptied (its old value released), added when missing.
Attribute& slot(uint32_t element, const std::string& name);

// Drops the Accessibility part of the world (called by reset()).
void resetAccessibility();
// Releases the values of a key-value list and empties it.
void releaseAll(std::vector<std::pair<std::string, CFTypeRef>>& values);

}  // namespace standin

struct __CFString : standin::Object {
  explicit __CFString(bool counted = true) : Object(standin::kStringType, counted) {}
  std::u16string units;
};
struct __CFNull : standin::Object {
  __CFNull() : Object(standin::kNullType, false) {}
};
struct __CFBoolean : standin::Object {
  explicit __CFBoolean(bool v) : Object(standin::kBooleanType, false), value(v) {}
  bool value;
};
struct __CFNumber : standin::Object {
  __CFNumber() : Object(standin::kNumberType, true) {}
  bool isFloat = false;
  int64_t integer = 0;
  double real = 0;
};
struct __CFArray : standin::Object {
  __CFArray() : Object(standin::kArrayType, true) {}
  ~__CFArray() override;
  std::vector<CFTypeRef> values;  // retained
};
struct __CFDictionary : standin::Object {
  __CFDictionary() : Object(standin::kDictionaryType, true) {}
  ~__CFDictionary() override;
  std::vector<std::pair<CFTypeRef, CFTypeRef>> entries;  // both retained
};
struct __CFURL : standin::Object {
  __CFURL() : Object(standin::kUrlType, true) {}
  ~__CFURL() override;
  CFStringRef string = nullptr;  // retained
};
struct __CFAttributedString : standin::Object {
  __CFAttributedString() : Object(standin::kAttributedType, true) {}
  ~__CFAttributedString() override;
  CFStringRef string = nullptr;  // retained
};
struct __AXValue : standin::Object {
  __AXValue() : Object(standin::kAxValueType, true) {}
  AXValueType kind = kAXValueTypeIllegal;
  unsigned char bytes[sizeof(CGRect)] = {};
};
namespace standin {
// The node number of the system-wide element, which has no node in the tree.
constexpr uint32_t kSystemWide = UINT32_MAX;
}  // namespace standin
struct __AXUIElement : standin::Object {
  explicit __AXUIElement(uint32_t n) : Object(standin::kAxElementType, true), node(n) {}
  uint32_t node;
};
struct __CFData : standin::Object {
  __CFData() : Object(standin::kDataType, true) {}
  std::vector<uint8_t> bytes;
};
// An image's data provider belongs to the image (CGImageGetDataProvider is a Get function).
struct CGDataProvider : standin::Object {
  CGDataProvider() : Object(standin::kDataProviderType, false) {}
  standin::Bitmap bitmap;
};
struct CGDisplayMode : standin::Object {
  CGDisplayMode() : Object(standin::kDisplayModeType, true) {}
  size_t width = 0;  // points
  size_t pixelWidth = 0;
};
struct CGImage : standin::Object {
  CGImage() : Object(standin::kImageType, true) {}
  CGDataProvider provider;
};
struct __CGEvent : standin::Object {
  __CGEvent() : Object(standin::kEventType, true) {}
  uint64_t serial = 0;
  bool mouse = false;
  CGPoint at = {0, 0};
};
