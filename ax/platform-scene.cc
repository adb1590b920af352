#include "ax/platform-scene.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>

namespace ax {
namespace {

using Json = nlohmann::json;

// A request for a whole batch that the scene makes fail ("batch": "fail"): the generic failure.
constexpr int32_t kBatchFailure = -25200;
// Lists may nest; deeper than this the scene is refused rather than recursing without bound.
constexpr int kMaxNesting = 256;

class SceneElementRef : public ElementRef {
 public:
  explicit SceneElementRef(uint32_t index) : index(index) {}
  const uint32_t index;
};

const SceneElementRef* sceneRef(const Element& element) {
  return dynamic_cast<const SceneElementRef*>(element.get());
}

// Turns the JSON of a scene into a Scene, collecting the first error.
class SceneReader {
 public:
  explicit SceneReader(Scene& scene) : scene_(scene) {}

  bool fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
    return false;
  }
  const std::string& error() const { return error_; }

  uint32_t indexOf(const std::string& id) {
    const auto found = ids_.find(id);
    if (found != ids_.end()) return found->second;
    const uint32_t index = scene_.addElement();
    ids_.emplace(id, index);
    return index;
  }

  bool coordinate(const Json& j, double& out) {
    if (j.is_number()) {
      out = j.get<double>();
      return true;
    }
    if (j.is_string()) {
      const std::string& word = j.get_ref<const std::string&>();
      if (word == "inf")
        out = std::numeric_limits<double>::infinity();
      else if (word == "-inf")
        out = -std::numeric_limits<double>::infinity();
      else if (word == "nan")
        out = std::numeric_limits<double>::quiet_NaN();
      else
        return fail("a coordinate must be a number, \"inf\", \"-inf\" or \"nan\"");
      return true;
    }
    return fail("a coordinate must be a number, \"inf\", \"-inf\" or \"nan\"");
  }

  bool coordinates(const Json& j, size_t count, double* out, const char* what) {
    if (!j.is_array() || j.size() != count) {
      return fail(std::string(what) + " must be a list of " + std::to_string(count) +
                  " coordinates");
    }
    for (size_t k = 0; k < count; ++k) {
      if (!coordinate(j[k], out[k])) return false;
    }
    return true;
  }

  bool integer(const Json& j, int64_t& out) {
    if (j.is_number_unsigned()) {
      const uint64_t u = j.get<uint64_t>();
      if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
      out = static_cast<int64_t>(u);
      return true;
    }
    if (j.is_number_integer()) {
      out = j.get<int64_t>();
      return true;
    }
    return false;
  }

  bool int32(const Json& j, int32_t& out) {
    int64_t wide = 0;
    if (!integer(j, wide) || wide < std::numeric_limits<int32_t>::min() ||
        wide > std::numeric_limits<int32_t>::max()) {
      return false;
    }
    out = static_cast<int32_t>(wide);
    return true;
  }

  // One value. `topLevel`: an attribute's own value, where "fails" and "novalue" may appear.
  bool value(const Json& j, SceneValue& out, bool topLevel, int nesting) {
    if (nesting > kMaxNesting) return fail("values nest too deeply");
    switch (j.type()) {
      case Json::value_t::null:
        out = SceneValue::null();
        return true;
      case Json::value_t::string:
        out = SceneValue::ofText(j.get<std::string>());
        return true;
      case Json::value_t::boolean:
        out = SceneValue::ofBoolean(j.get<bool>());
        return true;
      case Json::value_t::number_integer:
      case Json::value_t::number_unsigned: {
        int64_t i = 0;
        // An integer beyond the 64-bit range reads as a double, as larger literals do.
        out = integer(j, i) ? SceneValue::ofInteger(i) : SceneValue::ofReal(j.get<double>());
        return true;
      }
      case Json::value_t::number_float:
        out = SceneValue::ofReal(j.get<double>());
        return true;
      case Json::value_t::array: {
        std::vector<SceneValue> entries(j.size());
        for (size_t k = 0; k < j.size(); ++k) {
          if (!value(j[k], entries[k], false, nesting + 1)) return false;
        }
        out = SceneValue::ofList(std::move(entries));
        return true;
      }
      case Json::value_t::object:
        return objectValue(j, out, topLevel);
      default:
        return fail("unsupported JSON value");
    }
  }

