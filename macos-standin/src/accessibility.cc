// The stand-in's Accessibility API: answers from the world's element tree. Like the real service,
// every element reference it returns is a new object, so callers must compare with CFEqual.
#include <cstring>

#include "runtime.h"

namespace standin {
namespace {

Node* find(AXUIElementRef element) {
  World& w = world();
  return element && element->node < w.nodes.size() ? &w.nodes[element->node] : nullptr;
}

const Attribute* find(const Node* node, const std::string& name) {
  if (!node) return nullptr;
  for (const Attribute& a : node->attributes) {
    if (a.name == name) return &a;
  }
  return nullptr;
}

// One request to the application: the clock moves on.
void request() {
  world().clock += world().clockStep;
}

// What a read hands out (+1): new element objects, lists copied with them, the rest retained.
CFTypeRef copyOut(CFTypeRef value) {
  switch (CFGetTypeID(value)) {
    case kAxElementType:
      return new __AXUIElement(static_cast<AXUIElementRef>(value)->node);
    case kArrayType: {
      const auto* in = static_cast<CFArrayRef>(value);
      auto* out = new __CFArray;
      for (CFTypeRef entry : in->values) out->values.push_back(copyOut(entry));
      return out;
    }
    default:
      return CFRetain(value);
  }
}

CFTypeRef errorValue(AXError code) {
  return AXValueCreate(kAXValueTypeAXError, &code);
}

}  // namespace

void resetAccessibility() {
  for (Node& node : world().nodes) {
    for (Attribute& a : node.attributes) {
      if (a.value) CFRelease(a.value);
    }
  }
  world().nodes.clear();
}

uint32_t addElement() {
  world().nodes.emplace_back();
  return static_cast<uint32_t>(world().nodes.size() - 1);
}

AXUIElementRef createElement(uint32_t number) {
  return new __AXUIElement(number);
}

static Attribute& slot(uint32_t element, const std::string& name) {
  Node& node = world().nodes.at(element);
  for (Attribute& a : node.attributes) {
    if (a.name == name) {
      if (a.value) CFRelease(a.value);
      a = Attribute{name, nullptr, kAXErrorSuccess};
      return a;
    }
  }
  node.attributes.push_back(Attribute{name, nullptr, kAXErrorSuccess});
  return node.attributes.back();
}

void setAttribute(uint32_t element, const std::string& name, CFTypeRef value) {
  slot(element, name).value = value ? CFRetain(value) : nullptr;
}

void setAttributeFailure(uint32_t element, const std::string& name, AXError code) {
  slot(element, name).failure = code;
}

void setBatch(uint32_t element, Batch batch) {
  world().nodes.at(element).batch = batch;
}
void setApplication(uint32_t element) {
  world().application = element;
}
void setTrusted(bool trusted) {
  world().trusted = trusted;
}
int promptCount() {
  return world().prompts;
}
void setClockStep(double step) {
  world().clockStep = step;
}
void advanceClock(double seconds) {
  world().clock += seconds;
}
std::optional<float> messagingTimeout() {
  return world().timeout;
}
std::vector<std::string> attributesSet() {
  return world().sets;
}
std::vector<std::string> actionsPerformed() {
  return world().actions;
}

}  // namespace standin

using standin::world;

extern "C" {

CFStringRef kAXTrustedCheckOptionPrompt = CFSTR("AXTrustedCheckOptionPrompt");

Boolean AXIsProcessTrusted(void) {
  return world().trusted;
}

Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options) {
  const void* prompt =
      options ? CFDictionaryGetValue(options, kAXTrustedCheckOptionPrompt) : nullptr;
  if (prompt == kCFBooleanTrue) ++world().prompts;
  return world().trusted;
}

CFTypeID AXValueGetTypeID(void) {
  return standin::kAxValueType;
}
CFTypeID AXUIElementGetTypeID(void) {
  return standin::kAxElementType;
}

