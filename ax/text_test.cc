#include "ax/text.h"

#include <gtest/gtest.h>

#include <string>

namespace ax {
namespace {

std::string repeat(const std::string& unit, size_t n) {
  std::string out;
  for (size_t k = 0; k < n; ++k) out += unit;
  return out;
}

TEST(ClipTest, NormalisesLineFeedsAndTrimsTheWhiteSpaceSet) {
  EXPECT_EQ(clip("  one\ntwo  ", 100), "one two");
  // Trimmed: tab, U+000A..U+000D, U+0085, no-break space (Zs), ideographic space, line and
  // paragraph separators (Zl, Zp). Inside the text they stay (only the line feed is replaced).
  EXPECT_EQ(clip("\t\r\v\f\u0085\u00a0\u3000a\tb\r\u2028\u2029", 100), "a\tb");
  EXPECT_EQ(clip("\n\n", 100), "");
  EXPECT_EQ(clip("   ", 100), "");
  // Not white space: zero-width space (Cf) and the byte-order mark stay.
  EXPECT_EQ(clip("\u200bx\ufeff", 100), "\u200bx\ufeff");
}

TEST(ClipTest, CutsAtTheLimitAndAddsAnEllipsis) {
  EXPECT_EQ(clip(repeat("a", 100), 100), repeat("a", 100));
  EXPECT_EQ(clip(repeat("a", 150), 100), repeat("a", 100) + "\u2026");
  EXPECT_EQ(clip(repeat("a", 101), 100), repeat("a", 100) + "\u2026");
  EXPECT_EQ(clip("abc", 0), "\u2026");
  EXPECT_EQ(clip("", 0), "");
  // The limit applies after trimming.
  EXPECT_EQ(clip("  " + repeat("a", 60) + "  ", 60), repeat("a", 60));
}

TEST(ClipTest, NeverSplitsAUserPerceivedCharacter) {
  const std::string thumbs = "\U0001F44D\U0001F3FD";  // thumbs up, skin tone
  const std::string flag = "\U0001F1EF\U0001F1F5";    // a regional-indicator pair
  const std::string accented = "e\u0301\u0323";       // e with two combining marks
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // ZWJ family
  const std::string hangul = "\u1100\u1161\u11A8";                          // conjoining jamo
  for (const std::string& cluster : {thumbs, flag, accented, family, hangul}) {
    EXPECT_EQ(clip(repeat(cluster, 3), 3), repeat(cluster, 3));
    EXPECT_EQ(clip(repeat(cluster, 4), 3), repeat(cluster, 3) + "\u2026");
    EXPECT_EQ(clip("ab" + cluster, 2), "ab\u2026");
    EXPECT_EQ(clip("ab" + cluster, 3), "ab" + cluster);
  }
  // Five flags in a row pair up as five clusters, not ten.
  EXPECT_EQ(clip(repeat(flag, 5), 5), repeat(flag, 5));
  // CJK and accented letters count as one each.
  EXPECT_EQ(clip("日本語のテキスト", 3), "日本語\u2026");
}

TEST(ClipTest, RepairsIllFormedText) {
  EXPECT_EQ(clip("a\xff"
                 "b",
                 10),
            "a\ufffd"
            "b");
  EXPECT_EQ(clip(repeat("\xff", 5), 3), "\ufffd\ufffd\ufffd\u2026");
}

TEST(ClipTest, HandlesATenMegabyteLabel) {
  const std::string huge = "  " + repeat("\u00e9t\u00e9 ", 2'000'000) + "  ";
  ASSERT_GT(huge.size(), 10'000'000u);
  const std::string clipped = clip(huge, 100);
  EXPECT_EQ(clipped, repeat("\u00e9t\u00e9 ", 25) + "\u2026");
}

TEST(RepairUtf8Test, ReplacesEachMaximalIllFormedSubpart) {
  EXPECT_EQ(repairUtf8("plain \u00e9\U0001F600"), "plain \u00e9\U0001F600");
  EXPECT_EQ(repairUtf8("\ufffd"), "\ufffd");
  EXPECT_EQ(repairUtf8("\xE2\x82"), "\ufffd");  // truncated sequence: one replacement
  EXPECT_EQ(repairUtf8("\xE2\x82"
                       "a"),
            "\ufffd"
            "a");
  EXPECT_EQ(repairUtf8("\xC0\xAF"), "\ufffd\ufffd");            // overlong: never a valid lead
  EXPECT_EQ(repairUtf8("\xED\xA0\x80"), "\ufffd\ufffd\ufffd");  // a surrogate
  EXPECT_EQ(repairUtf8("\xF4\x90\x80\x80"), "\ufffd\ufffd\ufffd\ufffd");  // above U+10FFFF
  EXPECT_EQ(repairUtf8("\xF0\x9F\x98"), "\ufffd");
  EXPECT_EQ(repairUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

}  // namespace
}  // namespace ax