  bool objectValue(const Json& j, SceneValue& out, bool topLevel) {
    static const char* const kForms[] = {"ref", "point",      "size",  "rect",   "axerror",
                                         "url", "attributed", "fails", "novalue"};
    std::string form;
    for (const char* key : kForms) {
      if (j.contains(key)) {
        if (!form.empty())
          return fail("a value object has both \"" + form + "\" and \"" + key + "\"");
        form = key;
      }
    }
    if (form.empty())
      return fail(
          "a value object needs one of ref, point, size, rect, axerror, "
          "url, attributed, fails, novalue");
    const Json& arg = j.at(form);
    double c[4] = {0, 0, 0, 0};
    if (form == "ref") {
      if (!arg.is_string()) return fail("\"ref\" must be an element id (a string)");
      out = SceneValue::ofRef(indexOf(arg.get<std::string>()));
    } else if (form == "point" || form == "size") {
      if (!coordinates(arg, 2, c, form == "point" ? "\"point\"" : "\"size\"")) return false;
      out = form == "point" ? SceneValue::ofPoint(c[0], c[1]) : SceneValue::ofSize(c[0], c[1]);
    } else if (form == "rect") {
      if (!coordinates(arg, 4, c, "\"rect\"")) return false;
      out = SceneValue::ofRect();
    } else if (form == "axerror") {
      int64_t code = 0;
      if (!integer(arg, code)) return fail("\"axerror\" must be an integer");
      out = SceneValue::ofAxError(code);
    } else if (form == "url" || form == "attributed") {
      if (!arg.is_string()) return fail("\"" + form + "\" must be a string");
      out =
          SceneValue::ofText(arg.get<std::string>(), form == "url" ? SceneValue::Kind::kUrl
                                                                   : SceneValue::Kind::kAttributed);
    } else if (!topLevel) {
      return fail("\"" + form + "\" may only be an attribute's own value");
    } else if (form == "fails") {
      int32_t code = 0;
      if (!int32(arg, code) || code == 0) return fail("\"fails\" must be a non-zero 32-bit code");
      out = SceneValue::ofFails(code);
    } else {
      if (!arg.is_boolean() || !arg.get<bool>()) return fail("\"novalue\" must be true");
      out = SceneValue::ofNoValue();
    }
    return true;
  }

  bool element(uint32_t index, const Json& j) {
    if (!j.is_object()) return fail("each entry of \"elements\" must be an object");
    for (const auto& [name, attribute] : j.items()) {
      if (name == "batch") {
        if (attribute == "fail")
          scene_.elements[index].batch = SceneElement::Batch::kFail;
        else if (attribute == "short")
          scene_.elements[index].batch = SceneElement::Batch::kShort;
        else
          return fail("\"batch\" must be \"fail\" or \"short\"");
        continue;
      }
      if (name == "actions") {
        if (!actions(index, attribute)) return false;
        continue;
      }
      SceneValue parsed;
      if (!value(attribute, parsed, true, 0)) return false;
      scene_.elements[index].set(name, std::move(parsed));
    }
    return true;
  }

  bool actions(uint32_t index, const Json& j) {
    const char* const reason = "\"actions\" must list \"press\", \"focus\" or \"set-text\"";
    if (!j.is_array()) return fail(reason);
    for (const Json& word : j) {
      if (word == "press") {
        scene_.elements[index].actions.push_back(Platform::Action::kPress);
      } else if (word == "focus") {
        scene_.elements[index].actions.push_back(Platform::Action::kFocus);
      } else if (word == "set-text") {
        scene_.elements[index].actions.push_back(Platform::Action::kSetText);
      } else {
        return fail(reason);
      }
    }
    return true;
  }

