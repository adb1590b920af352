// vantic-ax-replay SCENE.json [vantic-ax options...]: runs the whole vantic-ax flow against a
// scene file and prints exactly what vantic-ax would print, with the same exit status. A scene
// that cannot be read or parsed is a usage error of this tool: a message on standard error and
// status 2, nothing on standard output.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ax/platform-scene.h"
#include "ax/snapshot.h"

namespace {

constexpr int kExitUsage = mevrik::exit_status::ax::kUsage;

int usageError(const std::string& message) {
  std::fprintf(stderr, "vantic-ax-replay: %s\n", message.c_str());
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usageError("usage: vantic-ax-replay SCENE.json [vantic-ax options...]");
  const std::string path = argv[1];
  std::ifstream file(path, std::ios::binary);
  if (!file) return usageError("cannot read " + path + ": " + std::strerror(errno));
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return usageError("cannot read " + path);

  std::string error;
  std::optional<ax::Scene> scene = ax::parseScene(text.str(), error);
  if (!scene) return usageError(path + ": " + error);

  ax::ScenePlatform platform(std::move(*scene));
  const std::vector<std::string> args(argv + 2, argv + argc);
  const ax::RunResult result = ax::runSnapshot(platform, args);
  ax::writeRunResult(1, result);
  return result.status;
}
