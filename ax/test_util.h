// Helpers shared by the snapshot tests: run a scene text through the whole tool, read the scene
// files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
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

// A file's whole content.
inline std::string slurp(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// One scene of a scenes folder and the run its NAME.expected describes: a line "args: [JSON
// list]", a line "status: N", then the exact standard output (empty for a usage error).
struct SceneFile {
  std::filesystem::path path;
  std::string name;
  std::vector<std::string> args;
  std::string status;
  std::string out;
};

// The scenes of `folder` in the order of their names.
inline std::vector<SceneFile> sceneFiles(const std::filesystem::path& folder) {
  std::vector<SceneFile> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".json") continue;
    std::filesystem::path expectedPath = entry.path();
    const std::string expected = slurp(expectedPath.replace_extension(".expected"));
    std::istringstream lines(expected);
    std::string argsLine, statusLine;
    std::getline(lines, argsLine);
    std::getline(lines, statusLine);
    SceneFile file{entry.path(), entry.path().stem().string(), {}, "", ""};
    EXPECT_EQ(argsLine.rfind("args: ", 0), 0u) << file.name;
    EXPECT_EQ(statusLine.rfind("status: ", 0), 0u) << file.name;
    for (const auto& a : nlohmann::json::parse(argsLine.substr(6))) file.args.push_back(a);
    file.status = statusLine.substr(8);
    file.out = expected.substr(argsLine.size() + statusLine.size() + 2);
    files.push_back(std::move(file));
  }
  std::sort(files.begin(), files.end(),
            [](const SceneFile& a, const SceneFile& b) { return a.name < b.name; });
  return files;
}

}  // namespace ax
