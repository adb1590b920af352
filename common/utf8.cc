#include "common/utf8.h"

#include <cstdint>

namespace mevrik {

char32_t decodeUtf8At(std::string_view s, size_t& pos, bool& valid) {
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
    return kReplacementCharacter;
  }
  size_t i = pos + 1;
  for (int k = 0; k < need; ++k, ++i) {
    const uint8_t lower = k == 0 ? lo : 0x80;
    const uint8_t upper = k == 0 ? hi : 0xBF;
    if (i >= s.size() || byte(i) < lower || byte(i) > upper) {
      pos = i;  // the maximal subpart ends before the offending byte
      valid = false;
      return kReplacementCharacter;
    }
    cp = (cp << 6) | (byte(i) & 0x3F);
  }
  pos = i;
  return cp;
}

std::optional<std::u32string> decodeUtf8(std::string_view text) {
  std::u32string out;
  for (size_t pos = 0; pos < text.size();) {
    bool valid = true;
    const char32_t c = decodeUtf8At(text, pos, valid);
    if (!valid) return std::nullopt;
    out.push_back(c);
  }
  return out;
}

}  // namespace mevrik
