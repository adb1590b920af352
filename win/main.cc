// vantic-win: lists, finds, focuses and launches windows and prints one JSON line. The core does
// the work; this front only connects it to the system.
#include <string>
#include <vector>

#include "win/platform.h"
#include "win/win.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  std::string error;
  // Bad arguments get their answer even where the window system is out of reach.
  auto command = win::readArguments(args, error);
  if (!command) return mevrik::finish(win::usage(error));
  auto platform = win::createSystemPlatform(error);
  if (!platform) return mevrik::finish(win::failure(win::kUnreachable, error));
  return mevrik::finish(win::perform(*platform, *command));
}
