// The scene backend: a scripted application for tests, fuzzing, benchmarks and bug reports.
//
// A scene is a JSON text (its format: ax/scenes/README.md) or a Scene built in memory. It
// answers the trust check, the frontmost application, the screens and every attribute read from
// its script, and keeps a fake clock that advances by a fixed step on every request to an
// element and by the time slept. Nothing here touches the real desktop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ax/platform.h"

namespace ax {

// An attribute value as the scene scripts it. `Ref` holds the index of an element of the scene;
// `Fails` and `NoValue` describe the read itself rather than a value.
struct SceneValue {
  enum class Kind : uint8_t {
    kNull,
    kText,
    kInteger,
    kReal,
    kBoolean,
    kUrl,
    kAttributed,
    kPoint,
    kSize,
    kRect,
    kAxError,
    kRef,
    kList,
    kFails,
    kNoValue,
  };
  Kind kind = Kind::kNull;
  uint32_t ref = 0;
  int64_t integer = 0;  // Integer, AxError and Fails codes; Boolean as 0 or 1
  double a = 0;         // Real, Point, Size
  double b = 0;
  std::string text{};
  std::vector<SceneValue> list{};

  static SceneValue null() { return SceneValue{}; }
  static SceneValue ofText(std::string t, Kind kind = Kind::kText);
  static SceneValue ofInteger(int64_t i);
  static SceneValue ofReal(double d);
  static SceneValue ofBoolean(bool flag);
  static SceneValue ofPoint(double x, double y);
  static SceneValue ofSize(double w, double h);
  static SceneValue ofRef(uint32_t index);
  static SceneValue ofList(std::vector<SceneValue> entries);
  static SceneValue ofFails(int32_t code);
  static SceneValue ofNoValue();
  static SceneValue ofAxError(int64_t code);
  static SceneValue ofRect();
};

struct SceneElement {
  enum class Batch : uint8_t { kNormal, kFail, kShort };
  std::vector<std::pair<std::string, SceneValue>> attributes;
  Batch batch = Batch::kNormal;
  // The actions performAction accepts ("actions": ["press", "focus", "set-text"]).
  std::vector<Platform::Action> actions;

  // Sets (or replaces) one attribute.
  void set(const std::string& name, SceneValue value);
  const SceneValue* find(const std::string& name) const;
  SceneValue* find(const std::string& name);
};

struct Scene {
  bool trusted = true;
  std::optional<FrontmostApplication> frontmost =
      FrontmostApplication{1, std::nullopt, std::nullopt};
  std::vector<Rect> screens = {Rect{0, 0, 1440, 900}};
  double clockStep = 0;
  uint32_t app = 0;  // index of the application element
  std::vector<SceneElement> elements;
  // Other running applications ("applications"), which --pid can name, and top-level windows
  // ("windows"), which --window can name.
  struct Application {
    FrontmostApplication info;
    uint32_t app = 0;
  };
  std::vector<Application> applications;
  struct Window {
    uint64_t id = 0;
    int32_t pid = 0;
    std::optional<uint32_t> element;
  };
  std::vector<Window> windows;

  // Appends an element without attributes and returns its index.
  uint32_t addElement();
};

// Parses a scene text. On failure returns none and sets `error` to a one-line reason.
std::optional<Scene> parseScene(std::string_view text, std::string& error);

class ScenePlatform : public Platform {
 public:
  explicit ScenePlatform(Scene scene);

  bool isProcessTrusted() override;
  bool isProcessTrustedWithPrompt() override;
  std::string notTrustedMessage() override;
  std::optional<FrontmostApplication> frontmostApplication() override;
  std::vector<Rect> screens() override;
  std::optional<FrontmostApplication> applicationWithPid(int32_t pid) override;
  std::optional<FrontmostApplication> applicationOfWindow(uint64_t window) override;
  Element windowElement(const Element& app, uint64_t window) override;
  Element createApplicationElement(int32_t pid) override;
  void setMessagingTimeout(const Element& app, float seconds) override;
  void setBooleanAttribute(const Element& element, const std::string& name, bool value) override;
  ReadResult copyAttributeValue(const Element& element, const std::string& name) override;
  BatchResult copyMultipleAttributeValues(const Element& element,
                                          const std::vector<std::string>& names) override;
  bool isEqual(const Element& a, const Element& b) override;
  // press flips a 0/1 or boolean AXValue, focus makes the element every application's
  // AXFocusedUIElement, set-text sets AXValue to the text; each only when the element lists it.
  int32_t performAction(const Element& element, Action action, const std::string& text) override;
  Element refreshed(const Element& element) override { return element; }
  void sleepFor(double seconds) override;
  double now() override;

  // What the fake saw, for tests.
  int64_t requestCount() const { return requests_; }
  double sleptSeconds() const { return slept_; }
  std::optional<float> messagingTimeout() const { return messagingTimeout_; }
  bool manualAccessibilitySet() const { return manualAccessibility_; }
  int64_t actionCount() const { return actions_; }

 private:
  void request() {
    ++requests_;
    clock_ += scene_.clockStep;
  }
  const SceneElement* lookup(const Element& element) const;
  const Element& handle(uint32_t index);
  Value toValue(const SceneValue& value);

  Scene scene_;
  std::vector<Element> handles_;  // one shared handle per element, made on first use
  double clock_ = 0;
  double slept_ = 0;
  int64_t requests_ = 0;
  std::optional<float> messagingTimeout_;
  bool manualAccessibility_ = false;
  int64_t actions_ = 0;
};

}  // namespace ax
