// A Platform that performs nothing and writes down every operation, one transcript line each.
//
// Used by the core's tests and by vantic-type-trace; other programs read the transcript, so its
// lines never change shape. Its keyboard map is a US one: printable ASCII (upper case and the
// shifted symbols with Shift) and the keys with names in the 0xff00 block (Return, F1, Shift_L,
// ...); everything else is missing. Key codes are made up: an ASCII character's code is its
// unshifted character's code point, a named key's is 0x100 plus its keysym's low byte, and the
// spare codes count up from 0x200.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "type/platform.h"
#include "type/type.h"

namespace type {

struct RecorderOptions {
  int32_t pid = 0;
  size_t spare = 8;                     // spare key codes in the map
  std::vector<Keysym> held;             // modifier keys held at the start
  bool capsLock = false;                // Caps Lock on at the start
  std::optional<size_t> stopAfterKeys;  // a stop is asked for once this many keys were posted
};

class RecorderPlatform : public Platform {
 public:
  explicit RecorderPlatform(RecorderOptions options) : options_(std::move(options)) {}

  const std::vector<std::string>& transcript() const { return lines_; }
  // Adds the run's outputs and exit status: "out ..." and "err ..." per line, then "exit N".
  void recordResult(const RunResult& result);
  // For RunState::stopRequested.
  bool stopRequested() const;

  int32_t frontmostPid() override;
  std::optional<Key> findKey(Keysym symbol) override;
  size_t spareKeyCount() override;
  std::vector<Key> bindSpareKeys(const std::vector<Keysym>& symbols) override;
  void restoreKeyboardMap() override;
  std::vector<Key> heldModifierKeys() override;
  bool capsLockOn() override;
  void postKey(const Key& key, bool down) override;
  void flush() override;
  bool waitForReader(uint32_t timeoutMicroseconds) override;

 private:
  RecorderOptions options_;
  size_t posted_ = 0;
  std::vector<std::string> lines_;
};

}  // namespace type
