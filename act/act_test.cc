// vantic-act against the scene of an application behind a terminal (ax/scenes/other_app.json).
#include "act/act.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ax/test_util.h"

namespace act {
namespace {

struct Outcome {
  ax::RunResult result;
  nlohmann::json line;
  int64_t actions = 0;
};

Outcome run(const std::vector<std::string>& args) {
  ax::ScenePlatform platform(ax::sceneFrom(ax::slurp(AX_SCENES_DIR "/other_app.json")));
  Outcome r{runAct(platform, args), {}, 0};
  r.line = nlohmann::json::parse(r.result.document, nullptr, false);
  r.actions = platform.actionCount();
  return r;
}

TEST(Act, ActsOnTheElementThePathNamesAndReportsItsNewState) {
  Outcome r = run(
      {"0.1", "press", "--pid", "9", "--expect-role", "checkbox", "--expect-label", "Remember me"});
  EXPECT_EQ(r.result.status, kExitOk);
  EXPECT_EQ(r.result.document,
            R"({"action":"press","path":"0.1","role":"checkbox","label":"Remember me",)"
            R"("value":"1","focused":false,"disabled":false,"changed":true})");

  r = run({"--pid", "9", "0.2", "set-text", "--Ada ☃", "--expect-role", "textfield"});
  EXPECT_EQ(r.line["value"], "--Ada ☃") << r.result.document;
  EXPECT_EQ(r.line["focused"], true);

  r = run({"0.1", "focus", "--pid", "9"});
  EXPECT_EQ(r.line["focused"], true) << r.result.document;
  EXPECT_EQ(r.line["changed"], true);

  // A menu-bar title is checked against its title, as the snapshot labels it.
  r = run({"m.0", "press", "--pid", "9", "--expect-role", "menu", "--expect-label", "File"});
  EXPECT_EQ(r.result.status, kExitNoAction) << r.result.document;
}

TEST(Act, RefusesWithoutActingWhenTheElementIsNotTheOneMeant) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"0.5", "press", "--pid", "9"}, kExitStale, "element 0 has 3 children"},
      {{"4.1", "press", "--pid", "9"}, kExitStale, "the window has 2 children"},
      {{"0.1", "press", "--pid", "9", "--expect-role", "button"},
       kExitMismatch,
       "is a checkbox \"Remember me\", not a button"},
      {{"0.1", "press", "--pid", "9", "--expect-label", "Forget me"},
       kExitMismatch,
       "not labelled \"Forget me\""},
      {{"1", "press", "--pid", "9"}, kExitNoAction, "button \"OK\" at 1 has no press action"},
      {{"1", "set-text", "x", "--pid", "9"}, kExitNoAction, "no set-text action"},
      {{"0.2", "set-text", "bad \xC3\x28", "--pid", "9"}, kExitUsage, "not valid UTF-8"},
      {{"0.1", "press", "--pid", "404"}, kExitNoTarget, "no application with pid 404"},
      {{"0.1", "press", "--pid", "x9"}, kExitNoTarget, "--pid needs a process id"},
      {{"0.1", "press", "--window", "77"}, kExitNoTarget, "no window 77"},
      {{"0.01", "press"}, kExitUsage, "is not a path"},
      {{"0.1", "click"}, kExitUsage, "unknown action"},
      {{"0.1"}, kExitUsage, "a path and an action"},
      {{"0.1", "press", "extra"}, kExitUsage, "unexpected argument"},
      {{"0.1", "press", "--pid"}, kExitUsage, "--pid needs a value"},
  };
  for (const auto& c : cases) {
    const Outcome r = run(c.args);
    EXPECT_EQ(r.result.status, c.status) << r.result.document;
    EXPECT_NE(r.line.value("error", "").find(c.says), std::string::npos) << r.result.document;
    EXPECT_EQ(r.actions, 0) << r.result.document;
  }
}

}  // namespace
}  // namespace act
