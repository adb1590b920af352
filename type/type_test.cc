#include "type/type.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "type/keysyms.h"
#include "type/platform-recorder.h"

namespace type {
namespace {

// Runs vantic-type with these arguments against a recorder and returns the transcript lines
// that show what was done (key events, map changes, waits, output), without the look-ups.
std::string actions(std::vector<std::string> arguments, RecorderOptions options = {}) {
  RunState state;
  state.args.push_back("vantic-type");
  for (auto& a : arguments) state.args.push_back(a);
  RecorderPlatform recorder(options);
  state.stopRequested = [&recorder] { return recorder.stopRequested(); };
  recorder.recordResult(run(recorder, state));
  std::string text;
  for (const auto& line : recorder.transcript()) {
    if (line.starts_with("find ") || line.starts_with("spare ") || line.starts_with("held ") ||
        line.starts_with("capslock ") || line.starts_with("frontmost ") || line == "flush")
      continue;
    text += line + "\n";
  }
  return text;
}

RecorderOptions withPid(int32_t pid) {
  RecorderOptions o;
  o.pid = pid;
  return o;
}

RecorderOptions withSpare(size_t spare) {
  RecorderOptions o;
  o.spare = spare;
  return o;
}

constexpr char kUsageLines[] =
    "err usage: vantic-type text STRING\n"
    "err        vantic-type key CHORD...   (CHORD: [ctrl+][shift+][alt+][super+]KEY, such as "
    "ctrl+l,\n"
    "err                                    Return, shift+Tab; KEY is an X keysym name or one "
    "character)\n"
    "exit 2\n";

TEST(Type, BadArgumentsGiveTheUsageAndStatus2BeforeAnyKey) {
  struct Case {
    std::vector<std::string> args;
    std::string problem;  // the line before the usage text, "" for none
  } cases[] = {
      {{}, ""},
      {{"text"}, ""},
      {{"text", "a", "b"}, ""},
      {{"key"}, ""},
      {{"type", "a"}, ""},
      {{"text", "\xc3"}, "the text is not valid UTF-8"},
      {{"text", "\xc0\xaf"}, "the text is not valid UTF-8"},      // overlong "/"
      {{"text", "\xed\xa0\x80"}, "the text is not valid UTF-8"},  // a surrogate
      {{"text", "a\x07"}, "the text holds the control character U+0007, which no key types"},
      {{"key", "ctrl+l", "hyper+x"},
       "unknown modifier \"hyper\" in \"hyper+x\" (ctrl, shift, alt, super)"},
      {{"key", "ctrl+"}, "no key in \"ctrl+\""},
      {{"key", "ctrl+NoSuchKey"}, "unknown key \"NoSuchKey\" in \"ctrl+NoSuchKey\""},
      {{"key", "ab"}, "unknown key \"ab\" in \"ab\""},
  };
  for (const auto& c : cases) {
    std::string expected = c.problem.empty() ? "" : "err vantic-type: " + c.problem + "\n";
    EXPECT_EQ(actions(c.args), expected + kUsageLines) << testing::PrintToString(c.args);
  }
}

TEST(Type, EachCharacterIsOneBurstWithShiftWhereTheKeyNeedsIt) {
  EXPECT_EQ(actions({"text", "aB!\n"}, withPid(812)),
            "key 97 down\nkey 97 up\n"
            "key 481 down\nkey 98 down\nkey 98 up\nkey 481 up\n"
            "key 481 down\nkey 49 down\nkey 49 up\nkey 481 up\n"
            "key 269 down\nkey 269 up\n"
            "out pid=812 sent=text characters=4 remapped=0\n"
            "exit 0\n");
  EXPECT_EQ(actions({"text", ""}), "out pid=0 sent=text characters=0 remapped=0\nexit 0\n");
}

TEST(Type, ChordsHoldTheirModifiersInOrderAndReleaseInReverse) {
  EXPECT_EQ(actions({"key", "CTRL+Shift+escape", "shift+A", "ctrl++", "Return"}),
            "key 483 down\nkey 481 down\nkey 283 down\nkey 283 up\nkey 481 up\nkey 483 up\n"
            // Shift named and needed by the key: held once.
            "key 481 down\nkey 97 down\nkey 97 up\nkey 481 up\n"
            // The key "+" needs Shift on a US map.
            "key 483 down\nkey 481 down\nkey 61 down\nkey 61 up\nkey 481 up\nkey 483 up\n"
            "key 269 down\nkey 269 up\n"
            "out pid=0 sent=keys chords=4 remapped=0 CTRL+Shift+escape shift+A ctrl++ Return\n"
            "exit 0\n");
}

TEST(Type, MissingCharactersGoThroughSpareCodesInBatchesWithWaitsBetweenBindings) {
  // Three spare codes for four distinct missing characters: the first batch binds three, the
  // repeated one reuses its code, the fourth needs a new binding after the settle wait.
  EXPECT_EQ(actions({"text", "ñ世界ñ—x"}, withSpare(3)),
            "bind 0xf1=512 0x1004e16=513 0x100754c=514\n"
            "key 512 down\nkey 512 up\nkey 513 down\nkey 513 up\nkey 514 down\nkey 514 up\n"
            "key 512 down\nkey 512 up\n"
            "wait reader 2000000\n"
            "bind 0x1002014=512\n"
            "key 512 down\nkey 512 up\nkey 120 down\nkey 120 up\n"
            "wait reader 2000000\n"
            "restore map\n"
            "out pid=0 sent=text characters=6 remapped=5\n"
            "exit 0\n");
  // A chord's key the map lacks is bound the same way.
  EXPECT_EQ(actions({"key", "ctrl+é"}),
            "bind 0xe9=512\nkey 483 down\nkey 512 down\nkey 512 up\nkey 483 up\n"
            "wait reader 2000000\nrestore map\n"
            "out pid=0 sent=keys chords=1 remapped=1 ctrl+é\nexit 0\n");
  // No spare code at all: nothing is pressed, and the line names the first missing character.
  EXPECT_EQ(actions({"text", "a世"}, withSpare(0)),
            "err vantic-type: the keyboard map has no key for U+4E16 and no spare key code to "
            "bind it to; nothing was typed\nexit 1\n");
}

TEST(Type, HeldModifiersAndCapsLockArePutBackAlsoWhenStopped) {
  RecorderOptions held;
  held.held = {kControlL, kShiftR};
  held.capsLock = true;
  EXPECT_EQ(actions({"text", "a"}, held),
            "key 483 up\nkey 482 up\nkey 485 down\nkey 485 up\n"
            "key 97 down\nkey 97 up\n"
            "key 485 down\nkey 485 up\nkey 483 down\nkey 482 down\n"
            "out pid=0 sent=text characters=1 remapped=0\nexit 0\n");
  // A stop between two characters ends the typing; the map, Caps Lock and the held keys are
  // still put back.
  held.stopAfterKeys = 6;
  EXPECT_EQ(actions({"text", "a世b"}, held),
            "key 483 up\nkey 482 up\nkey 485 down\nkey 485 up\n"
            "bind 0x1004e16=512\n"
            "key 97 down\nkey 97 up\n"
            "wait reader 2000000\nrestore map\n"
            "key 485 down\nkey 485 up\nkey 483 down\nkey 482 down\n"
            "err vantic-type: stopped by a signal after 1 of 3 characters; no key is left pressed "
            "and the keyboard map is as it was\nexit 1\n");
}

// A journal in memory that notes each record and where in the transcript it was written.
struct MemoryJournal : mevrik::Journal {
  explicit MemoryJournal(const RecorderPlatform& recorder) : recorder(recorder) {}
  std::optional<std::string> read() override { return text; }
  bool write(const std::string& record) override {
    text = record;
    writes.push_back({recorder.transcript().size(), record});
    return true;
  }
  void remove() override { text.reset(); }

