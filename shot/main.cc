// vantic-shot: writes a PNG of the frontmost window (or of a screen rectangle) and prints one
// report line. The core does the work; this front connects it to the system.
#include <cstdio>
#include <string>
#include <vector>

#include "common/exit_status.h"
#include "shot/platform.h"
#include "shot/shot.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  // Bad arguments get the usage text even where the window system is out of reach.
  auto arguments = shot::readArguments(args);
  if (!arguments) return mevrik::finish(shot::usage());
  std::string error;
  auto platform = shot::createSystemPlatform(error);
  if (!platform) {
    std::fprintf(stderr, "vantic-shot: %s\n", error.c_str());
    return mevrik::exit_status::shot::kFailed;
  }
  return mevrik::finish(shot::perform(*platform, *arguments));
}
