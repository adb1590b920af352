// vantic-click: performs one pointer action at a screen point, puts the real cursor back and
// prints one report line. The core does the work; this front only connects it to the system.
#include <cstdio>
#include <string>
#include <vector>

#include "click/click.h"
#include "click/platform.h"

int main(int argc, char** argv) {
  click::RunState state;
  state.args.assign(argv, argv + argc);
  // Bad arguments get the usage text even where the window system is out of reach.
  if (!click::readArguments(state)) return mevrik::finish(click::usage());
  std::string error;
  auto platform = click::createSystemPlatform(error);
  if (!platform) {
    // Reporting an action that never happened would mislead the caller.
    std::fprintf(stderr, "vantic-click: %s\n", error.c_str());
    return 1;
  }
  const click::RunResult result = click::perform(*platform, state);
  if (const std::string lost = platform->lostReason(); !lost.empty()) {
    std::fprintf(stderr, "vantic-click: %s\n", lost.c_str());
    return 1;
  }
  return mevrik::finish(result);
}
