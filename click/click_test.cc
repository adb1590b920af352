#include "click/click.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "click/platform-recorder.h"
#include "click/test_trace.h"
#include "common/test_process.h"

namespace click {
namespace {

using testing::IsSubstring;

RecorderOptions at812() {
  RecorderOptions o;
  o.pid = 812;
  o.cursor = Point{100, 200};
  return o;
}

// The lines of one posted system-wide mouse event.
std::string event(int type, int button, const std::string& at, int clicks) {
  std::string s = "mouse type=" + std::to_string(type) + " button=" + std::to_string(button) +
                  " at=" + at + "\n";
  if (clicks >= 1) s += "clickstate " + std::to_string(clicks) + "\n";
  return s + "post hid\nrelease\n";
}

const char kApproach1020[] =
    "mouse type=5 button=0 at=10,20\n"
    "post hid\n"
    "release\n"
    "sleep 8000\n";

// The start of a run at 10,20 with application 812 in front and the cursor at 100,200.
const std::string kHead = "frontmost -> 812\ncursor -> 100,200\n" + std::string(kApproach1020);

const char kRestoreAndReport[] =
    "sleep 20000\n"
    "warp 100,200\n"
    "cursor -> 100,200\n"
    "out pid=812 delivery=hid+restore real_cursor_before=100,200 after=100,200\n"
    "exit 0\n";

const std::string kSingleLeftClick =
    kHead + event(1, 0, "10,20", 1) + event(2, 0, "10,20", 1) + kRestoreAndReport;

TEST(Click, SingleLeftClickIsTheDefault) {
  EXPECT_EQ(trace({"10", "20"}, at812()), kSingleLeftClick);
  // Kinds are case-sensitive; anything unrecognised is a single left click, and operands and
  // further arguments are ignored.
  for (const char* kind : {"left", "Right", "LEFT", "click", "Double", ""}) {
    EXPECT_EQ(trace({"10", "20", kind, "1", "2", "3"}, at812()), kSingleLeftClick) << kind;
  }
}

TEST(Click, MultiClicksCountUpWithGapsBetweenPairsOnly) {
  std::string pair1 = event(1, 0, "10,20", 1) + event(2, 0, "10,20", 1);
  std::string pair2 = event(1, 0, "10,20", 2) + event(2, 0, "10,20", 2);
  std::string pair3 = event(1, 0, "10,20", 3) + event(2, 0, "10,20", 3);
  EXPECT_EQ(trace({"10", "20", "double"}, at812()),
            kHead + pair1 + "sleep 45000\n" + pair2 + kRestoreAndReport);
  EXPECT_EQ(trace({"10", "20", "triple", "x"}, at812()),
            kHead + pair1 + "sleep 45000\n" + pair2 + "sleep 45000\n" + pair3 + kRestoreAndReport);
}

TEST(Click, RightAndMiddleUseTheirButtonsWithoutAPause) {
  EXPECT_EQ(trace({"10", "20", "right", "5", "6"}, at812()),
            kHead + event(3, 1, "10,20", 1) + event(4, 1, "10,20", 1) + kRestoreAndReport);
  EXPECT_EQ(trace({"10", "20", "middle"}, at812()),
            kHead + event(25, 2, "10,20", 1) + event(26, 2, "10,20", 1) + kRestoreAndReport);
}

TEST(Click, MoveGoesToTheFrontmostPidAndIsNeverRestored) {
  EXPECT_EQ(trace({"10.5", "-3", "move", "1", "2"}, at812()),
            "frontmost -> 812\n"
            "cursor -> 100,200\n"
            "mouse type=5 button=0 at=10.5,-3\n"
            "post pid=812\n"
            "release\n"
            "cursor -> 100,200\n"
            "out pid=812 delivery=pid real_cursor_before=100,200 after=100,200\n"
            "exit 0\n");
  // Without a frontmost application the move goes system-wide, moves the cursor and stays; the
  // report still names the pid delivery.
  RecorderOptions noApp = at812();
  noApp.pid = 0;
  EXPECT_EQ(trace({"10.5", "-3", "move"}, noApp),
            "frontmost -> 0\n"
            "cursor -> 100,200\n"
            "mouse type=5 button=0 at=10.5,-3\n"
            "post hid\n"
            "release\n"
            "cursor -> 10.5,-3\n"
            "out pid=0 delivery=pid real_cursor_before=100,200 after=10,-3\n"
            "exit 0\n");
}

TEST(Click, DragStepsTwelveTimesAndReleasesAtTheParsedEnd) {
  std::string expected = kHead + event(1, 0, "10,20", 1);
  // From (10,20) to (22,44): step i lies at (10+i, 20+2i).
  for (int i = 1; i <= 12; ++i) {
    expected += event(6, 0, std::to_string(10 + i) + "," + std::to_string(20 + 2 * i), 1);
    expected += "sleep 12000\n";
  }
  expected += event(2, 0, "22,44", 1) + kRestoreAndReport;
  EXPECT_EQ(trace({"10", "20", "drag", "22", "44", "ignored"}, at812()), expected);

  // Steps are interpolated in doubles: the last step may miss the end point by rounding, the
  // release goes to the end point exactly as written.
  std::string odd = trace({"0.7", "3", "drag", "0.1", "0x1p-3"}, at812());
  EXPECT_PRED_FORMAT2(IsSubstring,
                      "mouse type=6 button=0 at=0.6499999999999999,2.7604166666666665\n", odd);
  EXPECT_PRED_FORMAT2(IsSubstring, "mouse type=6 button=0 at=0.09999999999999998,0.125\n", odd);
  EXPECT_PRED_FORMAT2(IsSubstring, "mouse type=2 button=0 at=0.1,0.125\n", odd);
}

TEST(Click, ScrollPutsVerticalOnWheelOneAndHorizontalOnWheelTwo) {
  EXPECT_EQ(trace({"10", "20", "scroll", "3", "-2"}, at812()),
            kHead +
                "scroll units=line count=2 wheel1=-2 wheel2=3 wheel3=0\n"
                "locate 10,20\n"
                "post hid\n"
                "release\n" +
                kRestoreAndReport);
  std::string extremes = trace({"10", "20", "scroll", "-2147483648", "+2147483647"}, at812());
  EXPECT_PRED_FORMAT2(IsSubstring, "wheel1=2147483647 wheel2=-2147483648 ", extremes);
}

TEST(Click, InvalidDragOrScrollOperandsFallThroughToALeftClick) {
  const std::vector<std::vector<std::string>> cases = {
      {"10", "20", "drag"},
      {"10", "20", "drag", "5"},
      {"10", "20", "drag", "5", "abc"},
      {"10", "20", "drag", "", "5"},
      {"10", "20", "drag", " 5", "5"},
      {"10", "20", "scroll", "1"},
      {"10", "20", "scroll", "1.5", "1"},
      {"10", "20", "scroll", "1", ""},
      {"10", "20", "scroll", "-", "1"},
      {"10", "20", "scroll", "1", "+"},
      {"10", "20", "scroll", "2147483648", "1"},
      {"10", "20", "scroll", "1", "-2147483649"},
      {"10", "20", "scroll", " 1", "1"},
      {"10", "20", "scroll", "1e2", "1"},
      {"10", "20", "scroll", "0x10", "1"},
  };
  for (const auto& args : cases) {
    EXPECT_EQ(trace(args, at812()), kSingleLeftClick) << args.size() << " " << args.back();
  }
}

TEST(Click, BadCoordinatesGiveTheUsageTextAndNothingElse) {
  const std::string usage =
      "err usage: vantic-click x y [left|right|double]\n"
      "exit 2\n";
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"10"},
      {"12abc", "20"},
      {"", "20"},
      {" 10", "20"},
      {"10", "\t20"},
      {"10", "20 "},
      {"10", "0x"},
      {"1,5", "20", "move"},
  };
  for (const auto& args : cases) {
    EXPECT_EQ(trace(args, at812()), usage) << args.size();
  }
}

