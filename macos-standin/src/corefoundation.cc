// The stand-in's CoreFoundation: reference-counted objects in memory, and the world they live in.
#include <cstring>
#include <map>
#include <memory>

#include "runtime.h"

namespace standin {
namespace {

// Appends the UTF-16 form of valid UTF-8; false for anything else (as CFStringCreateWithBytes
// gives NULL for bytes that are not in the encoding).
bool utf8ToUtf16(const std::string& in, std::u16string& out) {
  size_t i = 0;
  while (i < in.size()) {
    const auto lead = static_cast<unsigned char>(in[i]);
    uint32_t cp = 0;
    size_t extra = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      cp = lead & 0x1F;
      extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      cp = lead & 0x0F;
      extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
      cp = lead & 0x07;
      extra = 3;
    } else {
      return false;
    }
    for (size_t k = 1; k <= extra; ++k) {
      if (i + k >= in.size()) return false;
      const auto next = static_cast<unsigned char>(in[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (next & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += extra + 1;
  }
  return true;
}

void appendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

Object::Object(CFTypeID t, bool c) : type(t), counted(c) {
  if (counted) ++world().live;
}
Object::~Object() = default;

Object* object(CFTypeRef ref) {
  return static_cast<Object*>(const_cast<void*>(ref));
}

World& world() {
  static World* instance = new World;  // never destroyed: objects may outlive static teardown
  return *instance;
}

CFStringRef makeString(const std::string& utf8) {
  auto string = std::make_unique<__CFString>();
  if (!utf8ToUtf16(utf8, string->units)) return nullptr;
  return string.release();
}

std::string toUtf8(CFStringRef string) {
  std::string out;
  const std::u16string& u = string->units;
  for (size_t i = 0; i < u.size(); ++i) {
    uint32_t cp = u[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 &&
        u[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (u[i + 1] - 0xDC00);
      ++i;
    }
    appendUtf8(cp, out);
  }
  return out;
}

void reset() {
  resetAccessibility();
  World& w = world();
  releaseAll(w.info);
  releaseAll(w.preferences);
  const int64_t live = w.live;
  w = World{};
  w.live = live;
}

int64_t liveReferences() {
  return world().live;
}

}  // namespace standin

using standin::object;
using standin::Object;

__CFArray::~__CFArray() {
  for (CFTypeRef v : values) CFRelease(v);
}
__CFDictionary::~__CFDictionary() {
  for (auto& [k, v] : entries) {
    CFRelease(k);
    CFRelease(v);
  }
}
__CFURL::~__CFURL() {
  CFRelease(string);
}
__CFAttributedString::~__CFAttributedString() {
  CFRelease(string);
}

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFNullRef kCFNull = new __CFNull;
const CFBooleanRef kCFBooleanTrue = new __CFBoolean(true);
const CFBooleanRef kCFBooleanFalse = new __CFBoolean(false);
const CFArrayCallBacks kCFTypeArrayCallBacks = {0, nullptr, nullptr, nullptr, nullptr};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0,       nullptr, nullptr,
                                                                nullptr, nullptr, nullptr};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, nullptr, nullptr, nullptr,
                                                                    nullptr};

CFTypeID CFNullGetTypeID(void) {
  return standin::kNullType;
}
CFTypeID CFStringGetTypeID(void) {
  return standin::kStringType;
}
CFTypeID CFBooleanGetTypeID(void) {
  return standin::kBooleanType;
}
CFTypeID CFNumberGetTypeID(void) {
  return standin::kNumberType;
}
CFTypeID CFArrayGetTypeID(void) {
  return standin::kArrayType;
}
CFTypeID CFDictionaryGetTypeID(void) {
  return standin::kDictionaryType;
}
CFTypeID CFURLGetTypeID(void) {
  return standin::kUrlType;
}
CFTypeID CFAttributedStringGetTypeID(void) {
  return standin::kAttributedType;
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
  return object(cf)->type;
}

CFTypeRef CFRetain(CFTypeRef cf) {
  Object* o = object(cf);
  ++o->references;
  if (o->counted) ++standin::world().live;
  return cf;
}

void CFRelease(CFTypeRef cf) {
  Object* o = object(cf);
  if (o->type == standin::kEventType) {
    standin::world().calls.push_back({"CFRelease", static_cast<__CGEvent*>(o)->serial, {}, {}, {}});
  }
  if (!o->counted) return;
  --standin::world().live;
  if (--o->references == 0) delete o;
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
  if (cf1 == cf2) return true;
  const Object* a = object(cf1);
  const Object* b = object(cf2);
  if (a->type != b->type) return false;
  switch (a->type) {
    case standin::kStringType:
      return static_cast<const __CFString*>(a)->units == static_cast<const __CFString*>(b)->units;
    case standin::kAxElementType:
      return static_cast<const __AXUIElement*>(a)->node ==
             static_cast<const __AXUIElement*>(b)->node;
    default:
      return false;
  }
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex numValues,
                         const CFArrayCallBacks*) {
  auto array = new __CFArray;
  for (CFIndex i = 0; i < numValues; ++i) array->values.push_back(CFRetain(values[i]));
  return array;
}
CFIndex CFArrayGetCount(CFArrayRef theArray) {
  return static_cast<CFIndex>(theArray->values.size());
}
const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
  return theArray->values.at(static_cast<size_t>(idx));
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks*,
                                   const CFDictionaryValueCallBacks*) {
  auto dictionary = new __CFDictionary;
  for (CFIndex i = 0; i < numValues; ++i) {
    dictionary->entries.emplace_back(CFRetain(keys[i]), CFRetain(values[i]));
  }
  return dictionary;
}
const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
  for (const auto& [k, v] : theDict->entries) {
    if (CFEqual(k, key)) return v;
  }
  return nullptr;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean) {
  if (encoding != kCFStringEncodingUTF8) return nullptr;
  return standin::makeString(
      std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(numBytes)));
}