  // "applications": [{"pid": N, "name": ..., "bundle": ..., "app": ID}, ...]
  bool applications(const Json& j) {
    const char* const reason =
        "\"applications\" must be a list of {\"pid\", \"name\", \"bundle\", \"app\"}";
    if (!j.is_array()) return fail(reason);
    for (const Json& entry : j) {
      Scene::Application app;
      if (!entry.is_object() || !entry.contains("pid") || !int32(entry.at("pid"), app.info.pid) ||
          !entry.contains("app") || !entry.at("app").is_string()) {
        return fail(reason);
      }
      for (const char* key : {"name", "bundle"}) {
        if (!entry.contains(key)) continue;
        if (!entry.at(key).is_string()) return fail(reason);
        (std::string(key) == "name" ? app.info.name : app.info.bundleId) =
            entry.at(key).get<std::string>();
      }
      app.app = indexOf(entry.at("app").get<std::string>());
      scene_.applications.push_back(std::move(app));
    }
    return true;
  }

  // "windows": [{"id": N, "pid": N, "element": ID}, ...]; "element" is optional.
  bool windows(const Json& j) {
    const char* const reason = "\"windows\" must be a list of {\"id\", \"pid\", \"element\"}";
    if (!j.is_array()) return fail(reason);
    for (const Json& entry : j) {
      Scene::Window window;
      int64_t id = 0;
      if (!entry.is_object() || !entry.contains("id") || !integer(entry.at("id"), id) || id <= 0 ||
          !entry.contains("pid") || !int32(entry.at("pid"), window.pid)) {
        return fail(reason);
      }
      window.id = static_cast<uint64_t>(id);
      if (entry.contains("element")) {
        if (!entry.at("element").is_string()) return fail(reason);
        window.element = indexOf(entry.at("element").get<std::string>());
      }
      scene_.windows.push_back(window);
    }
    return true;
  }

  bool frontmost(const Json& j) {
    if (j.is_null()) {
      scene_.frontmost.reset();
      return true;
    }
    if (!j.is_object()) return fail("\"frontmost\" must be an object or null");
    FrontmostApplication app{1, std::nullopt, std::nullopt};  // the default pid, as without the key
    if (j.contains("pid") && !int32(j.at("pid"), app.pid)) {
      return fail("\"frontmost\" \"pid\" must be a 32-bit integer");
    }
    for (const char* key : {"name", "bundle"}) {
      if (!j.contains(key)) continue;
      if (!j.at(key).is_string())
        return fail(std::string("\"frontmost\" \"") + key + "\" must be a string");
      (std::string(key) == "name" ? app.name : app.bundleId) = j.at(key).get<std::string>();
    }
    scene_.frontmost = std::move(app);
    return true;
  }

