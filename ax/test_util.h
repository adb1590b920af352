// Helpers shared by the snapshot tests: run a scene text through the whole tool.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ax/platform-scene.h"
#include "ax/snapshot.h"

namespace ax {

inline Scene sceneFrom(const std::string& text) {
  std::string error;
  std::optional<Scene> scene = parseScene(text, error);
  EXPECT_TRUE(scene) << error;
  return scene ? std::move(*scene) : Scene{};
}

inline RunResult runScene(const std::string& text, const std::vector<std::string>& args = {}) {
  ScenePlatform platform(sceneFrom(text));
  return runSnapshot(platform, args);
}

inline nlohmann::json parsed(const RunResult& result) {
  nlohmann::json doc = nlohmann::json::parse(result.document, nullptr, false);
  EXPECT_FALSE(doc.is_discarded()) << result.document;
  return doc;
}

}  // namespace ax
