#include "type/keysyms.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <utility>
#include <vector>

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
  // The table's characters by keysym, sorted once: keyboard maps ask for hundreds of them.
  static const std::vector<std::pair<Keysym, char32_t>> byKeysym = [] {
    std::vector<std::pair<Keysym, char32_t>> pairs;
    for (const Entry& e : kEntries) {
      if (e.character != 0) pairs.emplace_back(e.keysym, e.character);
    }
    // A stable sort keeps a keysym's first entry first.
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return pairs;
  }();
  auto it = std::lower_bound(byKeysym.begin(), byKeysym.end(), std::make_pair(keysym, char32_t{0}),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
  if (it == byKeysym.end() || it->first != keysym) return std::nullopt;
  return it->second;
}

}  // namespace type
