// The keyboard core through the macOS backend on the Apple stand-in, which writes down the Quartz
// calls: the key codes, the flags and the Unicode strings each event carries.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "desktop/mac/frontmost.h"
#include "standin.h"
#include "type/platform-mac.h"
#include "type/type.h"

namespace mevrik::desktop::mac {
int32_t frontmostProcessId() {
  return 812;
}
}  // namespace mevrik::desktop::mac

namespace type {
namespace {

std::string hex(int64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<long long>(value));
  return text;
}

// Runs vantic-type with these arguments and gives one line per posted key event
// ("0x38 down flags=0x20000 U+0042"), then the output.
std::string events(std::vector<std::string> arguments, std::vector<CGKeyCode> held = {}) {
  standin::reset();
  standin::setKeysDown(held);
  const int64_t live = standin::liveReferences();
  RunState state;
  state.args.push_back("vantic-type");
  for (auto& a : arguments) state.args.push_back(a);
  QuartzKeyboard quartz;
  const RunResult result = run(quartz, state);

  std::map<uint64_t, std::string> line;
  std::string text;
  for (const standin::Call& call : standin::calls()) {
    const auto& v = call.values;
    if (call.function == "CGEventCreateKeyboardEvent") {
      line[call.event] = hex(v[0]) + (v[1] ? " down" : " up");
    } else if (call.function == "CGEventSetFlags") {
      line[call.event] += " flags=" + hex(v[0]);
    } else if (call.function == "CGEventKeyboardSetUnicodeString") {
      line[call.event] += " " + call.text;
    } else if (call.function == "CGEventPost" && v[0] == kCGHIDEventTap) {
      text += line[call.event] + "\n";
    }
  }
  EXPECT_EQ(standin::liveReferences(), live) << "every event is released";
  return text + result.out + result.err;
}

TEST(TypeMac, TextCarriesItsCharactersAndShiftItsFlag) {
  EXPECT_EQ(events({"text", "aB世👋\n"}),
            "0x0 down flags=0x0 U+0061\n0x0 up flags=0x0 U+0061\n"
            "0x38 down flags=0x20000\n"
            "0xb down flags=0x20000 U+0042\n0xb up flags=0x20000 U+0042\n"
            "0x38 up flags=0x0\n"
            // Characters without an ANSI key go out on key code 0, as their UTF-16 units.
            "0x0 down flags=0x0 U+4E16\n0x0 up flags=0x0 U+4E16\n"
            "0x0 down flags=0x0 U+D83D U+DC4B\n0x0 up flags=0x0 U+D83D U+DC4B\n"
            "0x24 down flags=0x0\n0x24 up flags=0x0\n"
            "pid=812 sent=text characters=5 remapped=0\n");
}

TEST(TypeMac, ChordsCarryTheirModifiersAndHeldKeysComeBack) {
  // Right Shift held by the user: released first, pressed again last.
  EXPECT_EQ(events({"key", "super+l", "ctrl+shift+Tab"}, {0x3C}),
            "0x3c up flags=0x0\n"
            "0x37 down flags=0x100000\n"
            "0x25 down flags=0x100000 U+006C\n0x25 up flags=0x100000 U+006C\n"
            "0x37 up flags=0x0\n"
            "0x3b down flags=0x40000\n0x38 down flags=0x60000\n"
            "0x30 down flags=0x60000\n0x30 up flags=0x60000\n"
            "0x38 up flags=0x40000\n0x3b up flags=0x0\n"
            "0x3c down flags=0x20000\n"
            "pid=812 sent=keys chords=2 remapped=0 super+l ctrl+shift+Tab\n");
}

TEST(TypeMac, WithoutThePostEventPermissionNothingIsPosted) {
  standin::reset();
  standin::setPostEventAccess(false);
  std::string error;
  EXPECT_FALSE(createSystemPlatform(error));
  EXPECT_TRUE(error.starts_with("posting events not allowed")) << error;
  ASSERT_EQ(standin::calls().size(), 1u);
  EXPECT_EQ(standin::calls()[0].function, "CGRequestPostEventAccess");
}

}  // namespace
}  // namespace type
