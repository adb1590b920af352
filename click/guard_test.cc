// The guarded click (--expect-pid) against the recorder: refused runs post nothing and name the
// window in the way; accepted runs are the plain run with one lookup added.
#include <gtest/gtest.h>

#include "click/test_trace.h"

namespace click {
namespace {

RecorderOptions withWindow(int32_t pid) {
  RecorderOptions options;
  options.pid = 7;
  options.windowAt = TargetWindow{23, pid, "XTerm", "a \"b\"\tc"};
  return options;
}

TEST(GuardTest, RefusesAPointThatBelongsToAnotherApplication) {
  EXPECT_EQ(trace({"10.5", "20", "--expect-pid", "7"}, withWindow(812)),
            "frontmost -> 7\n"
            "window at 10.5,20 -> id=23 pid=812 app=XTerm title=a \"b\"\tc\n"
            "err vantic-click: refused: 10.5,20 is in the window 23 \"a \\\"b\\\" c\" of \"XTerm\" "
            "(pid 812), not of pid 7; no pointer action was performed\n"
            "exit 5\n");
  RecorderOptions empty;
  EXPECT_EQ(trace({"1", "2", "right", "--expect-pid", "7"}, empty),
            "frontmost -> 0\nwindow at 1,2 -> none\n"
            "err vantic-click: refused: no window is at 1,2 (pid 7 expected); no pointer action "
            "was performed\nexit 5\n");
}

TEST(GuardTest, AnAcceptedClickIsThePlainRunWithTheLookup) {
  // The option may stand anywhere after the program path; the drag operands keep their places.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--expect-pid", "7", "10", "20", "drag", "30", "40"},
           {"10", "20", "drag", "--expect-pid", "7", "30", "40"}}) {
    std::string plain = trace({"10", "20", "drag", "30", "40"}, withWindow(7));
    plain.insert(plain.find('\n') + 1,
                 "window at 10,20 -> id=23 pid=7 app=XTerm title=a \"b\"\tc\n");
    EXPECT_EQ(trace(args, withWindow(7)), plain);
  }
  for (const auto& bad : std::vector<std::vector<std::string>>{
           {"10", "20", "--expect-pid"},
           {"10", "20", "--expect-pid", "0"},
           {"10", "20", "--expect-pid", "x"},
           {"10", "20", "--expect-pid", "1", "--expect-pid", "1"}}) {
    EXPECT_EQ(trace(bad), "err usage: vantic-click x y [left|right|double]\nexit 2\n");
  }
}

}  // namespace
}  // namespace click
