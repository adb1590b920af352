// Number parsing and printing shared by both tools.
//
// Both command lines read numbers the way the C library's strtod reads them in the "C" locale,
// whatever locale the process runs in, and integers by a strict decimal grammar. Keeping the rules
// in one place keeps the two tools' grammars identical.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mevrik {

// strtod in the "C" locale, accepted only when it consumes the whole text. Rejects the empty text
// and a text whose first character is a space, tab, line feed, vertical tab, form feed or carriage
// return (strtod would skip those). Accepts what strtod accepts: signs, fractions, exponents,
// hexadecimal floating constants, "inf", "infinity" and "nan" in any letter case. A magnitude
// beyond the double range reads as strtod gives it (an infinity, or zero for underflow).
std::optional<double> parseDouble(std::string_view text);

// An optional '+' or '-' followed by one or more ASCII digits, nothing else, within range.
std::optional<int64_t> parseInt64(std::string_view text);
std::optional<int32_t> parseInt32(std::string_view text);

// The shortest text that reads back to the same double (std::to_chars): 2.0 -> "2",
// 1e5 -> "1e+05", 0.1 -> "0.1". Infinities and NaN print as "inf", "-inf" and "nan".
std::string formatShortest(double value);

// Truncates toward zero into the signed 64-bit range. NaN gives 0; values beyond the range
// (infinities included) give the nearest end of the range. Plain static_cast is undefined there.
int64_t truncateToInt64(double value);

}  // namespace mevrik
