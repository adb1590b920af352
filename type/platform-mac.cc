// The macOS backend of vantic-type (platform-mac.h): Quartz keyboard events.
//
// - Every key event carries the character it types as its Unicode string
//   (CGEventKeyboardSetUnicodeString), so text arrives as written whatever the keyboard layout,
//   Caps Lock or input source: applications that read the string take it from there, and no
//   character is ever missing from a map. Keys that have a place on the ANSI keyboard are also
//   sent with that virtual key code, so shortcuts (ctrl+a, cmd+l) reach applications that read
//   key codes; every other character goes out on key code 0 with its string.
// - Applications read the modifiers of a shortcut from the key event's flags, so each event
//   carries the flags of the modifiers this run holds down (CGEventSetFlags) instead of relying on
//   the modifier key events before it.
// - Caps Lock is left alone: the Unicode strings make it irrelevant to text.
// - Nothing is bound or waited for: there are no spare key codes to manage.
// - "super" is the Command key.
#include "type/platform-mac.h"

#include <CoreGraphics/CoreGraphics.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

#include "click/post-access-mac.h"
#include "desktop/mac/frontmost.h"

namespace type {
namespace {

// Virtual key codes of the ANSI keyboard (Carbon's kVK_ constants).
constexpr CGKeyCode kVkA = 0x00;
constexpr CGKeyCode kVkShift = 0x38, kVkRightShift = 0x3C, kVkControl = 0x3B,
                    kVkRightControl = 0x3E, kVkOption = 0x3A, kVkRightOption = 0x3D,
                    kVkCommand = 0x37, kVkRightCommand = 0x36;

struct Named {
  Keysym keysym;
  CGKeyCode code;
};

constexpr Named kNamedKeys[] = {
    {0xff08, 0x33},
    {0xff09, 0x30},
    {0xff0d, 0x24},
    {0xff8d, 0x4C},
    {0xff1b, 0x35},
    {0xffff, 0x75},
    {0xff50, 0x73},
    {0xff51, 0x7B},
    {0xff52, 0x7E},
    {0xff53, 0x7C},
    {0xff54, 0x7D},
    {0xff55, 0x74},
    {0xff56, 0x79},
    {0xff57, 0x77},
    {0xff6a, 0x72},
    {0xffbe, 0x7A},
    {0xffbf, 0x78},
    {0xffc0, 0x63},
    {0xffc1, 0x76},
    {0xffc2, 0x60},
    {0xffc3, 0x61},
    {0xffc4, 0x62},
    {0xffc5, 0x64},
    {0xffc6, 0x65},
    {0xffc7, 0x6D},
    {0xffc8, 0x67},
    {0xffc9, 0x6F},
    {kShiftL, kVkShift},
    {kShiftR, kVkRightShift},
    {kControlL, kVkControl},
    {kControlR, kVkRightControl},
    {kAltL, kVkOption},
    {kAltR, kVkRightOption},
    {kMetaL, kVkOption},
    {kSuperL, kVkCommand},
    {kSuperR, kVkRightCommand},
    {' ', 0x31},
};

// Letters a to z.
constexpr CGKeyCode kLetters[26] = {0x00, 0x0B, 0x08, 0x02, 0x0E, 0x03, 0x05, 0x04, 0x22,
                                    0x26, 0x28, 0x25, 0x2E, 0x2D, 0x1F, 0x23, 0x0C, 0x0F,
                                    0x01, 0x11, 0x20, 0x09, 0x0D, 0x07, 0x10, 0x06};

// The other ANSI keys: the character alone, the character with Shift, the key code.
struct Symbol {
  char plain;
  char shifted;
  CGKeyCode code;
};
constexpr Symbol kSymbols[] = {
    {'`', '~', 0x32},  {'1', '!', 0x12}, {'2', '@', 0x13},  {'3', '#', 0x14}, {'4', '$', 0x15},
    {'5', '%', 0x17},  {'6', '^', 0x16}, {'7', '&', 0x1A},  {'8', '*', 0x1C}, {'9', '(', 0x19},
    {'0', ')', 0x1D},  {'-', '_', 0x1B}, {'=', '+', 0x18},  {'[', '{', 0x21}, {']', '}', 0x1E},
    {'\\', '|', 0x2A}, {';', ':', 0x29}, {'\'', '"', 0x27}, {',', '<', 0x2B}, {'.', '>', 0x2F},
    {'/', '?', 0x2C},
};

constexpr std::pair<CGKeyCode, CGEventFlags> kModifierFlags[] = {
    {kVkShift, kCGEventFlagMaskShift},      {kVkRightShift, kCGEventFlagMaskShift},
    {kVkControl, kCGEventFlagMaskControl},  {kVkRightControl, kCGEventFlagMaskControl},
    {kVkOption, kCGEventFlagMaskAlternate}, {kVkRightOption, kCGEventFlagMaskAlternate},
    {kVkCommand, kCGEventFlagMaskCommand},  {kVkRightCommand, kCGEventFlagMaskCommand},
};

std::optional<Key> ansiKey(Keysym symbol) {
  for (const Named& named : kNamedKeys) {
    if (named.keysym == symbol) return Key{named.code, false, symbol};
  }
  if (symbol >= 'a' && symbol <= 'z') return Key{kLetters[symbol - 'a'], false, symbol};
  if (symbol >= 'A' && symbol <= 'Z') return Key{kLetters[symbol - 'A'], true, symbol};
  for (const Symbol& s : kSymbols) {
    if (symbol == static_cast<Keysym>(s.plain)) return Key{s.code, false, symbol};
    if (symbol == static_cast<Keysym>(s.shifted)) return Key{s.code, true, symbol};
  }
  return std::nullopt;
}

// The character as UTF-16 code units; the count is 0 for keys that type none.
UniCharCount utf16(Keysym symbol, std::array<UniChar, 2>& units) {
  auto character = characterOf(symbol);
  if (!character) return 0;
  const char32_t c = *character;
  if (c < 0x10000) {
    units[0] = static_cast<UniChar>(c);
    return 1;
  }
  units[0] = static_cast<UniChar>(0xD800 + ((c - 0x10000) >> 10));
  units[1] = static_cast<UniChar>(0xDC00 + ((c - 0x10000) & 0x3FF));
  return 2;
}

}  // namespace

int32_t QuartzKeyboard::frontmostPid() {
  return mevrik::desktop::mac::frontmostProcessId();
}

std::optional<Key> QuartzKeyboard::findKey(Keysym symbol) {
  if (auto key = ansiKey(symbol)) return key;
  // Any other character goes out as its Unicode string.
  if (characterOf(symbol)) return Key{kVkA, false, symbol};
  return std::nullopt;
}

std::vector<Key> QuartzKeyboard::heldModifierKeys() {
  std::vector<Key> held;
  for (const auto& [code, flag] : kModifierFlags) {
    if (CGEventSourceKeyState(kCGEventSourceStateHIDSystemState, code))
      held.push_back(Key{code, false, kNoSymbol});
  }
  return held;
}

void QuartzKeyboard::postKey(const Key& key, bool down) {
  CGEventRef event = CGEventCreateKeyboardEvent(nullptr, static_cast<CGKeyCode>(key.code), down);
  if (!event) return;
  for (const auto& [code, flag] : kModifierFlags) {
    if (code == key.code) flags_ = down ? (flags_ | flag) : (flags_ & ~uint64_t{flag});
  }
  CGEventSetFlags(event, static_cast<CGEventFlags>(flags_));
  std::array<UniChar, 2> units{};
  if (const UniCharCount count = utf16(key.symbol, units); count > 0) {
    CGEventKeyboardSetUnicodeString(event, count, units.data());
  }
  CGEventPost(kCGHIDEventTap, event);
  CFRelease(event);
}

bool QuartzKeyboard::waitForReader(uint32_t timeoutMicroseconds) {
  usleep(std::min<uint32_t>(timeoutMicroseconds, kSettle));
  return false;
}

// Quartz needs no connection: events go to the window server of the user's session. Without the
// permission to post events it drops them silently, so the tool refuses to start instead.
std::unique_ptr<Platform> createSystemPlatform(std::string& error) {
  if (!click::mayPostEvents(error)) return nullptr;
  return std::make_unique<QuartzKeyboard>();
}

}  // namespace type
