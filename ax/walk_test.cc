#include "ax/walk.h"

#include <gtest/gtest.h>

#include <limits>

#include "ax/test_util.h"

namespace ax {
namespace {

using nlohmann::json;

// A scene whose focused window "w" (on a 1440x900 screen) has the given children; `more` adds
// elements. Each element in `more` is a full JSON member: "id": {...}.
std::string windowScene(const std::string& children, const std::string& more,
                        const std::string& extraApp = "") {
  return R"({"frontmost": {"pid": 7, "name": "T", "bundle": "t"}, "elements": {
    "app": {"AXFocusedWindow": {"ref": "w"})" +
         extraApp + R"(},
    "w": {"AXRole": "AXWindow", "AXTitle": "W", "AXPosition": {"point": [0, 0]},
          "AXSize": {"size": [1440, 900]}, "AXChildren": [)" +
         children + "]}" + (more.empty() ? "" : ",") + more + "}}";
}

std::string button(const std::string& id, const std::string& title, int x = 10, int y = 10,
                   const std::string& extra = "") {
  return "\"" + id + R"(": {"AXRole": "AXButton", "AXTitle": ")" + title +
         R"(", "AXPosition": {"point": [)" + std::to_string(x) + ", " + std::to_string(y) +
         R"(]}, "AXSize": {"size": [20, 10]})" + extra + "}";
}

TEST(ValueTest, AsStringGivesTextFormsAndNothingForOtherKinds) {
  EXPECT_EQ(asString(std::nullopt), "");
  EXPECT_EQ(asString(Value::ofText("t")), "t");
  EXPECT_EQ(asString(Value::ofInteger(-12)), "-12");
  EXPECT_EQ(asString(Value::ofReal(2.0)), "2");
  EXPECT_EQ(asString(Value::ofReal(0.1)), "0.1");
  EXPECT_EQ(asString(Value::ofBoolean(true)), "1");
  EXPECT_EQ(asString(Value::ofBoolean(false)), "0");
  EXPECT_EQ(asString(Value::ofUrl("https://x/")), "https://x/");
  EXPECT_EQ(asString(Value::ofAttributed("plain")), "plain");
  EXPECT_EQ(asString(Value::ofPoint(1, 2)), "");
  EXPECT_EQ(asString(Value::null()), "");
  EXPECT_EQ(asString(Value::ofList({Value::ofText("a")})), "");
  EXPECT_TRUE(isMissing(Value::null()));
  EXPECT_TRUE(isMissing(Value::ofAxError(-25212)));
  EXPECT_FALSE(isMissing(Value::ofAxOther()));
  EXPECT_FALSE(isMissing(Value::ofText("")));
  EXPECT_TRUE(asPoint(Value::ofPoint(1, 2)));
  EXPECT_FALSE(asPoint(Value::ofSize(1, 2)));
  EXPECT_FALSE(asSize(Value::ofPoint(1, 2)));
  EXPECT_FALSE(asSize(Value::ofAxOther()));
}

TEST(ValueTest, BatchedReadsGiveOneEntryPerName) {
  Scene scene = sceneFrom(R"({"elements": {
    "ok": {"AXRole": "AXButton", "AXTitle": null, "AXValue": {"axerror": -25200},
           "AXDescription": {"novalue": true}, "AXEnabled": {"fails": -25204}}},
    "app": "ok"})");
  ScenePlatform platform(std::move(scene));
  const Element ok = platform.createApplicationElement(0);
  const auto v =
      multi(platform, ok, {"AXRole", "AXTitle", "AXValue", "AXDescription", "AXEnabled", "AXNone"});
  ASSERT_EQ(v.size(), 6u);
  EXPECT_EQ(asString(v[0]), "AXButton");
  for (size_t k = 1; k < 6; ++k) EXPECT_FALSE(v[k]) << k;
  EXPECT_TRUE(multi(platform, ok, {}).empty());
}

TEST(VisitTest, RecordsFollowTheLabelValueAndGeometryRules) {
  const std::string children =
      R"({"ref": "desc"}, {"ref": "ph"}, {"ref": "bare"}, {"ref": "text"}, {"ref": "head"},
         {"ref": "check"}, {"ref": "spaces"}, {"ref": "thin"}, {"ref": "zero"}, {"ref": "group"},
         {"ref": "off"})";
  const std::string more = R"(
    "desc": {"AXRole": "AXButton", "AXTitle": "", "AXDescription": "D",
             "AXPosition": {"point": [600, 400]}, "AXSize": {"size": [80, 24]}, "AXEnabled": false},
    "ph": {"AXRole": "AXTextField", "AXPlaceholderValue": "P", "AXValue": "typed",
           "AXPosition": {"point": [10.5, 20.25]}, "AXSize": {"size": [100.75, 20.5]}},
    "bare": {"AXRole": "AXButton", "AXPosition": {"point": [1, 1]}, "AXSize": {"size": [5, 5]},
             "AXChildren": [{"ref": "inner"}]},
    "inner": {"AXRole": "AXLink", "AXTitle": "under bare", "AXPosition": {"point": [1, 1]},
              "AXSize": {"size": [5, 5]}, "AXEnabled": 0},
    "text": {"AXRole": "AXStaticText", "AXValue": "T", "AXPosition": {"point": [1, 1]},
             "AXSize": {"size": [5, 5]}},
    "head": {"AXRole": "AXHeading", "AXValue": "H", "AXPosition": {"point": [1, 1]},
             "AXSize": {"size": [5, 5]}},
    "check": {"AXRole": "AXCheckBox", "AXTitle": "C", "AXValue": 1, "AXPosition": {"point": [1, 1]},
              "AXSize": {"size": [5, 5]}},
    "spaces": {"AXRole": "AXButton", "AXTitle": "   ", "AXPosition": {"point": [1, 1]},
               "AXSize": {"size": [5, 5]}},
    "thin": {"AXRole": "AXButton", "AXTitle": "thin", "AXPosition": {"point": [1, 1]},
             "AXSize": {"size": [1, 40]}, "AXChildren": [{"ref": "thinChild"}]},
    "thinChild": {"AXRole": "AXButton", "AXTitle": "under thin", "AXPosition": {"point": [1, 1]},
                  "AXSize": {"size": [5, 5]}},
    "zero": {"AXRole": "AXButton", "AXTitle": "zero", "AXPosition": {"point": [-500, -500]},
             "AXSize": {"size": [0, 0]}, "AXChildren": [{"ref": "zeroChild"}]},
    "zeroChild": {"AXRole": "AXButton", "AXTitle": "under zero", "AXPosition": {"point": [1, 1]},
                  "AXSize": {"size": [5, 5]}},
    "group": {"AXRole": "AXGroup", "AXTitle": "not a record", "AXPosition": {"point": [1, 1]},
              "AXSize": {"size": [5, 5]}},
    "off": {"AXRole": "AXButton", "AXTitle": "off", "AXPosition": {"point": [-300, 10]},
            "AXSize": {"size": [200, 10]}, "AXChildren": [{"ref": "offChild"}]},
    "offChild": {"AXRole": "AXButton", "AXTitle": "under off", "AXPosition": {"point": [1, 1]},
                 "AXSize": {"size": [5, 5]}})";
  const json doc = parsed(runScene(windowScene(children, more)));
  const json expected = json::parse(R"([
    {"i":1,"role":"button","label":"D","value":"","x":640,"y":412,"w":80,"h":24,"disabled":true},
    {"i":2,"role":"textfield","label":"placeholder: P","value":"typed","x":60,"y":30,"w":100,"h":20,"disabled":false},
    {"i":3,"role":"link","label":"under bare","value":"","x":3,"y":3,"w":5,"h":5,"disabled":false},
    {"i":4,"role":"text","label":"T","value":"","x":3,"y":3,"w":5,"h":5,"disabled":false},
    {"i":5,"role":"heading","label":"H","value":"","x":3,"y":3,"w":5,"h":5,"disabled":false},
    {"i":6,"role":"checkbox","label":"C","value":"1","x":3,"y":3,"w":5,"h":5,"disabled":false},
    {"i":7,"role":"button","label":"","value":"","x":3,"y":3,"w":5,"h":5,"disabled":false},
    {"i":8,"role":"button","label":"under thin","value":"","x":3,"y":3,"w":5,"h":5,"disabled":false},
    {"i":9,"role":"button","label":"under zero","value":"","x":3,"y":3,"w":5,"h":5,"disabled":false}
  ])");
  EXPECT_EQ(doc["elements"], expected);
  // The window, its 11 children, inner, thinChild and zeroChild; the pruned subtree is not.
  EXPECT_EQ(doc["visited"], 15);
}

