#include "common/numbers.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

#if defined(__APPLE__)
#include <xlocale.h>
#else
#include <locale.h>
#endif

namespace mevrik {
namespace {

bool isLeadingSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A "C" locale created once; strtod_l reads with it, so a setlocale() elsewhere in the process
// (Qt calls it) cannot turn the decimal point into a comma.
locale_t cLocale() {
  static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

template <typename Int>
std::optional<Int> parseInteger(std::string_view text) {
  size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  if (pos == text.size()) return std::nullopt;
  // Accumulate towards the sign so that the most negative value fits.
  Int value = 0;
  for (; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c < '0' || c > '9') return std::nullopt;
    Int digit = static_cast<Int>(c - '0');
    if (negative) {
      if (value < (std::numeric_limits<Int>::min() + digit) / 10) return std::nullopt;
      value = static_cast<Int>(value * 10 - digit);
    } else {
      if (value > (std::numeric_limits<Int>::max() - digit) / 10) return std::nullopt;
      value = static_cast<Int>(value * 10 + digit);
    }
  }
  return value;
}

}  // namespace

std::optional<double> parseDouble(std::string_view text) {
  if (text.empty() || isLeadingSpace(text.front())) return std::nullopt;
  std::string copy(text);  // strtod needs a terminated string
  const char* begin = copy.c_str();
  char* end = nullptr;
  double value = strtod_l(begin, &end, cLocale());
  if (end == begin || static_cast<size_t>(end - begin) != copy.size()) return std::nullopt;
  return value;
}

std::optional<int64_t> parseInt64(std::string_view text) {
  return parseInteger<int64_t>(text);
}
std::optional<int32_t> parseInt32(std::string_view text) {
  return parseInteger<int32_t>(text);
}

std::string formatShortest(double value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

int64_t truncateToInt64(double value) {
  if (std::isnan(value)) return 0;
  // 2^63 is exactly representable; every double below it truncates into range.
  constexpr double kLimit = 9223372036854775808.0;
  if (value >= kLimit) return std::numeric_limits<int64_t>::max();
  if (value < -kLimit) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

}  // namespace mevrik
