#include "ax/platform-mac.h"

#include <ApplicationServices/ApplicationServices.h>

#include <chrono>
#include <memory>
#include <thread>
#include <utility>

namespace ax {
namespace {

using mevrik::CFRef;
using mevrik::toUtf8;

// The backend's element reference: owns one AXUIElementRef.
struct MacElement : ElementRef {
  explicit MacElement(CFRef<AXUIElementRef> r) : ref(std::move(r)) {}
  CFRef<AXUIElementRef> ref;
};

AXUIElementRef axElement(const Element& element) {
  const auto* mac = dynamic_cast<const MacElement*>(element.get());
  return mac ? mac->ref.get() : nullptr;
}

Value fromAxValue(AXValueRef value) {
  switch (AXValueGetType(value)) {
    case kAXValueTypeCGPoint: {
      CGPoint p;
      if (AXValueGetValue(value, kAXValueTypeCGPoint, &p)) return Value::ofPoint(p.x, p.y);
      break;
    }
    case kAXValueTypeCGSize: {
      CGSize s;
      if (AXValueGetValue(value, kAXValueTypeCGSize, &s)) return Value::ofSize(s.width, s.height);
      break;
    }
    case kAXValueTypeAXError: {
      AXError code = kAXErrorFailure;
      AXValueGetValue(value, kAXValueTypeAXError, &code);
      return Value::ofAxError(code);
    }
    default:
      break;
  }
  return Value::ofAxOther();
}

// One attribute value as the core's Value. Kinds the walk does not tell apart (dictionaries,
// dates, data, ...) read like an AXValue of another kind: no text, no point, no size.
Value fromCF(CFTypeRef value) {
  const CFTypeID type = CFGetTypeID(value);
  if (type == CFNullGetTypeID()) return Value::null();
  if (type == CFStringGetTypeID()) return Value::ofText(toUtf8(static_cast<CFStringRef>(value)));
  if (type == CFBooleanGetTypeID()) {
    return Value::ofBoolean(CFBooleanGetValue(static_cast<CFBooleanRef>(value)));
  }
  if (type == CFNumberGetTypeID()) {
    const auto number = static_cast<CFNumberRef>(value);
    if (CFNumberIsFloatType(number)) {
      double d = 0;
      CFNumberGetValue(number, kCFNumberDoubleType, &d);
      return Value::ofReal(d);
    }
    int64_t i = 0;
    CFNumberGetValue(number, kCFNumberSInt64Type, &i);
    return Value::ofInteger(i);
  }
  if (type == CFURLGetTypeID()) {
    const auto url = static_cast<CFURLRef>(value);
    const CFRef<CFURLRef> absolute(CFURLCopyAbsoluteURL(url));
    return Value::ofUrl(toUtf8(CFURLGetString(absolute ? absolute.get() : url)));
  }
  if (type == CFAttributedStringGetTypeID()) {
    return Value::ofAttributed(
        toUtf8(CFAttributedStringGetString(static_cast<CFAttributedStringRef>(value))));
  }
  if (type == AXValueGetTypeID()) return fromAxValue(static_cast<AXValueRef>(value));
  if (type == AXUIElementGetTypeID()) {
    return Value::ofElement(std::make_shared<MacElement>(
        CFRef<AXUIElementRef>::retain(static_cast<AXUIElementRef>(value))));
  }
  if (type == CFArrayGetTypeID()) {
    const auto array = static_cast<CFArrayRef>(value);
    const CFIndex count = CFArrayGetCount(array);
    std::vector<Value> entries;
    entries.reserve(static_cast<size_t>(count));
    for (CFIndex i = 0; i < count; ++i) entries.push_back(fromCF(CFArrayGetValueAtIndex(array, i)));
    return Value::ofList(std::move(entries));
  }
  return Value::ofAxOther();
}

}  // namespace

bool MacPlatform::isProcessTrusted() {
  return AXIsProcessTrusted();
}

bool MacPlatform::isProcessTrustedWithPrompt() {
  const void* keys[] = {kAXTrustedCheckOptionPrompt};
  const void* values[] = {kCFBooleanTrue};
  const CFRef<CFDictionaryRef> options(CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1,
                                                          &kCFTypeDictionaryKeyCallBacks,
                                                          &kCFTypeDictionaryValueCallBacks));
  return AXIsProcessTrustedWithOptions(options.get());
}