  const RecorderPlatform& recorder;
  std::optional<std::string> text;
  std::vector<std::pair<size_t, std::string>> writes;  // (transcript lines before, record)
};

TEST(TypeJournal, EachChangeIsRecordedBeforeItLeavesAndTheRecordGoesAtTheEnd) {
  RecorderOptions options;
  options.held = {kControlL};
  options.capsLock = true;
  options.spare = 1;
  RecorderPlatform recorder(options);
  MemoryJournal journal(recorder);
  RunState state;
  state.args = {"vantic-type", "text", "世界"};
  state.journal = &journal;
  EXPECT_EQ(run(recorder, state).status, 0);
  const auto& lines = recorder.transcript();
  // Releasing Ctrl and Caps Lock, and each binding, leave with the flush that follows them; the
  // record must come between the change and that flush.
  std::vector<size_t> changes;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == "key 483 up" || lines[i].starts_with("bind ")) changes.push_back(i);
  }
  ASSERT_EQ(changes.size(), 3u);
  for (size_t change : changes) {
    const size_t flush = std::find(lines.begin() + change, lines.end(), "flush") - lines.begin();
    EXPECT_TRUE(std::any_of(journal.writes.begin(), journal.writes.end(), [&](const auto& w) {
      return w.first > change && w.first <= flush;
    })) << lines[change];
  }
  EXPECT_EQ(journal.writes.back().second,
            "vantic-type journal 1\nreleased 483\ncapslock 485\nbind 512 - 0x1004e16 0x100754c\n");
  EXPECT_EQ(journal.text, std::nullopt);
}

