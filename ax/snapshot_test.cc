#include "ax/snapshot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ax/test_util.h"

namespace ax {
namespace {

using nlohmann::json;

RunState optionsOf(const std::vector<std::string>& args) {
  RunState state;
  parseOptions(args, state);
  return state;
}

TEST(OptionsTest, LaterValidValuesWinAndInvalidOnesAreDropped) {
  RunState s = optionsOf({});
  EXPECT_EQ(s.maxElements, 300);
  EXPECT_EQ(s.timeBudget, 0.5);
  EXPECT_EQ(s.settle, 0.0);
  EXPECT_FALSE(s.debug);
  EXPECT_FALSE(s.wantPrompt);

  s = optionsOf({"--budget", "2.5", "--settle", "0x1p-2", "--max-elements", "+40", "--debug"});
  EXPECT_EQ(s.timeBudget, 2.5);
  EXPECT_EQ(s.settle, 0.25);
  EXPECT_EQ(s.maxElements, 40);
  EXPECT_TRUE(s.debug);

  // Later valid values win; invalid ones are dropped and keep the current value.
  s = optionsOf({"--budget", "1", "--budget", "abc", "--budget", " 2", "--budget", "2 ",
                 "--max-elements", "12.5", "--max-elements", "", "--max-elements", "+",
                 "--max-elements", "9223372036854775808", "--max-elements", " 5"});
  EXPECT_EQ(s.timeBudget, 1);
  EXPECT_EQ(s.maxElements, 300);
  s = optionsOf({"--max-elements", "-9223372036854775808", "--budget", "-INF", "--settle", "NaN"});
  EXPECT_EQ(s.maxElements, std::numeric_limits<int64_t>::min());
  EXPECT_TRUE(std::isinf(s.timeBudget) && s.timeBudget < 0);
  EXPECT_TRUE(std::isnan(s.settle));
}

TEST(OptionsTest, OptionWordsConsumeTheirValueAndMatchExactly) {
  RunState s = optionsOf({"--debug", "--budget"});  // last argument: nothing happens
  EXPECT_TRUE(s.debug);
  EXPECT_EQ(s.timeBudget, 0.5);
  s = optionsOf({"--budget=1", "--Budget", "1", "--DEBUG", "-debug", "--prompt"});
  EXPECT_EQ(s.timeBudget, 0.5);
  EXPECT_FALSE(s.debug);
  EXPECT_TRUE(s.wantPrompt);
  s = optionsOf({"--settle", "--prompt"});
  EXPECT_FALSE(s.wantPrompt);
}

TEST(RunTest, NotTrustedTouchesNoApplication) {
  ScenePlatform platform(sceneFrom(R"({"trusted": false})"));
  runSnapshot(platform, {});
  EXPECT_EQ(platform.requestCount(), 0);
  EXPECT_FALSE(platform.messagingTimeout());
}

TEST(RunTest, TheApplicationGetsItsTimeoutAndManualAccessibility) {
  ScenePlatform platform(sceneFrom("{}"));
  runSnapshot(platform, {});
  EXPECT_EQ(platform.messagingTimeout(), 0.6f);
  EXPECT_TRUE(platform.manualAccessibilitySet());
}

TEST(RunTest, TheFocusedWindowElseTheFirstWindowIsWalked) {
  // No focused window: the first of "AXWindows". A focused "window" that is not an element
  // counts as absent.
  const std::string scene = R"({"elements": {
    "app": {"AXFocusedWindow": "not an element", "AXWindows": [{"ref": "w2"}, {"ref": "w1"}]},
    "w1": {"AXTitle": "first"}, "w2": {"AXTitle": {"attributed": "line\none"}}}})";
  json doc = parsed(runScene(scene));
  EXPECT_EQ(doc["window"], "line\none");
  EXPECT_EQ(doc["visited"], 1);
  doc = parsed(runScene(R"({"elements": {"app": {"AXWindows": []}}})"));
  EXPECT_EQ(doc["visited"], 0);
  doc = parsed(runScene(R"({"elements": {"app": {"AXWindows": ["x", {"ref": "w"}]}}})"));
  EXPECT_EQ(doc["visited"], 0);
  doc = parsed(runScene(R"({"elements": {"app": {"AXFocusedWindow": {"fails": -25204},
                                                 "AXWindows": [{"ref": "w"}]},
                                         "w": {"AXTitle": 2.0}}})"));
  EXPECT_EQ(doc["window"], "2");
  EXPECT_EQ(doc["visited"], 1);
}

