// The macOS backend on the Apple stand-in: every scene, translated into the stand-in's element
// tree, must give the scene backend's document byte for byte, and release every object it got.
#include "ax/platform-mac.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "act/act.h"
#include "ax/platform-scene.h"
#include "ax/snapshot.h"
#include "ax/test_util.h"
#include "standin.h"

namespace ax {

namespace {
const Scene* gScene = nullptr;  // the scene the stand-in world was built from
}  // namespace

std::optional<FrontmostApplication> workspaceFrontmostApplication() {
  return gScene->frontmost;
}
std::optional<FrontmostApplication> workspaceApplication(int32_t pid) {
  if (gScene->frontmost && gScene->frontmost->pid == pid) return gScene->frontmost;
  for (const Scene::Application& app : gScene->applications) {
    if (app.info.pid == pid) return app.info;
  }
  return std::nullopt;
}
std::vector<Rect> workspaceScreens() {
  return gScene->screens;
}

namespace {

using mevrik::CFRef;

// The settle pause moves the stand-in's clock instead of blocking.
class StandinMac : public MacPlatform {
 public:
  void sleepFor(double seconds) override { standin::advanceClock(seconds); }
};

// A scene value as the Accessibility API would hand it out (+1).
CFTypeRef toCF(const SceneValue& v) {
  using K = SceneValue::Kind;
  switch (v.kind) {
    case K::kText:
      return mevrik::cfString(v.text).release();
    case K::kInteger:
      return CFNumberCreate(nullptr, kCFNumberSInt64Type, &v.integer);
    case K::kReal:
      return CFNumberCreate(nullptr, kCFNumberDoubleType, &v.a);
    case K::kBoolean:
      return CFRetain(v.integer ? kCFBooleanTrue : kCFBooleanFalse);
    case K::kUrl: {
      const CFRef<CFStringRef> text = mevrik::cfString(v.text);
      return CFURLCreateWithString(nullptr, text.get(), nullptr);
    }
    case K::kAttributed: {
      const CFRef<CFStringRef> text = mevrik::cfString(v.text);
      CFRef<CFDictionaryRef> none(CFDictionaryCreate(nullptr, nullptr, nullptr, 0,
                                                     &kCFTypeDictionaryKeyCallBacks,
                                                     &kCFTypeDictionaryValueCallBacks));
      return CFAttributedStringCreate(nullptr, text.get(), none.get());
    }
    case K::kPoint: {
      const CGPoint p{v.a, v.b};
      return AXValueCreate(kAXValueTypeCGPoint, &p);
    }
    case K::kSize: {
      const CGSize s{v.a, v.b};
      return AXValueCreate(kAXValueTypeCGSize, &s);
    }
    case K::kRect: {
      const CGRect r{{0, 0}, {0, 0}};
      return AXValueCreate(kAXValueTypeCGRect, &r);
    }
    case K::kAxError: {
      const AXError code = static_cast<AXError>(v.integer);
      return AXValueCreate(kAXValueTypeAXError, &code);
    }
    case K::kRef:
      return standin::createElement(v.ref);
    case K::kList: {
      std::vector<CFRef<CFTypeRef>> owned;
      std::vector<const void*> entries;
      for (const SceneValue& entry : v.list) {
        owned.emplace_back(toCF(entry));
        entries.push_back(owned.back().get());
      }
      return CFArrayCreate(nullptr, entries.data(), static_cast<CFIndex>(entries.size()),
                           &kCFTypeArrayCallBacks);
    }
    case K::kNull:
    case K::kFails:
    case K::kNoValue:
      break;
  }
  return CFRetain(kCFNull);
}

void buildWorld(const Scene& scene) {
  standin::reset();
  gScene = &scene;
  standin::setTrusted(scene.trusted);
  standin::setClockStep(scene.clockStep);
  standin::setApplication(scene.app);
  for (const Scene::Application& app : scene.applications) {
    if (!(scene.frontmost && scene.frontmost->pid == app.info.pid)) {
      standin::setApplication(app.info.pid, app.app);
    }
  }
  std::vector<standin::WindowInfo> windows;
  for (const Scene::Window& w : scene.windows) {
    // The window server's entry: the element's title and frame.
    standin::WindowInfo info;
    info.pid = w.pid;
    info.number = static_cast<uint32_t>(w.id);
    if (w.element) {
      const SceneElement& e = scene.elements[*w.element];
      const SceneValue* title = e.find("AXTitle");
      const SceneValue* pos = e.find("AXPosition");
      const SceneValue* size = e.find("AXSize");
      if (title && title->kind == SceneValue::Kind::kText) info.name = title->text;
      if (pos && size) info.bounds = CGRect{{pos->a, pos->b}, {size->a, size->b}};
    }
    windows.push_back(info);
  }
  standin::setWindows(windows);
  for (const SceneElement& element : scene.elements) {
    const uint32_t number = standin::addElement();
    std::vector<std::string> actions, settable;
    for (const Platform::Action action : element.actions) {
      if (action == Platform::Action::kPress) actions.push_back("AXPress");
      if (action == Platform::Action::kFocus) settable.push_back("AXFocused");
      if (action == Platform::Action::kSetText) settable.push_back("AXValue");
    }
    standin::setActions(number, actions);
    standin::setSettable(number, settable);
    standin::setBatch(number, element.batch == SceneElement::Batch::kFail ? standin::Batch::kFail
                              : element.batch == SceneElement::Batch::kShort
                                  ? standin::Batch::kShort
                                  : standin::Batch::kNormal);
    for (const auto& [name, value] : element.attributes) {
      if (value.kind == SceneValue::Kind::kFails) {
        standin::setAttributeFailure(number, name, static_cast<AXError>(value.integer));
      } else if (value.kind == SceneValue::Kind::kNoValue) {
        standin::setAttribute(number, name, nullptr);
      } else {
        const CFRef<CFTypeRef> cf(toCF(value));
        standin::setAttribute(number, name, cf.get());
      }
    }
  }
}

struct Case {
  std::string name;
  std::string scene;
  std::vector<std::string> args;
};

// The scenes with the options of their expected runs, and the fuzzer's seed inputs (options, a
// NUL, then the scene).
std::vector<Case> cases() {
  std::vector<Case> out;
  for (const SceneFile& file : sceneFiles(AX_SCENES_DIR)) {
    out.push_back(Case{file.name, slurp(file.path), file.args});
  }
  for (const auto& entry : std::filesystem::directory_iterator(AX_FUZZ_CORPUS_DIR)) {
    const std::string input = slurp(entry.path());
    Case c{entry.path().filename().string(), input, {}};
    if (const size_t nul = input.find('\0'); nul != std::string::npos) {
      std::istringstream options(input.substr(0, nul));
      for (std::string line; std::getline(options, line);) c.args.push_back(line);
      c.scene = input.substr(nul + 1);
    }
    out.push_back(std::move(c));
  }
  return out;
}

TEST(MacBackend, EverySceneGivesTheSceneBackendsDocument) {
  int compared = 0;
  for (const Case& c : cases()) {
    std::string error;
    const std::optional<Scene> scene = parseScene(c.scene, error);
    if (!scene) continue;  // a scene the replay tool refuses has no document to compare
    ScenePlatform scenePlatform(*scene);
    const RunResult want = runSnapshot(scenePlatform, c.args);

    buildWorld(*scene);
    const int64_t live = standin::liveReferences();
    RunResult got;
    {
      StandinMac mac;
      got = runSnapshot(mac, c.args);
      if (c.args.empty() && scene->trusted && scene->frontmost) {
        EXPECT_EQ(standin::messagingTimeout(), 0.6f) << c.name;
        EXPECT_EQ(standin::attributesSet(), std::vector<std::string>{"AXManualAccessibility=true"})
            << c.name;
      }
    }
    EXPECT_EQ(got.document, want.document) << c.name;
    EXPECT_EQ(got.status, want.status) << c.name;
    EXPECT_EQ(standin::liveReferences(), live) << c.name << ": references not released";
    ++compared;
  }
  EXPECT_GE(compared, 20);
  standin::reset();
}

// vantic-act on the macOS backend: AXPress, AXFocused and AXValue on the stand-in give the scene
// backend's lines, and every refusal leaves the stand-in untouched.
TEST(MacBackend, ActionsGiveTheSceneBackendsLines) {
  const std::string text = slurp(std::filesystem::path(AX_SCENES_DIR) / "other_app.json");
  const std::vector<std::vector<std::string>> runs = {
      {"0.1", "press", "--pid", "9", "--expect-label", "Remember me"},
      {"0.2", "set-text", "Ada", "--pid", "9"},
      {"0.1", "focus", "--pid", "9"},
      {"1", "press", "--pid", "9"},
      {"0.1", "press", "--pid", "9", "--expect-role", "button"},
      {"0.4", "press", "--pid", "9"},
  };
  for (const auto& args : runs) {
    const Scene scene = sceneFrom(text);
    ScenePlatform scenePlatform(scene);
    const RunResult want = act::runAct(scenePlatform, args);
    buildWorld(scene);
    const int64_t live = standin::liveReferences();
    RunResult got;
    {
      StandinMac mac;
      got = act::runAct(mac, args);
    }
    EXPECT_EQ(got.document, want.document) << args[0] << " " << args[1];
    EXPECT_EQ(got.status, want.status) << args[0] << " " << args[1];
    // (A focus leaves the world holding the new focused element for every application.)
    if (args[1] != "focus") {
      EXPECT_EQ(standin::liveReferences(), live) << args[0] << ": references not released";
    }
  }
  standin::reset();
}

TEST(MacBackend, TheProbeAsksForThePromptOnce) {
  const Scene scene;
  buildWorld(scene);
  standin::setTrusted(false);
  StandinMac mac;
  const RunResult result = runSnapshot(mac, {"--prompt", "--debug"});
  EXPECT_EQ(result.document, "{\"trusted\":false}");
  EXPECT_EQ(result.status, kExitNotTrusted);
  EXPECT_EQ(standin::promptCount(), 1);
}

}  // namespace
}  // namespace ax
