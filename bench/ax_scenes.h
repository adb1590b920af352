// Generated scenes for the snapshot benchmarks.
#pragma once

#include <string>

#include "ax/platform-scene.h"

namespace axbench {

// A window of `groups` groups with `perGroup` children each, cycling through a button, a static
// text, a text field and an unlabelled image (no record). Every element lies on screen.
inline ax::Scene generatedScene(int groups, int perGroup) {
  using ax::SceneValue;
  ax::Scene scene;
  scene.app = scene.addElement();
  const uint32_t window = scene.addElement();
  scene.elements[scene.app].set("AXFocusedWindow", SceneValue::ofRef(window));
  scene.elements[window].set("AXRole", SceneValue::ofText("AXWindow"));
  scene.elements[window].set("AXTitle", SceneValue::ofText("Generated"));
  std::vector<SceneValue> groupRefs;
  static const char* const kRoles[] = {"AXButton", "AXStaticText", "AXTextField", "AXImage"};
  for (int g = 0; g < groups; ++g) {
    const uint32_t group = scene.addElement();
    groupRefs.push_back(SceneValue::ofRef(group));
    scene.elements[group].set("AXRole", SceneValue::ofText("AXGroup"));
    std::vector<SceneValue> children;
    for (int c = 0; c < perGroup; ++c) {
      const uint32_t e = scene.addElement();
      children.push_back(SceneValue::ofRef(e));
      ax::SceneElement& el = scene.elements[e];
      el.set("AXRole", SceneValue::ofText(kRoles[c % 4]));
      el.set("AXPosition", SceneValue::ofPoint(10 + c % 50 * 20, 10 + g * 8));
      el.set("AXSize", SceneValue::ofSize(18, 7));
      el.set("AXTitle", SceneValue::ofText(c % 4 == 0 ? "Button " + std::to_string(c) : ""));
      el.set("AXValue",
             SceneValue::ofText(
                 c % 4 == 1 ? "Some static text number " + std::to_string(g * perGroup + c) : ""));
      el.set("AXEnabled", SceneValue::ofBoolean(true));
    }
    scene.elements[group].set("AXChildren", SceneValue::ofList(std::move(children)));
  }
  scene.elements[window].set("AXChildren", SceneValue::ofList(std::move(groupRefs)));
  return scene;
}

}  // namespace axbench