TEST(RunTest, OnlyAPositiveSettleTimePauses) {
  const std::string scene = R"({"clock": {"step": 0.25}})";
  for (const char* noPause : {"0", "-1", "nan"}) {
    ScenePlatform other(sceneFrom(scene));
    runSnapshot(other, {"--settle", noPause});
    EXPECT_EQ(other.sleptSeconds(), 0) << noPause;
  }
  ScenePlatform forever(sceneFrom(scene));
  runSnapshot(forever, {"--settle", "inf"});
  EXPECT_EQ(forever.sleptSeconds(), 1e9);
}

TEST(RunTest, ElementsOnAnyScreenAreKeptAndOnlyThoseOffEveryScreenArePruned) {
  const std::string tree = R"("elements": {"app": {"AXFocusedWindow": {"ref": "w"}},
    "w": {"AXChildren": [{"ref": "b"}, {"ref": "l"}]},
    "b": {"AXRole": "AXButton", "AXTitle": "B", "AXPosition": {"point": [3000, 10]},
          "AXSize": {"size": [20, 20]}},
    "l": {"AXRole": "AXButton", "AXTitle": "L", "AXPosition": {"point": [-1000, 10]},
          "AXSize": {"size": [20, 20]}}}})";
  // The first screen counts from the origin whatever its frame says; the others by their frames.
  const std::pair<const char*, const char*> cases[] = {
      {"[]", "B"},  // no screen: a 4096-point square from the origin
      {"[[0, 0, 3000, 900]]", ""},
      {"[[0, 0, 3000.5, 900]]", "B"},
      {"[[2000, 0, 1440, 900]]", ""},
      {"[[0, 0, 1440, 900], [1440, 0, 2560, 1440]]", "B"},  // a second monitor to the right
      {"[[0, 0, 1440, 900], [-1280, 0, 1280, 800]]", "L"},  // one to the left
      {"[[0, 0, 1440, 900], [0, 900, 1440, 900]]", ""},     // one below: nothing there
  };
  for (const auto& [screens, labels] : cases) {
    const std::string scene = std::string("{\"screens\": ") + screens + ", " + tree;
    const json doc = parsed(runScene(scene));
    std::string got;
    for (const auto& e : doc["elements"]) got += e["label"].get<std::string>();
    EXPECT_EQ(got, labels) << screens;
  }
}

TEST(RunTest, StrangeBudgetsStillPrintOneValidLine) {
  for (const char* budget : {"inf", "nan", "-inf", "1e308", "-0"}) {
    const RunResult r = runScene("{}", {"--budget", budget, "--debug"});
    const json doc = parsed(r);
    ASSERT_TRUE(doc["debug"]["budget"].is_number()) << budget;
    EXPECT_EQ(r.document.find('\n'), std::string::npos);
  }
  EXPECT_EQ(parsed(runScene("{}", {"--budget", "-inf", "--debug"}))["debug"]["budget"],
            -std::numeric_limits<double>::max());
}

TEST(RunTest, IllFormedAndHugeTextsStillGiveOneValidLine) {
  Scene scene;
  scene.app = scene.addElement();
  const uint32_t window = scene.addElement();
  scene.frontmost = FrontmostApplication{1, "bad \xff name", "a/\xc3"};
  scene.elements[scene.app].set("AXFocusedWindow", SceneValue::ofRef(window));
  std::vector<SceneValue> children;
  for (const char* role : {"\xff", "\xfe", "AXButton"}) {
    const uint32_t e = scene.addElement();
    children.push_back(SceneValue::ofRef(e));
    scene.elements[e].set("AXRole", SceneValue::ofText(role));
    scene.elements[e].set("AXPosition", SceneValue::ofPoint(1, 1));
    scene.elements[e].set("AXSize", SceneValue::ofSize(5, 5));
    scene.elements[e].set("AXTitle", SceneValue::ofText(std::string(10'000'000, 'x') + "\xe2\x82"));
    scene.elements[e].set("AXValue", SceneValue::ofText("v\xed\xa0\x80"));
  }
  scene.elements[window].set("AXTitle", SceneValue::ofText("t\xf0\x9f"));
  scene.elements[window].set("AXChildren", SceneValue::ofList(std::move(children)));
  ScenePlatform platform(std::move(scene));
  const RunResult r = runSnapshot(platform, {"--debug"});
  const json doc = parsed(r);
  EXPECT_EQ(doc["app"], "bad \ufffd name");
  EXPECT_EQ(doc["bundle"], "a/\ufffd");
  EXPECT_EQ(doc["window"], "t\ufffd");
  EXPECT_EQ(doc["debug"]["roles"], json::parse(R"({"\ufffd": 2, "": 1, "AXButton": 1})"));
  ASSERT_EQ(doc["elements"].size(), 1u);
  EXPECT_EQ(doc["elements"][0]["label"], std::string(100, 'x') + "\u2026");
  EXPECT_EQ(doc["elements"][0]["value"], "v\ufffd\ufffd\ufffd");
}

}  // namespace
}  // namespace ax