  bool read(const Json& root) {
    if (!root.is_object()) return fail("a scene must be a JSON object");
    if (root.contains("trusted")) {
      if (!root.at("trusted").is_boolean()) return fail("\"trusted\" must be true or false");
      scene_.trusted = root.at("trusted").get<bool>();
    }
    if (root.contains("frontmost") && !frontmost(root.at("frontmost"))) return false;
    if (root.contains("screens")) {
      const Json& screens = root.at("screens");
      if (!screens.is_array()) return fail("\"screens\" must be a list of [x, y, w, h]");
      scene_.screens.clear();
      for (const Json& frame : screens) {
        double c[4];
        if (!coordinates(frame, 4, c, "a screen frame")) return false;
        scene_.screens.push_back(Rect{c[0], c[1], c[2], c[3]});
      }
    }
    if (root.contains("clock")) {
      const Json& clock = root.at("clock");
      if (!clock.is_object()) return fail("\"clock\" must be an object");
      if (clock.contains("step")) {
        if (!clock.at("step").is_number()) return fail("\"clock\" \"step\" must be a number");
        scene_.clockStep = clock.at("step").get<double>();
      }
    }
    // Number the listed elements first, so that their indices follow the file.
    const Json* elements = nullptr;
    if (root.contains("elements")) {
      elements = &root.at("elements");
      if (!elements->is_object()) return fail("\"elements\" must be an object");
      for (const auto& entry : elements->items()) indexOf(entry.key());
    }
    std::string appId = "app";
    if (root.contains("app")) {
      if (!root.at("app").is_string()) return fail("\"app\" must be an element id (a string)");
      appId = root.at("app").get<std::string>();
    }
    scene_.app = indexOf(appId);
    if (root.contains("applications") && !applications(root.at("applications"))) return false;
    if (root.contains("windows") && !windows(root.at("windows"))) return false;
    if (elements) {
      for (const auto& entry : elements->items()) {
        if (!element(indexOf(entry.key()), entry.value())) return false;
      }
    }
    return true;
  }

 private:
  Scene& scene_;
  std::map<std::string, uint32_t> ids_;
  std::string error_;
};

}  // namespace

SceneValue SceneValue::ofText(std::string t, Kind kind) {
  return {.kind = kind, .text = std::move(t)};
}
SceneValue SceneValue::ofInteger(int64_t i) {
  return {.kind = Kind::kInteger, .integer = i};
}
SceneValue SceneValue::ofReal(double d) {
  return {.kind = Kind::kReal, .a = d};
}
SceneValue SceneValue::ofBoolean(bool flag) {
  return {.kind = Kind::kBoolean, .integer = flag ? 1 : 0};
}
SceneValue SceneValue::ofPoint(double x, double y) {
  return {.kind = Kind::kPoint, .a = x, .b = y};
}
SceneValue SceneValue::ofSize(double w, double h) {
  return {.kind = Kind::kSize, .a = w, .b = h};
}
SceneValue SceneValue::ofRef(uint32_t index) {
  return {.kind = Kind::kRef, .ref = index};
}
SceneValue SceneValue::ofList(std::vector<SceneValue> entries) {
  return {.kind = Kind::kList, .list = std::move(entries)};
}
SceneValue SceneValue::ofFails(int32_t code) {
  return {.kind = Kind::kFails, .integer = code};
}
SceneValue SceneValue::ofNoValue() {
  return {.kind = Kind::kNoValue};
}
SceneValue SceneValue::ofAxError(int64_t code) {
  return {.kind = Kind::kAxError, .integer = code};
}
SceneValue SceneValue::ofRect() {
  return {.kind = Kind::kRect};
}

void SceneElement::set(const std::string& name, SceneValue value) {
  for (auto& [key, existing] : attributes) {
    if (key == name) {
      existing = std::move(value);
      return;
    }
  }
  attributes.emplace_back(name, std::move(value));
}

const SceneValue* SceneElement::find(const std::string& name) const {
  for (const auto& [key, value] : attributes) {
    if (key == name) return &value;
  }
  return nullptr;
}

SceneValue* SceneElement::find(const std::string& name) {
  for (auto& [key, value] : attributes) {
    if (key == name) return &value;
  }
  return nullptr;
}

uint32_t Scene::addElement() {
  elements.emplace_back();
  return static_cast<uint32_t>(elements.size() - 1);
}

std::optional<Scene> parseScene(std::string_view text, std::string& error) {
  const Json root = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (root.is_discarded()) {
    error = "not a valid JSON text";
    return std::nullopt;
  }
  Scene scene;
  scene.elements.clear();
  SceneReader reader(scene);
  if (!reader.read(root)) {
    error = reader.error();
    return std::nullopt;
  }
  return scene;
}