TEST(VisitTest, StaticTextIsCountedOnlyWhenItKeepsItsLabel) {
  std::string children, more;
  for (int k = 1; k <= 62; ++k) {
    const std::string id = "s" + std::to_string(k);
    children += (k > 1 ? "," : "") + std::string(R"({"ref": ")") + id + "\"}";
    // s61 has a title and a value: it keeps its value; s62 only a value: no record.
    const std::string texts = k == 61 ? R"("AXTitle": "t61", "AXValue": "v61")"
                                      : R"("AXValue": "v)" + std::to_string(k) + "\"";
    more +=
        (k > 1 ? "," : "") + ("\"" + id + "\": {\"AXRole\": \"AXStaticText\", " + texts +
                              R"(, "AXPosition": {"point": [1, 1]}, "AXSize": {"size": [5, 5]}})");
  }
  children += R"(, {"ref": "h"})";
  more += R"(, "h": {"AXRole": "AXHeading", "AXValue": "late heading",
                     "AXPosition": {"point": [1, 1]}, "AXSize": {"size": [5, 5]}})";
  const json doc = parsed(runScene(windowScene(children, more)));
  ASSERT_EQ(doc["elements"].size(), 62u);
  EXPECT_EQ(doc["elements"][59]["label"], "v60");
  EXPECT_EQ(doc["elements"][60]["label"], "");
  EXPECT_EQ(doc["elements"][60]["value"], "v61");
  EXPECT_EQ(doc["elements"][61]["label"], "late heading");
}

