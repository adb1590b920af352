#include "ax/text.h"

#include <utf8proc.h>

#include <cstdint>
#include <vector>

#include "common/utf8.h"

namespace ax {
namespace {

constexpr char32_t kReplacement = mevrik::kReplacementCharacter;
using mevrik::decodeUtf8At;

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
    decodeUtf8At(text, pos, valid);
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
    const char32_t cp = decodeUtf8At(text, pos, valid);
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
