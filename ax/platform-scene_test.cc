#include "ax/platform-scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "ax/test_util.h"
#include "common/test_process.h"

namespace ax {
namespace {

using nlohmann::json;

ScenePlatform platformFrom(const std::string& text) {
  std::string error;
  std::optional<Scene> scene = parseScene(text, error);
  EXPECT_TRUE(scene) << error;
  return ScenePlatform(scene ? std::move(*scene) : Scene{});
}

TEST(SceneTest, RefusesMalformedScenes) {
  const char* const bad[] = {
      "",
      "[]",
      "{",
      R"({"trusted": 1})",
      R"({"frontmost": 3})",
      R"({"frontmost": {"pid": "1"}})",
      R"({"frontmost": {"pid": 4294967296}})",
      R"({"frontmost": {"name": null}})",
      R"({"screens": [[0, 0, 10]]})",
      R"({"screens": [[0, 0, 10, "wide"]]})",
      R"({"screens": {}})",
      R"({"clock": {"step": "1"}})",
      R"({"app": 3})",
      R"({"elements": []})",
      R"({"elements": {"a": 1}})",
      R"({"elements": {"a": {"batch": "sometimes"}}})",
      R"({"elements": {"a": {"AXSize": {"size": [1]}}}})",
      R"({"elements": {"a": {"AXSize": {}}}})",
      R"({"elements": {"a": {"AXSize": {"ref": "b", "url": "c"}}}})",
      R"({"elements": {"a": {"AXSize": {"ref": 3}}}})",
      R"({"elements": {"a": {"AXValue": {"fails": 0}}}})",
      R"({"elements": {"a": {"AXValue": {"fails": 1.5}}}})",
      R"({"elements": {"a": {"AXValue": {"novalue": false}}}})",
      R"({"elements": {"a": {"AXChildren": [{"fails": -1}]}}})",
      R"({"elements": {"a": {"AXValue": {"axerror": "x"}}}})",
      "{\"elements\": {\"a\": {\"AXTitle\": \"\xff\"}}}",
  };
  for (const char* text : bad) {
    std::string error;
    EXPECT_FALSE(parseScene(text, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  std::string deep =
      R"({"elements": {"a": {"AXValue": )" + std::string(300, '[') + std::string(300, ']') + "}}}";
  std::string error;
  EXPECT_FALSE(parseScene(deep, error));
}

TEST(SceneTest, ReadsValuesAsTheFormatSays) {
  ScenePlatform p = platformFrom(R"({"notes": "ignored", "elements": {"app": {
    "int": 12, "neg": -3, "real": -3.5, "two": 2.0, "exp": 1e5, "big": 18446744073709551615,
    "yes": true, "zero": 0, "nul": null, "pt": {"point": ["inf", "-inf"]},
    "sz": {"size": [1, "nan"]}, "rect": {"rect": [0, 0, 1, 1]}, "err": {"axerror": -25201},
    "url": {"url": "u"}, "att": {"attributed": "a"}, "fails": {"fails": -25204},
    "none": {"novalue": true}, "list": [{"ref": "x"}, 1], "note": {"ref": "x", "why": "a note"}}}})");
  const Element app = p.createApplicationElement(1);
  const auto read = [&](const char* name) { return p.copyAttributeValue(app, name); };
  EXPECT_EQ(read("int").value->kind, Value::Kind::kInteger);
  EXPECT_EQ(read("int").value->integer, 12);
  EXPECT_EQ(read("neg").value->integer, -3);
  EXPECT_EQ(read("real").value->kind, Value::Kind::kReal);
  EXPECT_EQ(read("two").value->kind, Value::Kind::kReal);
  EXPECT_EQ(read("exp").value->kind, Value::Kind::kReal);
  EXPECT_EQ(read("big").value->kind, Value::Kind::kReal);
  EXPECT_EQ(read("yes").value->kind, Value::Kind::kBoolean);
  EXPECT_EQ(read("zero").value->kind, Value::Kind::kInteger);
  EXPECT_EQ(read("nul").value->kind, Value::Kind::kNull);
  EXPECT_TRUE(std::isinf(read("pt").value->a));
  EXPECT_TRUE(std::isnan(read("sz").value->b));
  EXPECT_EQ(read("rect").value->kind, Value::Kind::kAxOther);
  EXPECT_EQ(read("err").value->integer, -25201);
  EXPECT_EQ(read("url").value->kind, Value::Kind::kUrl);
  EXPECT_EQ(read("att").value->kind, Value::Kind::kAttributed);
  EXPECT_EQ(read("fails").code, -25204);
  EXPECT_EQ(read("none").code, 0);
  EXPECT_FALSE(read("none").value);
  EXPECT_EQ(read("missing").code, kNoValue);
  EXPECT_EQ(read("list").value->list[0].kind, Value::Kind::kElement);
  EXPECT_TRUE(p.isEqual(read("list").value->list[0].element, read("note").value->element));
  EXPECT_FALSE(p.isEqual(read("list").value->list[0].element, app));
  // The unlisted element "x" has no attributes.
  EXPECT_EQ(p.copyAttributeValue(read("note").value->element, "AXRole").code, kNoValue);

  const BatchResult batch = p.copyMultipleAttributeValues(app, {"fails", "none", "missing", "int"});
  ASSERT_TRUE(batch.values);
  ASSERT_EQ(batch.values->size(), 4u);
  EXPECT_EQ((*batch.values)[0]->kind, Value::Kind::kAxError);
  EXPECT_EQ((*batch.values)[0]->integer, -25204);
  EXPECT_FALSE((*batch.values)[1]);
  EXPECT_EQ((*batch.values)[2]->integer, kNoValue);
  EXPECT_EQ((*batch.values)[3]->integer, 12);
}

TEST(SceneTest, ClockAdvancesPerRequestAndBySleeping) {
  ScenePlatform p = platformFrom(R"({"clock": {"step": 0.5}, "elements": {"app": {}}})");
  const Element app = p.createApplicationElement(1);
  EXPECT_EQ(p.now(), 0);
  p.setMessagingTimeout(app, 0.6f);
  p.setBooleanAttribute(app, "AXManualAccessibility", true);
  p.copyAttributeValue(app, "AXRole");
  p.copyMultipleAttributeValues(app, {"AXRole", "AXTitle"});
  p.isEqual(app, app);
  p.frontmostApplication();
  EXPECT_EQ(p.now(), 2);
  p.sleepFor(1.25);
  EXPECT_EQ(p.now(), 3.25);
  EXPECT_EQ(p.now(), 3.25);
}

// ---- The scenes folder, replayed through the real vantic-ax-replay. ----

mevrik::ProcessResult runReplay(std::vector<std::string> args) {
  args.insert(args.begin(), AX_REPLAY_PATH);
  return mevrik::runProcess(std::move(args));
}

// Byte rules a JSON reader would not notice: one line, one trailing line feed, solidus escaped,
// no \u escapes except for control characters, integers written as integers.
void expectByteRules(const std::string& out, const std::string& name) {
  ASSERT_FALSE(out.empty()) << name;
  EXPECT_EQ(out.find('\n'), out.size() - 1) << name;
  for (size_t k = 0; k < out.size(); ++k) {
    if (out[k] == '\\') {
      ++k;
      if (k < out.size() && out[k] == 'u') {
        EXPECT_TRUE(out.compare(k + 1, 2, "00") == 0 && out[k + 3] <= '1') << name;
      }
    } else {
      EXPECT_NE(out[k], '/') << name << ": unescaped solidus at " << k;
    }
  }
  const json doc = json::parse(out, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << name;
  if (!doc.contains("elements")) return;
  for (const char* key : {"visited", "ms", "focused"}) {
    if (doc.contains(key)) {
      EXPECT_TRUE(doc[key].is_number_integer()) << name << " " << key;
    }
  }
  for (const json& record : doc["elements"]) {
    EXPECT_EQ(record.size(), record.contains("path") ? 10u : 9u) << name;
    for (const char* key : {"i", "x", "y", "w", "h"}) {
      EXPECT_TRUE(record[key].is_number_integer()) << name << " " << key;
    }
  }
}

// A usage error (no expected output) must say something on standard error instead.
TEST(SceneFilesTest, ReplayPrintsTheExpectedDocuments) {
  const std::vector<SceneFile> scenes = sceneFiles(AX_SCENES_DIR);
  ASSERT_GE(scenes.size(), 10u);
  for (const SceneFile& scene : scenes) {
    const std::string& name = scene.name;
    const std::string& expectedOut = scene.out;
    std::vector<std::string> args = {scene.path.string()};
    args.insert(args.end(), scene.args.begin(), scene.args.end());

    const mevrik::ProcessResult got = runReplay(args);
    EXPECT_EQ(std::to_string(got.status), scene.status) << name;
    if (expectedOut.empty()) {
      EXPECT_EQ(got.out, "") << name;
      EXPECT_FALSE(got.err.empty()) << name;
      continue;
    }
    EXPECT_EQ(got.err, "") << name;
    expectByteRules(got.out, name);
    expectByteRules(expectedOut, name + ".expected");
    EXPECT_EQ(json::parse(got.out, nullptr, false), json::parse(expectedOut, nullptr, false))
        << name << "\n got: " << got.out << "want: " << expectedOut;
  }
}

TEST(SceneFilesTest, UnreadableSceneIsAUsageError) {
  mevrik::ProcessResult got = runReplay({});
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.out, "");
  EXPECT_NE(got.err.find("usage"), std::string::npos);
  got = runReplay({"/nonexistent/scene.json"});
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.out, "");
  EXPECT_FALSE(got.err.empty());
}

}  // namespace
}  // namespace ax