TEST(Click, CoordinatesReadAsStrtodReadsThem) {
  RecorderOptions o = at812();
  o.pid = 0;
  std::string moved = trace({"1e2", "0x10", "move"}, o);
  EXPECT_PRED_FORMAT2(IsSubstring, "at=100,16\n", moved);
  EXPECT_PRED_FORMAT2(IsSubstring, "after=100,16\n", moved);
  // Values beyond the double range read as infinities and are carried through, not refused.
  std::string huge = trace({"1e999", "-inf", "move"}, o);
  EXPECT_PRED_FORMAT2(IsSubstring, "at=inf,-inf\n", huge);
  EXPECT_PRED_FORMAT2(IsSubstring, " after=9223372036854775807,-9223372036854775808\n", huge);
  std::string nan = trace({"nan", "5", "move"}, o);
  EXPECT_PRED_FORMAT2(IsSubstring, " after=0,5\n", nan);
}

TEST(Click, ReportTruncatesTowardZero) {
  RecorderOptions o = at812();
  o.cursor = Point{99.9, -0.5};
  std::string out = trace({"10", "20", "right"}, o);
  EXPECT_PRED_FORMAT2(IsSubstring,
                      "out pid=812 delivery=hid+restore real_cursor_before=99,0 after=99,0\n", out);
  o.cursor = Point{-7.99, 1e6};
  out = trace({"10", "20", "right"}, o);
  EXPECT_PRED_FORMAT2(IsSubstring, "real_cursor_before=-7,1000000 ", out);
}

TEST(Click, UnknownCursorBeforeMeansNoRestore) {
  RecorderOptions o = at812();
  o.cursor.reset();
  EXPECT_EQ(trace({"10", "20"}, o),
            "frontmost -> 812\n"
            "cursor -> none\n" +
                std::string(kApproach1020) + event(1, 0, "10,20", 1) + event(2, 0, "10,20", 1) +
                "cursor -> 10,20\n"
                "out pid=812 delivery=hid+restore real_cursor_before=? after=10,20\n"
                "exit 0\n");
  // A move to a pid does not place the recorder's cursor, so it stays unknown.
  EXPECT_EQ(trace({"10", "20", "move"}, o),
            "frontmost -> 812\n"
            "cursor -> none\n"
            "mouse type=5 button=0 at=10,20\n"
            "post pid=812\n"
            "release\n"
            "cursor -> none\n"
            "out pid=812 delivery=pid real_cursor_before=? after=?\n"
            "exit 0\n");
}

