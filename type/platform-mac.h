// The macOS backend of the keyboard tool: Quartz keyboard events (CoreGraphics), and AppKit for
// the frontmost process (desktop/mac/frontmost.h).
//
// Plain C++, so that it also builds and runs against the stand-in of Apple's declarations in
// Linux test builds.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "type/platform.h"

namespace type {

class QuartzKeyboard : public Platform {
 public:
  int32_t frontmostPid() override;
  std::optional<Key> findKey(Keysym symbol) override;
  // Every character has a key (its Unicode string), so nothing is ever bound.
  size_t spareKeyCount() override { return 0; }
  std::vector<Key> bindSpareKeys(const std::vector<Keysym>&) override { return {}; }
  void restoreKeyboardMap() override {}
  std::vector<Key> heldModifierKeys() override;
  // Caps Lock is left alone: the Unicode strings make it irrelevant to text.
  bool capsLockOn() override { return false; }
  void postKey(const Key& key, bool down) override;
  void flush() override {}
  bool waitForReader(uint32_t timeoutMicroseconds) override;

 private:
  static constexpr uint32_t kSettle = 20000;
  uint64_t flags_ = 0;  // the modifiers this run holds down, as Quartz event flags
};

}  // namespace type