TEST(TypeJournal, ALaterRunPutsBackWhatTheRecordListsAndStillHolds) {
  RecorderPlatform recorder({});
  MemoryJournal journal(recorder);
  // Caps Lock is off and Ctrl is up, as the killed run left them; the recorder's map gives code
  // 512 nothing, so that binding was undone by someone else and is left alone.
  journal.text = "vantic-type journal 1\nreleased 483\ncapslock 485\nbind 512 - 0x1004e16\n";
  EXPECT_EQ(restoreLeftovers(recorder, journal), 2u);
  std::string keys;
  for (const auto& line : recorder.transcript()) {
    if (line.starts_with("key ")) keys += line + "\n";
  }
  EXPECT_EQ(keys, "key 485 down\nkey 485 up\nkey 483 down\n");
  EXPECT_EQ(journal.text, std::nullopt);
  // A record that is not one of ours is dropped without acting on it.
  RecorderPlatform other({});
  MemoryJournal foreign(other);
  foreign.text = "vantic-type journal 1\nreleased 483\nbind 512\n";
  EXPECT_EQ(restoreLeftovers(other, foreign), 0u);
  EXPECT_EQ(foreign.text, std::nullopt);
}

TEST(Keysyms, NamesAndCharacters) {
  EXPECT_EQ(keysymFromName("Return"), kReturn);
  EXPECT_EQ(keysymFromName("return"), kReturn);
  EXPECT_EQ(keysymFromName("a"), 0x61u);
  EXPECT_EQ(keysymFromName("A"), 0x41u);
  EXPECT_EQ(keysymFromName("XF86AudioPlay"), 0x1008ff14u);
  EXPECT_EQ(keysymFromName("ODIAERESIS"), std::nullopt);  // Odiaeresis or odiaeresis
  EXPECT_EQ(keysymFromName(""), std::nullopt);

  EXPECT_EQ(keysymForCharacter(U'ñ'), 0xf1u);
  EXPECT_EQ(keysymForCharacter(U'世'), 0x1004e16u);
  EXPECT_EQ(keysymForCharacter(U'👋'), 0x101f44bu);
  EXPECT_EQ(characterOf(0xaa9), U'—');  // emdash, an older keysym
  EXPECT_EQ(characterOf(0x1004e16), U'世');
  EXPECT_EQ(characterOf(0xf1), U'ñ');
  EXPECT_EQ(characterOf(kReturn), std::nullopt);
  EXPECT_EQ(characterOf(0x1000041), std::nullopt);  // Latin-1 has its own keysyms
}

TEST(TypeTrace, OptionsAndStatus) {
  struct Case {
    const char* options;
    int status;
  } cases[] = {
      {"--pid 7 -- text a", 0},     {"--spare 0 -- text 世", 1},        {"-- text", 2},
      {"--spare -1 -- text a", 64}, {"--held NoSuchKey -- text a", 64}, {"--bogus -- text a", 64},
  };
  for (const auto& c : cases) {
    std::string command = std::string(VANTIC_TYPE_TRACE) + " " + c.options + " >/dev/null 2>&1";
    int raw = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(raw), c.status) << c.options;
  }
}

}  // namespace
}  // namespace type
