#include "common/numbers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

namespace mevrik {
namespace {

TEST(ParseDouble, AcceptsWhatStrtodReadsWhole) {
  EXPECT_EQ(parseDouble("1e2"), 100.0);
  EXPECT_EQ(parseDouble("-0.5"), -0.5);
  EXPECT_EQ(parseDouble("+3"), 3.0);
  EXPECT_EQ(parseDouble("0x1p4"), 16.0);
  EXPECT_EQ(parseDouble(".5"), 0.5);
  EXPECT_TRUE(std::isinf(*parseDouble("inf")));
  EXPECT_TRUE(std::isinf(*parseDouble("-Infinity")));
  EXPECT_TRUE(std::isnan(*parseDouble("nan")));
  EXPECT_TRUE(std::isnan(*parseDouble("NAN(123)")));
}

TEST(ParseDouble, RejectsPartialEmptyAndLeadingSpace) {
  for (const char* bad : {"", " 1", "\t1", "\n1", "\v1", "\f1", "\r1", "12abc", "1 ", "abc", "-",
                          "--debug", "1,5", "0x"}) {
    EXPECT_EQ(parseDouble(bad), std::nullopt) << '"' << bad << '"';
  }
  // An embedded NUL ends strtod's reading early, so the whole argument was not consumed.
  EXPECT_EQ(parseDouble(std::string_view("1\0"
                                         "2",
                                         3)),
            std::nullopt);
}

TEST(ParseDouble, IgnoresTheProcessLocale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = previous ? previous : "C";
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no de_DE locale";
  EXPECT_EQ(parseDouble("1.5"), 1.5);
  EXPECT_EQ(parseDouble("1,5"), std::nullopt);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(ParseInteger, AcceptsOnlyStrictDecimalsWithinTheRange) {
  EXPECT_EQ(parseInt64("+40"), 40);
  EXPECT_EQ(parseInt64("-7"), -7);
  EXPECT_EQ(parseInt64("007"), 7);
  EXPECT_EQ(parseInt64("9223372036854775807"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(parseInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(parseInt64("9223372036854775808"), std::nullopt);
  EXPECT_EQ(parseInt64("-9223372036854775809"), std::nullopt);
  for (const char* bad : {"", "+", "-", "12.5", " 1", "1 ", "1e3", "0x10", "+-1", "١"}) {
    EXPECT_EQ(parseInt64(bad), std::nullopt) << '"' << bad << '"';
  }
  EXPECT_EQ(parseInt32("-2147483648"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(parseInt32("2147483647"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(parseInt32("2147483648"), std::nullopt);
  EXPECT_EQ(parseInt32("1.5"), std::nullopt);
}

TEST(FormatShortest, GivesTheShortestTextThatReadsBack) {
  EXPECT_EQ(formatShortest(2.0), "2");
  EXPECT_EQ(formatShortest(1e5), "1e+05");
  EXPECT_EQ(formatShortest(0.1), "0.1");
  EXPECT_EQ(formatShortest(-0.5), "-0.5");
  EXPECT_EQ(formatShortest(99.9), "99.9");
}

TEST(TruncateToInt64, TruncatesTowardZeroAndClampsAtTheEnds) {
  EXPECT_EQ(truncateToInt64(99.9), 99);
  EXPECT_EQ(truncateToInt64(-0.5), 0);
  EXPECT_EQ(truncateToInt64(-99.9), -99);
  EXPECT_EQ(truncateToInt64(NAN), 0);
  EXPECT_EQ(truncateToInt64(INFINITY), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(truncateToInt64(-INFINITY), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(truncateToInt64(1e300), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(truncateToInt64(-9223372036854775808.0), std::numeric_limits<int64_t>::min());
}

}  // namespace
}  // namespace mevrik
