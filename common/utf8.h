// Strict UTF-8: the well-formed byte sequences of the Unicode standard (no overlong forms, no
// surrogates, nothing above U+10FFFF), shared by every program that reads text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace mevrik {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes one code point at `pos`. On success returns it, sets `valid` and advances `pos` past
// it; on an ill-formed sequence returns U+FFFD, clears `valid` and advances past its maximal
// subpart (at least one byte), so "\xE2\x82" counts as one ill-formed sequence, not two.
char32_t decodeUtf8At(std::string_view text, size_t& pos, bool& valid);

// The code points of `text`, or none when any part of it is ill-formed.
std::optional<std::u32string> decodeUtf8(std::string_view text);

}  // namespace mevrik