ScenePlatform::ScenePlatform(Scene scene) : scene_(std::move(scene)) {
  handles_.resize(scene_.elements.size());
}

bool ScenePlatform::isProcessTrusted() {
  return scene_.trusted;
}
bool ScenePlatform::isProcessTrustedWithPrompt() {
  return scene_.trusted;
}

std::string ScenePlatform::notTrustedMessage() {
  return "accessibility not trusted: allow this terminal app in System Settings > Privacy & "
         "Security > Accessibility";
}

std::optional<FrontmostApplication> ScenePlatform::frontmostApplication() {
  return scene_.frontmost;
}

std::vector<Rect> ScenePlatform::screens() {
  return scene_.screens;
}

std::optional<FrontmostApplication> ScenePlatform::applicationWithPid(int32_t pid) {
  if (scene_.frontmost && scene_.frontmost->pid == pid) return scene_.frontmost;
  for (const Scene::Application& app : scene_.applications) {
    if (app.info.pid == pid) return app.info;
  }
  return std::nullopt;
}

std::optional<FrontmostApplication> ScenePlatform::applicationOfWindow(uint64_t window) {
  for (const Scene::Window& w : scene_.windows) {
    if (w.id != window) continue;
    // A window of an application the accessibility service does not know: a name-less one.
    return applicationWithPid(w.pid).value_or(FrontmostApplication{w.pid, {}, {}});
  }
  return std::nullopt;
}

Element ScenePlatform::windowElement(const Element&, uint64_t window) {
  for (const Scene::Window& w : scene_.windows) {
    if (w.id == window && w.element) return handle(*w.element);
  }
  return nullptr;
}

Element ScenePlatform::createApplicationElement(int32_t pid) {
  for (const Scene::Application& app : scene_.applications) {
    if (app.info.pid == pid && !(scene_.frontmost && scene_.frontmost->pid == pid)) {
      return handle(app.app);
    }
  }
  if (scene_.app >= scene_.elements.size()) return nullptr;
  return handle(scene_.app);
}

int32_t ScenePlatform::performAction(const Element& element, Action action,
                                     const std::string& text) {
  request();
  const SceneElementRef* ref = sceneRef(element);
  if (!ref || ref->index >= scene_.elements.size()) return kNoValue;
  SceneElement& target = scene_.elements[ref->index];
  if (std::find(target.actions.begin(), target.actions.end(), action) == target.actions.end()) {
    return kActionUnsupported;
  }
  ++actions_;
  switch (action) {
    case Action::kPress:
      if (SceneValue* value = target.find("AXValue")) {
        if (value->kind == SceneValue::Kind::kInteger ||
            value->kind == SceneValue::Kind::kBoolean) {
          value->integer = value->integer == 0 ? 1 : 0;
        }
      }
      break;
    case Action::kFocus:
      scene_.elements[scene_.app].set("AXFocusedUIElement", SceneValue::ofRef(ref->index));
      for (const Scene::Application& app : scene_.applications) {
        scene_.elements[app.app].set("AXFocusedUIElement", SceneValue::ofRef(ref->index));
      }
      break;
    case Action::kSetText:
      target.set("AXValue", SceneValue::ofText(text));
      break;
  }
  return kSuccess;
}

void ScenePlatform::setMessagingTimeout(const Element&, float seconds) {
  request();
  messagingTimeout_ = seconds;
}

void ScenePlatform::setBooleanAttribute(const Element& element, const std::string& name,
                                        bool value) {
  request();
  const SceneElementRef* ref = sceneRef(element);
  if (name == "AXManualAccessibility" && ref && ref->index == scene_.app) {
    manualAccessibility_ = value;
  }
}