TEST(VisitTest, LimitsStopTheWholeWalk) {
  // A chain 150 levels deep under the window; a menu bar with one title.
  std::string more;
  for (int k = 1; k <= 150; ++k) {
    more +=
        "\"n" + std::to_string(k) + R"(": {"AXRole": "AXButton", "AXTitle": "n)" +
        std::to_string(k) + R"(", "AXPosition": {"point": [1, 1]}, "AXSize": {"size": [5, 5]})" +
        (k < 150 ? R"(, "AXChildren": [{"ref": "n)" + std::to_string(k + 1) + "\"}]" : "") + "},";
  }
  more += R"("bar": {"AXChildren": [{"ref": "m"}]},
    "m": {"AXTitle": "File", "AXPosition": {"point": [0, 0]}, "AXSize": {"size": [30, 0]}})";
  const std::string deep =
      windowScene(R"({"ref": "n1"})", more, R"(, "AXMenuBar": {"ref": "bar"})");
  json doc = parsed(runScene(deep));
  EXPECT_EQ(doc["truncated"], true);
  EXPECT_EQ(doc["visited"], 102);  // depths 0-100, then the tripping visit at depth 101
  ASSERT_EQ(doc["elements"].size(), 101u);
  EXPECT_EQ(doc["elements"][99]["label"], "n100");
  EXPECT_EQ(doc["elements"][100]["label"], "File");  // the menu title is still emitted
  EXPECT_EQ(doc["elements"][100]["h"], 0);

  doc = parsed(runScene(deep, {"--max-elements", "-1"}));
  EXPECT_EQ(doc["visited"], 1);
  EXPECT_EQ(doc["elements"].size(), 0u);

  // The last record of the walk reaching the cap, with no visit after it: not truncated.
  const std::string one = windowScene(R"({"ref": "b"})", button("b", "B"));
  doc = parsed(runScene(one, {"--max-elements", "1"}));
  EXPECT_EQ(doc["truncated"], false);
  EXPECT_EQ(doc["elements"].size(), 1u);
}

