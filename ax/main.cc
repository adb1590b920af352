// vantic-ax: one snapshot of the frontmost application's interface, as one line of JSON.
#include <string>
#include <vector>

#include "ax/platform.h"
#include "ax/snapshot.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const std::unique_ptr<ax::Platform> platform = ax::createSystemPlatform();
  const ax::RunResult result = ax::runSnapshot(*platform, args);
  ax::writeRunResult(1, result);
  return result.status;
}