CFIndex CFStringGetLength(CFStringRef theString) {
  return static_cast<CFIndex>(theString->units.size());
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean, UInt8* buffer, CFIndex maxBufLen,
                         CFIndex* usedBufLen) {
  if (encoding != kCFStringEncodingUTF8) return 0;
  const std::u16string& u = theString->units;
  CFIndex done = 0;
  CFIndex used = 0;
  for (CFIndex i = range.location; i < range.location + range.length;) {
    uint32_t cp = u[static_cast<size_t>(i)];
    CFIndex width = 1;
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < range.location + range.length &&
        u[static_cast<size_t>(i + 1)] >= 0xDC00 && u[static_cast<size_t>(i + 1)] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (u[static_cast<size_t>(i + 1)] - 0xDC00);
      width = 2;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (lossByte == 0) break;
      cp = lossByte;
    }
    std::string bytes;
    standin::appendUtf8(cp, bytes);
    if (buffer) {
      if (used + static_cast<CFIndex>(bytes.size()) > maxBufLen) break;
      std::memcpy(buffer + used, bytes.data(), bytes.size());
    }
    used += static_cast<CFIndex>(bytes.size());
    done += width;
    i += width;
  }
  if (usedBufLen) *usedBufLen = used;
  return done;
}

CFStringRef __CFStringMakeConstantString(const char* cStr) {
  static auto* constants = new std::map<std::string, __CFString*>;
  auto [it, inserted] = constants->try_emplace(cStr, nullptr);
  if (inserted) {
    it->second = new __CFString(/*counted=*/false);
    standin::utf8ToUtf16(cStr, it->second->units);
  }
  return it->second;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
  return boolean->value;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
  auto number = new __CFNumber;
  switch (theType) {
    case kCFNumberSInt32Type: {
      int32_t v;
      std::memcpy(&v, valuePtr, sizeof v);
      number->integer = v;
      break;
    }
    case kCFNumberSInt64Type:
      std::memcpy(&number->integer, valuePtr, sizeof number->integer);
      break;
    default:  // kCFNumberFloat64Type, kCFNumberDoubleType
      number->isFloat = true;
      std::memcpy(&number->real, valuePtr, sizeof number->real);
      break;
  }
  return number;
}
Boolean CFNumberIsFloatType(CFNumberRef number) {
  return number->isFloat;
}
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
  if (theType == kCFNumberSInt32Type) {
    const int64_t whole = number->isFloat ? static_cast<int64_t>(number->real) : number->integer;
    const auto v = static_cast<int32_t>(whole);
    std::memcpy(valuePtr, &v, sizeof v);
    return !number->isFloat && v == whole;
  }
  if (theType == kCFNumberSInt64Type) {
    const int64_t v = number->isFloat ? static_cast<int64_t>(number->real) : number->integer;
    std::memcpy(valuePtr, &v, sizeof v);
    return !number->isFloat;
  }
  const double v = number->isFloat ? number->real : static_cast<double>(number->integer);
  std::memcpy(valuePtr, &v, sizeof v);
  return true;
}

CFURLRef CFURLCreateWithString(CFAllocatorRef, CFStringRef URLString, CFURLRef) {
  auto url = new __CFURL;
  url->string = static_cast<CFStringRef>(CFRetain(URLString));
  return url;
}
CFURLRef CFURLCopyAbsoluteURL(CFURLRef relativeURL) {
  return static_cast<CFURLRef>(CFRetain(relativeURL));
}
CFStringRef CFURLGetString(CFURLRef anURL) {
  return anURL->string;
}

CFAttributedStringRef CFAttributedStringCreate(CFAllocatorRef, CFStringRef str, CFDictionaryRef) {
  auto attributed = new __CFAttributedString;
  attributed->string = static_cast<CFStringRef>(CFRetain(str));
  return attributed;
}
CFStringRef CFAttributedStringGetString(CFAttributedStringRef aStr) {
  return aStr->string;
}

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) {
  return standin::world().clock;
}

}  // extern "C"
