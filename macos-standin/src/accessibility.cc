// The stand-in's Accessibility API: answers from the world's element tree. Like the real service,
// every element reference it returns is a new object, so callers must compare with CFEqual.
#include <algorithm>
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
  world().applications.clear();
}

uint32_t addElement() {
  world().nodes.emplace_back();
  return static_cast<uint32_t>(world().nodes.size() - 1);
}

AXUIElementRef createElement(uint32_t number) {
  return new __AXUIElement(number);
}

Attribute& slot(uint32_t element, const std::string& name) {
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
void setActions(uint32_t element, std::vector<std::string> actions) {
  world().nodes.at(element).actions = std::move(actions);
}
void setSettable(uint32_t element, std::vector<std::string> attributes) {
  world().nodes.at(element).settable = std::move(attributes);
}
void setApplication(uint32_t element) {
  world().application = element;
}
void setApplication(int32_t pid, uint32_t element) {
  world().applications.emplace_back(pid, element);
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

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
  for (const auto& [owner, element] : world().applications) {
    if (owner == pid) return new __AXUIElement(element);
  }
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
  const std::string name = standin::toUtf8(attribute);
  world().sets.push_back(name + "=" + text);
  standin::Node* node = standin::find(element);
  if (!node) return kAXErrorInvalidUIElement;
  if (std::find(node->settable.begin(), node->settable.end(), name) != node->settable.end()) {
    standin::slot(element->node, name).value = CFRetain(value);
    if (name == "AXFocused" && value == kCFBooleanTrue) {
      // The element's application is not known here: every application's focus moves to it.
      standin::slot(world().application, "AXFocusedUIElement").value =
          new __AXUIElement(element->node);
      for (const auto& [pid, app] : world().applications) {
        standin::slot(app, "AXFocusedUIElement").value = new __AXUIElement(element->node);
      }
    }
  }
  return kAXErrorSuccess;
}

AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                       Boolean* settable) {
  standin::request();
  const standin::Node* node = standin::find(element);
  if (!node) return kAXErrorInvalidUIElement;
  const std::string name = standin::toUtf8(attribute);
  *settable = std::find(node->settable.begin(), node->settable.end(), name) != node->settable.end();
  return kAXErrorSuccess;
}

AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action) {
  standin::request();
  const standin::Node* node = standin::find(element);
  if (!node) return kAXErrorInvalidUIElement;
  const std::string name = standin::toUtf8(action);
  world().sets.push_back("perform " + name);
  if (std::find(node->actions.begin(), node->actions.end(), name) == node->actions.end()) {
    return kAXErrorActionUnsupported;
  }
  if (name != "AXPress") return kAXErrorSuccess;
  const standin::Attribute* current = standin::find(node, "AXValue");
  if (!current || !current->value) return kAXErrorSuccess;
  CFTypeRef flipped = nullptr;
  if (current->value == kCFBooleanTrue || current->value == kCFBooleanFalse) {
    flipped = CFRetain(current->value == kCFBooleanTrue ? kCFBooleanFalse : kCFBooleanTrue);
  } else if (CFGetTypeID(current->value) == CFNumberGetTypeID()) {
    int64_t on = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(current->value), kCFNumberSInt64Type, &on);
    on = on == 0 ? 1 : 0;
    flipped = CFNumberCreate(nullptr, kCFNumberSInt64Type, &on);
  }
  if (flipped) standin::slot(element->node, "AXValue").value = flipped;
  return kAXErrorSuccess;
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