ReadResult ScenePlatform::copyAttributeValue(const Element& element, const std::string& name) {
  request();
  const SceneElement* scripted = lookup(element);
  const SceneValue* value = scripted ? scripted->find(name) : nullptr;
  if (!value) return {kNoValue, std::nullopt};
  if (value->kind == SceneValue::Kind::kFails) return {static_cast<int32_t>(value->integer), {}};
  if (value->kind == SceneValue::Kind::kNoValue) return {kSuccess, std::nullopt};
  return {kSuccess, toValue(*value)};
}

BatchResult ScenePlatform::copyMultipleAttributeValues(const Element& element,
                                                       const std::vector<std::string>& names) {
  request();
  const SceneElement* scripted = lookup(element);
  if (scripted && scripted->batch == SceneElement::Batch::kFail) return {kBatchFailure, {}};
  std::vector<std::optional<Value>> values;
  values.reserve(names.size());
  for (const std::string& name : names) {
    const SceneValue* value = scripted ? scripted->find(name) : nullptr;
    if (!value) {
      values.push_back(Value::ofAxError(kNoValue));
    } else if (value->kind == SceneValue::Kind::kFails) {
      values.push_back(Value::ofAxError(value->integer));
    } else if (value->kind == SceneValue::Kind::kNoValue) {
      values.push_back(std::nullopt);
    } else {
      values.push_back(toValue(*value));
    }
  }
  if (scripted && scripted->batch == SceneElement::Batch::kShort && !values.empty()) {
    values.pop_back();
  }
  return {kSuccess, std::move(values)};
}

bool ScenePlatform::isEqual(const Element& a, const Element& b) {
  const SceneElementRef* left = sceneRef(a);
  const SceneElementRef* right = sceneRef(b);
  return left && right && left->index == right->index;
}

void ScenePlatform::sleepFor(double seconds) {
  clock_ += seconds;
  slept_ += seconds;
}

double ScenePlatform::now() {
  return clock_;
}

const SceneElement* ScenePlatform::lookup(const Element& element) const {
  const SceneElementRef* ref = sceneRef(element);
  if (!ref || ref->index >= scene_.elements.size()) return nullptr;
  return &scene_.elements[ref->index];
}

const Element& ScenePlatform::handle(uint32_t index) {
  if (!handles_[index]) handles_[index] = std::make_shared<SceneElementRef>(index);
  return handles_[index];
}

Value ScenePlatform::toValue(const SceneValue& value) {
  switch (value.kind) {
    case SceneValue::Kind::kText:
      return Value::ofText(value.text);
    case SceneValue::Kind::kInteger:
      return Value::ofInteger(value.integer);
    case SceneValue::Kind::kReal:
      return Value::ofReal(value.a);
    case SceneValue::Kind::kBoolean:
      return Value::ofBoolean(value.integer != 0);
    case SceneValue::Kind::kUrl:
      return Value::ofUrl(value.text);
    case SceneValue::Kind::kAttributed:
      return Value::ofAttributed(value.text);
    case SceneValue::Kind::kPoint:
      return Value::ofPoint(value.a, value.b);
    case SceneValue::Kind::kSize:
      return Value::ofSize(value.a, value.b);
    case SceneValue::Kind::kRect:
      return Value::ofAxOther();
    case SceneValue::Kind::kAxError:
      return Value::ofAxError(value.integer);
    case SceneValue::Kind::kRef:
      // A reference outside the scene's elements (only possible when built in memory) reads as
      // an element without attributes.
      if (value.ref >= scene_.elements.size()) {
        return Value::ofElement(std::make_shared<SceneElementRef>(value.ref));
      }
      return Value::ofElement(handle(value.ref));
    case SceneValue::Kind::kList: {
      std::vector<Value> entries;
      entries.reserve(value.list.size());
      for (const SceneValue& entry : value.list) entries.push_back(toValue(entry));
      return Value::ofList(std::move(entries));
    }
    case SceneValue::Kind::kFails:
    case SceneValue::Kind::kNoValue:
    case SceneValue::Kind::kNull:
      break;
  }
  return Value::null();
}

}  // namespace ax
