#include "type/keysyms.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace type {
namespace {

struct Entry {
  const char* name;
  Keysym keysym;
  char32_t character;  // 0: none
};

// Generated from the X keysym headers by keysyms.cmake.
constexpr Entry kEntries[] = {
#include "type/keysyms.inc"
};

constexpr Keysym kUnicodeBase = 0x01000000;
constexpr char32_t kLastCharacter = 0x10ffff;

bool isLatin1(char32_t c) {
  return (c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff);
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

std::optional<Keysym> keysymFromName(std::string_view name) {
  for (const Entry& e : kEntries) {
    if (name == e.name) return e.keysym;
  }
  std::optional<Keysym> found;
  for (const Entry& e : kEntries) {
    if (!equalIgnoringCase(name, e.name)) continue;
    // Two keys that differ only in case (odiaeresis, Odiaeresis): the name is ambiguous.
    if (found && *found != e.keysym) return std::nullopt;
    found = e.keysym;
  }
  return found;
}

Keysym keysymForCharacter(char32_t character) {
  if (isLatin1(character)) return character;
  return kUnicodeBase + character;
}

std::optional<char32_t> characterOf(Keysym keysym) {
  if (isLatin1(keysym)) return keysym;
  if (keysym > kUnicodeBase + 0xff && keysym <= kUnicodeBase + kLastCharacter) {
    return keysym - kUnicodeBase;
  }
  auto it = std::find_if(std::begin(kEntries), std::end(kEntries),
                         [keysym](const Entry& e) { return e.keysym == keysym; });
  if (it == std::end(kEntries) || it->character == 0) return std::nullopt;
  return it->character;
}

}  // namespace type