TEST(Click, UnknownCursorAfterOnlyChangesTheReport) {
  RecorderOptions o = at812();
  o.cursorAfterFails = true;
  std::string expected = kSingleLeftClick;
  expected.replace(expected.find("cursor -> 100,200\nout"), 17, "cursor -> none");
  expected.replace(expected.find("after=100,200"), 13, "after=?");
  EXPECT_EQ(trace({"10", "20"}, o), expected);
}

TEST(Click, MouseEventsThatCannotBeMadeAreSkipped) {
  RecorderOptions o = at812();
  o.mouseEventsFail = true;
  EXPECT_EQ(trace({"10", "20", "double"}, o),
            "frontmost -> 812\n"
            "cursor -> 100,200\n"
            "mouse type=5 button=0 at=10,20 -> none\n"
            "sleep 8000\n"
            "mouse type=1 button=0 at=10,20 -> none\n"
            "mouse type=2 button=0 at=10,20 -> none\n"
            "sleep 45000\n"
            "mouse type=1 button=0 at=10,20 -> none\n"
            "mouse type=2 button=0 at=10,20 -> none\n" +
                std::string(kRestoreAndReport));
  // The scroll event itself is not a mouse event and still goes out.
  std::string scrolled = trace({"10", "20", "scroll", "0", "1"}, o);
  EXPECT_PRED_FORMAT2(IsSubstring,
                      "sleep 8000\nscroll units=line count=2 wheel1=1 wheel2=0 wheel3=0\n"
                      "locate 10,20\npost hid\nrelease\nsleep 20000\n",
                      scrolled);
}

TEST(Click, ScrollEventThatCannotBeMadeEndsWithStatusThree) {
  RecorderOptions o = at812();
  o.scrollEventsFail = true;
  EXPECT_EQ(trace({"10", "20", "scroll", "3", "-2"}, o),
            kHead +
                "scroll units=line count=2 wheel1=-2 wheel2=3 wheel3=0 -> none\n"
                "exit 3\n");
}

#ifdef VANTIC_CLICK_TRACE
// The trace tool's own command line: options, transcript on standard output, the traced run's
// exit status.
// Runs the trace tool with these space-separated arguments.
mevrik::ProcessResult runTrace(const std::string& arguments) {
  std::vector<std::string> argv = {VANTIC_CLICK_TRACE};
  for (size_t start = 0; start < arguments.size();) {
    size_t end = std::min(arguments.find(' ', start), arguments.size());
    argv.push_back(arguments.substr(start, end - start));
    start = end + 1;
  }
  return mevrik::runProcess(std::move(argv));
}

TEST(TraceTool, PrintsTheTranscriptAndExitsAsTheRunDid) {
  mevrik::ProcessResult ran = runTrace("--pid 812 --cursor 100,200 -- 10 20");
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ran.out, kSingleLeftClick);

  ran = runTrace("--cursor none --cursor-after none --no-mouse-events -- 1 2 right");
  EXPECT_EQ(ran.status, 0);
  EXPECT_PRED_FORMAT2(IsSubstring,
                      "frontmost -> 0\ncursor -> none\nmouse type=5 button=0 at=1,2 -> none\n",
                      ran.out);
  EXPECT_PRED_FORMAT2(IsSubstring, "out pid=0 delivery=hid+restore real_cursor_before=? after=?\n",
                      ran.out);

  ran = runTrace("--no-scroll-events -- 1 2 scroll 1 1");
  EXPECT_EQ(ran.status, 3);
  EXPECT_PRED_FORMAT2(IsSubstring, " -> none\nexit 3\n", ran.out);

  ran = runTrace("-- 1");
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.out, "err usage: vantic-click x y [left|right|double]\nexit 2\n");

  // Without "--" the traced arguments begin at the first word that is not an option.
  ran = runTrace("--pid 812 --cursor 100,200 10 20");
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ran.out, kSingleLeftClick);

  ran = runTrace("--cursor -1.5,2e1 -- -5 6 middle");
  EXPECT_EQ(ran.status, 0);
  EXPECT_PRED_FORMAT2(IsSubstring, "cursor -> -1.5,20\nmouse type=5 button=0 at=-5,6\n", ran.out);
}

TEST(TraceTool, RefusesBadOptionsWithItsOwnStatus) {
  for (const char* bad : {"--pid x -- 1 2", "--cursor 1 -- 1 2", "--cursor-after 3,4 -- 1 2",
                          "--frobnicate -- 1 2", "--pid"}) {
    mevrik::ProcessResult ran = runTrace(bad);
    EXPECT_EQ(ran.status, 64) << bad;
    EXPECT_EQ(ran.out, "") << bad;
    EXPECT_PRED_FORMAT2(IsSubstring, "usage: vantic-click-trace", ran.err) << bad;
  }
}
#endif

}  // namespace
}  // namespace click
