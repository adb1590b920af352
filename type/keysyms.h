// Keysyms: the X names and numbers of keys and characters. vantic-type speaks them on every
// system: chords name their keys with them, and text becomes one keysym per character.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace type {

using Keysym = uint32_t;

inline constexpr Keysym kNoSymbol = 0;
inline constexpr Keysym kBackSpace = 0xff08;
inline constexpr Keysym kTab = 0xff09;
inline constexpr Keysym kReturn = 0xff0d;
inline constexpr Keysym kShiftL = 0xffe1;
inline constexpr Keysym kShiftR = 0xffe2;
inline constexpr Keysym kControlL = 0xffe3;
inline constexpr Keysym kControlR = 0xffe4;
inline constexpr Keysym kCapsLock = 0xffe5;
inline constexpr Keysym kMetaL = 0xffe7;
inline constexpr Keysym kAltL = 0xffe9;
inline constexpr Keysym kAltR = 0xffea;
inline constexpr Keysym kSuperL = 0xffeb;
inline constexpr Keysym kSuperR = 0xffec;

// The keysym of a name: an exact match first ("a" and "A" are different keys), else the one
// name that matches regardless of case ("return", "escape"); none when there is neither.
std::optional<Keysym> keysymFromName(std::string_view name);

// The keysym that stands for a character: Latin-1 characters are their own keysyms, every
// other character is 0x01000000 plus its code point, which X defines for all of Unicode.
Keysym keysymForCharacter(char32_t character);

// The character a keysym types, or none for keys that type none (Return, F1, Shift_L...).
// Knows the older keysyms as well (emdash is U+2014), so that keyboard maps written with them
// are matched against text.
std::optional<char32_t> characterOf(Keysym keysym);

}  // namespace type
