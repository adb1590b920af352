#include "ax/text.h"

#include <utf8proc.h>

#include <cstdint>
#include <vector>

namespace ax {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `pos`. On success returns the code point and advances `pos` past it;
// on an ill-formed sequence returns U+FFFD and advances past its maximal subpart (at least one
// byte), following the table of well-formed byte sequences in the Unicode standard.
char32_t decodeOne(std::string_view s, size_t& pos, bool& valid) {
  valid = true;
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  const uint8_t b0 = byte(pos);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  int need = 0;
  char32_t cp = 0;
  uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;  // no overlong forms
    if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    ++pos;
    valid = false;
    return kReplacement;
  }
  size_t i = pos + 1;
  for (int k = 0; k < need; ++k, ++i) {
    const uint8_t lower = k == 0 ? lo : 0x80;
    const uint8_t upper = k == 0 ? hi : 0xBF;
    if (i >= s.size() || byte(i) < lower || byte(i) > upper) {
      pos = i;  // the maximal subpart ends before the offending byte
      valid = false;
      return kReplacement;
    }
    cp = (cp << 6) | (byte(i) & 0x3F);
  }
  pos = i;
  return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
  char buf[4];
  const utf8proc_ssize_t n = utf8proc_encode_char(static_cast<utf8proc_int32_t>(cp),
                                                  reinterpret_cast<utf8proc_uint8_t*>(buf));
  out.append(buf, static_cast<size_t>(n));
}

}  // namespace

std::string repairUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = pos;
    bool valid = true;
    decodeOne(text, pos, valid);
    if (valid) {
      out.append(text.substr(start, pos - start));
    } else {
      appendUtf8(out, kReplacement);
    }
  }
  return out;
}

bool isTrimmable(char32_t cp) {
  if (cp == 0x09 || (cp >= 0x0A && cp <= 0x0D) || cp == 0x85) return true;
  const utf8proc_category_t category = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
         category == UTF8PROC_CATEGORY_ZP;
}

std::string clip(std::string_view text, size_t maxClusters) {
  // Decode once into code points; the line feed becomes a space on the way.
  std::vector<char32_t> cps;
  cps.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    bool valid = true;
    const char32_t cp = decodeOne(text, pos, valid);
    cps.push_back(cp == U'\n' ? U' ' : cp);
  }
  size_t begin = 0, end = cps.size();
  while (begin < end && isTrimmable(cps[begin])) ++begin;
  while (end > begin && isTrimmable(cps[end - 1])) --end;

  // Walk the grapheme cluster boundaries; stop as soon as the cluster after the limit starts.
  size_t cut = end;
  bool cutShort = false;
  size_t clusters = 0;
  utf8proc_int32_t state = 0;
  for (size_t i = begin; i < end; ++i) {
    const bool boundary = i == begin || utf8proc_grapheme_break_stateful(
                                            static_cast<utf8proc_int32_t>(cps[i - 1]),
                                            static_cast<utf8proc_int32_t>(cps[i]), &state);
    if (!boundary) continue;
    if (clusters == maxClusters) {
      cut = i;
      cutShort = true;
      break;
    }
    ++clusters;
  }

  std::string out;
  out.reserve(cut - begin + 3);
  for (size_t i = begin; i < cut; ++i) appendUtf8(out, cps[i]);
  if (cutShort) out += "\u2026";
  return out;
}

}  // namespace ax
