// Ownership of one CoreFoundation object (what a Create or Copy function returned is released
// exactly once, when its owner goes), and UTF-8 text to and from CoreFoundation strings. For the
// macOS backends (and their Linux test builds on the Apple stand-in); include it only where
// <CoreFoundation/CoreFoundation.h> exists.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <utility>

namespace mevrik {

template <typename T>
class CFRef {
 public:
  CFRef() = default;
  // Takes over a reference the caller owns (a Create/Copy result); null is allowed.
  explicit CFRef(T ref) : ref_(ref) {}
  ~CFRef() { reset(); }
  CFRef(CFRef&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  CFRef& operator=(CFRef&& other) noexcept {
    if (this != &other) {
      reset();
      ref_ = std::exchange(other.ref_, nullptr);
    }
    return *this;
  }
  CFRef(const CFRef&) = delete;
  CFRef& operator=(const CFRef&) = delete;

  // A new owner of a reference someone else owns (a Get result or a list entry).
  static CFRef retain(T ref) { return CFRef(ref ? static_cast<T>(CFRetain(ref)) : nullptr); }

  T get() const { return ref_; }
  // Hands the reference to the caller, who must release it.
  T release() { return std::exchange(ref_, nullptr); }
  explicit operator bool() const { return ref_ != nullptr; }
  // For out-parameters of Copy functions: the slot to write a new reference into.
  T* out() {
    reset();
    return &ref_;
  }
  void reset() {
    if (ref_) CFRelease(ref_);
    ref_ = nullptr;
  }

 private:
  T ref_ = nullptr;
};

// A new string from UTF-8 text (null for bytes that are not UTF-8).
inline CFRef<CFStringRef> cfString(const std::string& text) {
  return CFRef<CFStringRef>(
      CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                              static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

// The UTF-8 text of a string; "" for null. A lone UTF-16 surrogate, which UTF-8 cannot carry,
// becomes '?'.
inline std::string toUtf8(CFStringRef string) {
  if (!string) return {};
  const CFRange all = CFRangeMake(0, CFStringGetLength(string));
  CFIndex bytes = 0;
  CFStringGetBytes(string, all, kCFStringEncodingUTF8, '?', false, nullptr, 0, &bytes);
  std::string out(static_cast<size_t>(bytes), '\0');
  CFStringGetBytes(string, all, kCFStringEncodingUTF8, '?', false,
                   reinterpret_cast<UInt8*>(out.data()), bytes, &bytes);
  out.resize(static_cast<size_t>(bytes));
  return out;
}

}  // namespace mevrik
