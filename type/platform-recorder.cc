#include "type/platform-recorder.h"

#include <cstdio>
#include <string_view>

namespace type {
namespace {

constexpr std::string_view kShiftedSymbols = "~!@#$%^&*()_+{}|:\"<>?";
constexpr std::string_view kUnshiftedSymbols = "`1234567890-=[]\\;',./";
constexpr uint32_t kNamedBase = 0x100;
constexpr uint32_t kSpareBase = 0x200;

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  return text;
}

std::string describe(const Key& key) {
  return std::to_string(key.code) + (key.shift ? "+shift" : "");
}

void appendLines(std::vector<std::string>& lines, std::string_view prefix, std::string_view text) {
  while (!text.empty()) {
    size_t end = text.find('\n');
    lines.push_back(std::string(prefix) + std::string(text.substr(0, end)));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

std::optional<Key> usKey(Keysym symbol) {
  if (symbol >= 'a' && symbol <= 'z') return Key{symbol, false, symbol};
  if (symbol >= 'A' && symbol <= 'Z') return Key{symbol - 'A' + 'a', true, symbol};
  if (symbol == ' ' || (symbol >= '0' && symbol <= '9')) return Key{symbol, false, symbol};
  if (symbol < 0x80) {
    if (auto at = kUnshiftedSymbols.find(static_cast<char>(symbol)); at != std::string_view::npos)
      return Key{symbol, false, symbol};
    if (auto at = kShiftedSymbols.find(static_cast<char>(symbol)); at != std::string_view::npos)
      return Key{static_cast<uint32_t>(kUnshiftedSymbols[at]), true, symbol};
  }
  if ((symbol & 0xffffff00) == 0xff00) return Key{kNamedBase + (symbol & 0xff), false, symbol};
  return std::nullopt;
}

}  // namespace

void RecorderPlatform::recordResult(const RunResult& result) {
  appendLines(lines_, "out ", result.out);
  appendLines(lines_, "err ", result.err);
  lines_.push_back("exit " + std::to_string(result.status));
}

bool RecorderPlatform::stopRequested() const {
  return options_.stopAfterKeys && posted_ >= *options_.stopAfterKeys;
}

int32_t RecorderPlatform::frontmostPid() {
  lines_.push_back("frontmost -> " + std::to_string(options_.pid));
  return options_.pid;
}

std::optional<Key> RecorderPlatform::findKey(Keysym symbol) {
  auto key = usKey(symbol);
  lines_.push_back("find " + hex(symbol) + " -> " + (key ? describe(*key) : "none"));
  return key;
}

size_t RecorderPlatform::spareKeyCount() {
  lines_.push_back("spare -> " + std::to_string(options_.spare));
  return options_.spare;
}

std::vector<Key> RecorderPlatform::bindSpareKeys(const std::vector<Keysym>& symbols) {
  std::string line = "bind";
  std::vector<Key> keys;
  for (size_t i = 0; i < symbols.size() && i < options_.spare; ++i) {
    keys.push_back(Key{kSpareBase + static_cast<uint32_t>(i), false, symbols[i]});
    line += " " + hex(symbols[i]) + "=" + std::to_string(keys.back().code);
  }
  lines_.push_back(line);
  return keys;
}

void RecorderPlatform::restoreKeyboardMap() {
  lines_.push_back("restore map");
}

std::vector<Key> RecorderPlatform::heldModifierKeys() {
  std::vector<Key> keys;
  std::string line = "held ->";
  for (Keysym symbol : options_.held) {
    if (auto key = usKey(symbol)) {
      keys.push_back(*key);
      line += " " + describe(*key);
    }
  }
  lines_.push_back(line);
  return keys;
}

bool RecorderPlatform::capsLockOn() {
  lines_.push_back(std::string("capslock -> ") + (options_.capsLock ? "on" : "off"));
  return options_.capsLock;
}

void RecorderPlatform::postKey(const Key& key, bool down) {
  ++posted_;
  lines_.push_back("key " + std::to_string(key.code) + (down ? " down" : " up"));
}

void RecorderPlatform::flush() {
  lines_.push_back("flush");
}

bool RecorderPlatform::waitForReader(uint32_t timeoutMicroseconds) {
  lines_.push_back("wait reader " + std::to_string(timeoutMicroseconds));
  return true;
}

}  // namespace type
