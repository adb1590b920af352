// vantic-act: invokes one element's own action by the path a snapshot printed, and prints the
// element's state afterwards as one line of JSON.
#include <cstdio>
#include <string>
#include <vector>

#include "act/act.h"
#include "ax/platform.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const std::unique_ptr<ax::Platform> platform = ax::createSystemPlatform();
  const ax::RunResult result = act::runAct(*platform, args);
  ax::writeRunResult(1, result);
  if (result.status == act::kExitUsage) std::fputs(act::kUsage, stderr);
  return result.status;
}