std::string MacPlatform::notTrustedMessage() {
  return "accessibility not trusted: allow this terminal app in System Settings > Privacy & "
         "Security > Accessibility";
}

std::optional<FrontmostApplication> MacPlatform::frontmostApplication() {
  return workspaceFrontmostApplication();
}

std::vector<Rect> MacPlatform::screens() {
  return workspaceScreens();
}

std::optional<FrontmostApplication> MacPlatform::applicationWithPid(int32_t pid) {
  return workspaceApplication(pid);
}

// The window server knows windows by number; the Accessibility API has no public way to ask an
// element for its number, so the window's title and bounds from the window list find its element.
std::optional<FrontmostApplication> MacPlatform::applicationOfWindow(uint64_t window) {
  if (window > UINT32_MAX) return std::nullopt;
  const CFRef<CFArrayRef> list(CGWindowListCopyWindowInfo(kCGWindowListOptionIncludingWindow,
                                                          static_cast<CGWindowID>(window)));
  if (!list) return std::nullopt;
  for (CFIndex i = 0; i < CFArrayGetCount(list.get()); ++i) {
    const auto info = static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(list.get(), i));
    int64_t number = 0, pid = 0;
    const auto numberRef = static_cast<CFNumberRef>(CFDictionaryGetValue(info, kCGWindowNumber));
    const auto pidRef = static_cast<CFNumberRef>(CFDictionaryGetValue(info, kCGWindowOwnerPID));
    if (!numberRef || !pidRef || !CFNumberGetValue(numberRef, kCFNumberSInt64Type, &number) ||
        !CFNumberGetValue(pidRef, kCFNumberSInt64Type, &pid) ||
        static_cast<uint64_t>(number) != window) {
      continue;
    }
    CGRect bounds = {};
    const auto boundsRef =
        static_cast<CFDictionaryRef>(CFDictionaryGetValue(info, kCGWindowBounds));
    if (boundsRef) CGRectMakeWithDictionaryRepresentation(boundsRef, &bounds);
    const auto nameRef = static_cast<CFStringRef>(CFDictionaryGetValue(info, kCGWindowName));
    targetWindow_.emplace(
        nameRef ? toUtf8(nameRef) : std::string(),
        Rect{bounds.origin.x, bounds.origin.y, bounds.size.width, bounds.size.height});
    return workspaceApplication(static_cast<int32_t>(pid))
        .value_or(FrontmostApplication{static_cast<int32_t>(pid), {}, {}});
  }
  return std::nullopt;
}

Element MacPlatform::windowElement(const Element& app, uint64_t) {
  if (!targetWindow_) return nullptr;
  const ReadResult windows = copyAttributeValue(app, attribute::kWindows);
  if (windows.code != kSuccess || !windows.value || windows.value->kind != Value::Kind::kList) {
    return nullptr;
  }
  const auto& [title, frame] = *targetWindow_;
  Element named;
  for (const Value& entry : windows.value->list) {
    if (entry.kind != Value::Kind::kElement) continue;
    const BatchResult read = copyMultipleAttributeValues(
        entry.element, {attribute::kTitle, attribute::kPosition, attribute::kSize});
    if (read.code != kSuccess || !read.values || read.values->size() != 3) continue;
    const auto& v = *read.values;
    const bool sameTitle = v[0] && v[0]->kind == Value::Kind::kText && v[0]->text == title;
    const bool sameFrame = v[1] && v[1]->kind == Value::Kind::kAxPoint && v[2] &&
                           v[2]->kind == Value::Kind::kAxSize && v[1]->a == frame.x &&
                           v[1]->b == frame.y && v[2]->a == frame.w && v[2]->b == frame.h;
    if (sameFrame && (sameTitle || title.empty())) return entry.element;
    if (sameFrame && !named) named = entry.element;
  }
  return named;
}

Element MacPlatform::createApplicationElement(int32_t pid) {
  CFRef<AXUIElementRef> app(AXUIElementCreateApplication(static_cast<pid_t>(pid)));
  if (!app) return nullptr;
  return std::make_shared<MacElement>(std::move(app));
}

// A timeout set on the application element would hold for that one element only: the windows
// and controls read from it keep the system's default (about 6 s). Set on the system-wide
// element, it holds for every element this process asks.
void MacPlatform::setMessagingTimeout(const Element&, float seconds) {
  const CFRef<AXUIElementRef> systemWide(AXUIElementCreateSystemWide());
  if (systemWide) AXUIElementSetMessagingTimeout(systemWide.get(), seconds);
}

