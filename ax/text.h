// Text rules of the snapshot: UTF-8 repair, the white-space set and clipping by user-perceived
// characters.
//
// Texts come from other applications through the accessibility interface and may be anything:
// invalid UTF-8, megabytes long, full of combining marks. Every function here is linear in the
// input and never produces invalid UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ax {

// The text with every ill-formed UTF-8 sequence replaced by U+FFFD, one replacement per maximal
// ill-formed subpart (the practice Unicode recommends, so "\xE2\x82" is one U+FFFD, not two).
// Surrogate code points and values above U+10FFFF are ill-formed. Valid text is returned as is.
std::string repairUtf8(std::string_view text);

// The white-space-and-newline set of the clipping: Unicode general category Z (Zs, Zl, Zp), tab,
// U+000A to U+000D and U+0085.
bool isTrimmable(char32_t codePoint);

// The label and value normalisation: every line feed becomes a space, the white-space set is
// trimmed at both ends (code point by code point), and when more than `maxClusters` extended
// grapheme clusters remain, the first `maxClusters` are kept and "…" (U+2026) is appended. A
// cluster is never split. Ill-formed UTF-8 is repaired first.
std::string clip(std::string_view text, size_t maxClusters);

}  // namespace ax