TEST(VisitTest, TimeBudgetCountsFromTheStartAndAllowsExactlyTheBudget) {
  // Every request costs 0.25 s. Before the walk: timeout set, attribute set (tStart after
  // these), focused element, focused window, title. The window's visit: elapsed 0.75.
  const std::string scene =
      R"({"clock": {"step": 0.25}, "elements": {"app": {"AXFocusedWindow": {"ref": "w"}},
        "w": {"AXRole": "AXWindow", "AXChildren": [{"ref": "a"}, {"ref": "b"}]},
        "a": {"AXRole": "AXGroup"}, "b": {"AXRole": "AXGroup"}}})";
  // w at 0.75 (ok), its batch -> 1.0; a at 1.0 (ok with budget 1), batch -> 1.25; b trips.
  json doc = parsed(runScene(scene, {"--budget", "1"}));
  EXPECT_EQ(doc["truncated"], true);
  EXPECT_EQ(doc["visited"], 3);
  EXPECT_EQ(doc["ms"], 1500);  // menu-bar read adds 0.25 s
}

TEST(VisitTest, OnlyTheFirstWebAreaMayGiveTheAddress) {
  const std::string more = R"(
    "web1": {"AXRole": "AXWebArea", "AXChildren": [{"ref": "web2"}]},
    "web2": {"AXRole": "AXWebArea", "AXURL": {"url": "https://second.example/"}})";
  json doc = parsed(runScene(windowScene(R"({"ref": "web1"})", more)));
  EXPECT_FALSE(doc.contains("url"));
}

TEST(VisitTest, FocusedElementGetsItsRecordNumber) {
  const std::string focusedB = R"(, "AXFocusedUIElement": {"ref": "b"})";
  const std::string more = button("a", "A") + "," + button("b", "B");
  json doc = parsed(runScene(windowScene(R"({"ref": "a"}, {"ref": "b"})", more, focusedB)));
  EXPECT_EQ(doc["focused"], 2);
  // Focus on an element without a record: no key.
  doc = parsed(runScene(windowScene(R"({"ref": "a"})", more, focusedB)));
  EXPECT_FALSE(doc.contains("focused"));
  // The same element emitted twice: the later number wins.
  doc =
      parsed(runScene(windowScene(R"({"ref": "a"}, {"ref": "b"}, {"ref": "b"})", more, focusedB)));
  EXPECT_EQ(doc["focused"], 3);
}

TEST(VisitTest, CyclesAndAMillionElementsEndWithinTheLimits) {
  Scene scene;
  const uint32_t app = scene.addElement();
  const uint32_t window = scene.addElement();
  scene.app = app;
  scene.elements[app].set("AXFocusedWindow", SceneValue::ofRef(window));
  scene.elements[window].set("AXRole", SceneValue::ofText("AXWindow"));
  // 1000 groups of 1000 leaves, each group ending with a reference back to the window.
  std::vector<SceneValue> groups;
  for (int g = 0; g < 1000; ++g) {
    const uint32_t group = scene.addElement();
    groups.push_back(SceneValue::ofRef(group));
    std::vector<SceneValue> leaves;
    leaves.reserve(1001);
    for (int l = 0; l < 1000; ++l) leaves.push_back(SceneValue::ofRef(scene.addElement()));
    leaves.push_back(SceneValue::ofRef(window));
    scene.elements[group].set("AXChildren", SceneValue::ofList(std::move(leaves)));
  }
  scene.elements[window].set("AXChildren", SceneValue::ofList(std::move(groups)));
  ASSERT_GT(scene.elements.size(), 1'000'000u);
  ScenePlatform platform(std::move(scene));
  const json doc = parsed(runSnapshot(platform, {"--budget", "inf", "--debug"}));
  EXPECT_EQ(doc["truncated"], true);
  EXPECT_EQ(doc["visited"], 20001);
  EXPECT_EQ(doc["debug"]["budget"], std::numeric_limits<double>::max());
}

}  // namespace
}  // namespace ax
