// Ownership of one CoreFoundation object: what a Create or Copy function returned is released
// exactly once, when its owner goes. For the macOS backends (and their Linux test builds on the
// Apple stand-in); include it only where <CoreFoundation/CoreFoundation.h> exists.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

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

}  // namespace mevrik
