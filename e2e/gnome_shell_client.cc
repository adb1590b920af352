// Drives desktop/gnome's client of Mevrik's GNOME Shell extension for e2e/gnome_extension_test.sh:
//   gnome_shell_client PID   prints the window of PID as "ID X Y WIDTH HEIGHT SURFACE_X SURFACE_Y",
//                            activates it, then prints "focused ID" and "pointer X Y".
#include <cstdio>
#include <cstdlib>
#include <string>

#include "desktop/gnome/shell.h"

int main(int argc, char** argv) {
  using namespace mevrik::desktop;
  if (argc != 2) {
    std::fprintf(stderr, "usage: gnome_shell_client PID\n");
    return 2;
  }
  const int pid = std::atoi(argv[1]);
  std::string error;
  auto shell = gnome::Shell::connect(error);
  if (!shell) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const auto windows = shell->windows();
  if (!windows) return 1;
  for (const Window& w : *windows) {
    if (w.pid != pid) continue;
    std::printf("%lld %lld %lld %lld %lld %lld %lld\n", static_cast<long long>(w.id),
                static_cast<long long>(w.content.x), static_cast<long long>(w.content.y),
                static_cast<long long>(w.content.width), static_cast<long long>(w.content.height),
                static_cast<long long>(w.surfaceX), static_cast<long long>(w.surfaceY));
    if (!shell->activate(w.id)) return 1;
    const auto focused = shell->focused();
    std::printf("focused %lld\n", focused ? static_cast<long long>(focused->id) : -1LL);
    const auto pointer = shell->pointer();
    if (!pointer) return 1;
    std::printf("pointer %lld %lld\n", static_cast<long long>(pointer->x),
                static_cast<long long>(pointer->y));
    return 0;
  }
  std::fprintf(stderr, "no window of pid %d\n", pid);
  return 1;
}
