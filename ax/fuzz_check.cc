#include "ax/fuzz_check.h"

#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

#include "ax/platform-scene.h"
#include "ax/snapshot.h"

namespace ax {

FuzzOutcome checkFuzzInput(const uint8_t* data, size_t size, std::string& why) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  std::string_view sceneText = input;
  if (const size_t nul = input.find('\0'); nul != std::string_view::npos) {
    std::string_view options = input.substr(0, nul);
    sceneText = input.substr(nul + 1);
    while (true) {
      const size_t end = options.find('\n');
      args.emplace_back(options.substr(0, end));
      if (end == std::string_view::npos) break;
      options.remove_prefix(end + 1);
    }
  }

  std::string error;
  std::optional<Scene> scene = parseScene(sceneText, error);
  if (!scene) return FuzzOutcome::kSkipped;
  ScenePlatform platform(std::move(*scene));
  const RunResult result = runSnapshot(platform, args);

  const std::string out = result.document + "\n";
  if (result.status != kExitOk && result.status != kExitNotTrusted &&
      result.status != kExitNoFrontmost) {
    why = "exit status " + std::to_string(result.status);
    return FuzzOutcome::kFailed;
  }
  if (out.find('\n') != out.size() - 1) {
    why = "the output is not one line followed by one line feed";
    return FuzzOutcome::kFailed;
  }
  if (!nlohmann::json::accept(result.document)) {
    why = "the output is not valid JSON: " + result.document.substr(0, 200);
    return FuzzOutcome::kFailed;
  }
  return FuzzOutcome::kChecked;
}

}  // namespace ax