void MacPlatform::setBooleanAttribute(const Element& element, const std::string& attribute,
                                      bool value) {
  if (AXUIElementRef ref = axElement(element)) {
    AXUIElementSetAttributeValue(ref, name(attribute), value ? kCFBooleanTrue : kCFBooleanFalse);
  }
}

ReadResult MacPlatform::copyAttributeValue(const Element& element, const std::string& attribute) {
  AXUIElementRef ref = axElement(element);
  if (!ref) return {kAXErrorInvalidUIElement, std::nullopt};
  CFRef<CFTypeRef> value;
  const AXError code = AXUIElementCopyAttributeValue(ref, name(attribute), value.out());
  if (code != kAXErrorSuccess) return {code, std::nullopt};
  if (!value) return {kSuccess, std::nullopt};
  return {kSuccess, fromCF(value.get())};
}

BatchResult MacPlatform::copyMultipleAttributeValues(const Element& element,
                                                     const std::vector<std::string>& attributes) {
  AXUIElementRef ref = axElement(element);
  if (!ref) return {kAXErrorInvalidUIElement, std::nullopt};
  CFRef<CFArrayRef> values;
  // Options 0: the request goes on past a failing attribute, which then reads as an AXValue of
  // the error kind (or the null object) in its place.
  const AXError code =
      AXUIElementCopyMultipleAttributeValues(ref, names(attributes), 0, values.out());
  if (code != kAXErrorSuccess) return {code, std::nullopt};
  if (!values || CFGetTypeID(values.get()) != CFArrayGetTypeID()) return {kSuccess, std::nullopt};
  const CFIndex count = CFArrayGetCount(values.get());
  std::vector<std::optional<Value>> entries;
  entries.reserve(static_cast<size_t>(count));
  for (CFIndex i = 0; i < count; ++i)
    entries.push_back(fromCF(CFArrayGetValueAtIndex(values.get(), i)));
  return {kSuccess, std::move(entries)};
}

bool MacPlatform::isEqual(const Element& a, const Element& b) {
  AXUIElementRef left = axElement(a);
  AXUIElementRef right = axElement(b);
  return left && right && CFEqual(left, right);
}

int32_t MacPlatform::performAction(const Element& element, Action action, const std::string& text) {
  AXUIElementRef ref = axElement(element);
  if (!ref) return kAXErrorInvalidUIElement;
  AXError code = kAXErrorSuccess;
  switch (action) {
    case Action::kPress:
      code = AXUIElementPerformAction(ref, name("AXPress"));
      break;
    case Action::kFocus:
      code = AXUIElementSetAttributeValue(ref, name("AXFocused"), kCFBooleanTrue);
      break;
    case Action::kSetText: {
      Boolean settable = false;
      if (AXUIElementIsAttributeSettable(ref, name(attribute::kValue), &settable) ==
              kAXErrorSuccess &&
          !settable) {
        return kActionUnsupported;
      }
      const CFRef<CFStringRef> value = mevrik::cfString(text);
      code = AXUIElementSetAttributeValue(ref, name(attribute::kValue), value.get());
      break;
    }
  }
  // An element without the attribute cannot take the focus or the text.
  if (code == kAXErrorAttributeUnsupported) return kActionUnsupported;
  return code;
}

void MacPlatform::sleepFor(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

double MacPlatform::now() {
  return CFAbsoluteTimeGetCurrent();
}

CFStringRef MacPlatform::name(const std::string& text) {
  auto [it, inserted] = names_.try_emplace(text);
  if (inserted) {
    it->second = mevrik::cfString(text);
  }
  return it->second.get();
}

CFArrayRef MacPlatform::names(const std::vector<std::string>& texts) {
  auto [it, inserted] = lists_.try_emplace(texts);
  if (inserted) {
    std::vector<const void*> strings;
    for (const std::string& text : texts) strings.push_back(name(text));
    it->second = CFRef<CFArrayRef>(CFArrayCreate(kCFAllocatorDefault, strings.data(),
                                                 static_cast<CFIndex>(strings.size()),
                                                 &kCFTypeArrayCallBacks));
  }
  return it->second.get();
}

std::unique_ptr<Platform> createSystemPlatform() {
  return std::make_unique<MacPlatform>();
}

}  // namespace ax