AXValueRef AXValueCreate(AXValueType theType, const void* valuePtr) {
  size_t size = 0;
  switch (theType) {
    case kAXValueTypeCGPoint:
      size = sizeof(CGPoint);
      break;
    case kAXValueTypeCGSize:
      size = sizeof(CGSize);
      break;
    case kAXValueTypeCGRect:
      size = sizeof(CGRect);
      break;
    case kAXValueTypeCFRange:
      size = sizeof(CFRange);
      break;
    case kAXValueTypeAXError:
      size = sizeof(AXError);
      break;
    default:
      return nullptr;
  }
  auto value = new __AXValue;
  value->kind = theType;
  std::memcpy(value->bytes, valuePtr, size);
  return value;
}

AXValueType AXValueGetType(AXValueRef value) {
  return value->kind;
}

Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr) {
  if (value->kind != theType) return false;
  const size_t size = theType == kAXValueTypeAXError  ? sizeof(AXError)
                      : theType == kAXValueTypeCGRect ? sizeof(CGRect)
                                                      : sizeof(CGPoint);
  std::memcpy(valuePtr, value->bytes, size);
  return true;
}

AXUIElementRef AXUIElementCreateApplication(pid_t) {
  return new __AXUIElement(world().application);
}

AXUIElementRef AXUIElementCreateSystemWide(void) {
  return new __AXUIElement(standin::kSystemWide);
}

// As on a Mac, only the system-wide element's timeout holds for every element; an application
// element's own timeout is left out of the world, since its children would not keep it.
AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds) {
  standin::request();
  if (!element || timeoutInSeconds < 0) return kAXErrorIllegalArgument;
  if (element->node != standin::kSystemWide) return kAXErrorSuccess;
  world().timeout = timeoutInSeconds;
  return kAXErrorSuccess;
}

AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value) {
  standin::request();
  const char* text = value == kCFBooleanTrue    ? "true"
                     : value == kCFBooleanFalse ? "false"
                                                : "other";
  world().sets.push_back(standin::toUtf8(attribute) + "=" + text);
  return standin::find(element) ? kAXErrorSuccess : kAXErrorInvalidUIElement;
}

AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action) {
  standin::request();
  const standin::Node* node = standin::find(element);
  world().actions.push_back(standin::toUtf8(action) + " on " +
                            (node ? std::to_string(element->node) : std::string("none")));
  return node ? kAXErrorSuccess : kAXErrorInvalidUIElement;
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value) {
  standin::request();
  *value = nullptr;
  const standin::Attribute* a = standin::find(standin::find(element), standin::toUtf8(attribute));
  if (!a) return kAXErrorNoValue;
  if (a->failure != kAXErrorSuccess) return a->failure;
  if (a->value) *value = standin::copyOut(a->value);
  return kAXErrorSuccess;
}

AXError AXUIElementCopyMultipleAttributeValues(AXUIElementRef element, CFArrayRef attributes,
                                               AXCopyMultipleAttributeOptions, CFArrayRef* values) {
  standin::request();
  *values = nullptr;
  const standin::Node* node = standin::find(element);
  if (node && node->batch == standin::Batch::kFail) return kAXErrorCannotComplete;
  auto* out = new __CFArray;
  for (CFTypeRef name : attributes->values) {
    const standin::Attribute* a =
        standin::find(node, standin::toUtf8(static_cast<CFStringRef>(name)));
    if (!a) {
      out->values.push_back(standin::errorValue(kAXErrorNoValue));
    } else if (a->failure != kAXErrorSuccess) {
      out->values.push_back(standin::errorValue(a->failure));
    } else if (!a->value) {
      out->values.push_back(kCFNull);
    } else {
      out->values.push_back(standin::copyOut(a->value));
    }
  }
  if (node && node->batch == standin::Batch::kShort && !out->values.empty()) {
    CFRelease(out->values.back());
    out->values.pop_back();
  }
  *values = out;
  return kAXErrorSuccess;
}

}  // extern "C"
