// Drives desktop/kde's KWin client for e2e/kwin_checks.sh:
//   kwin_client PID   prints the window of PID as "ID X Y WIDTH HEIGHT SURFACE_X SURFACE_Y",
//                     activates it, then prints "focused ID" as KWin tells it afterwards.
//   kwin_client seat  keeps a fake input device on the seat, as a desktop's mouse and keyboard
//                     are, until its standard input closes; prints "ready" once it is there.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "desktop/kde/fake_input.h"
#include "desktop/kde/kwin.h"

int main(int argc, char** argv) {
  using namespace mevrik::desktop;
  if (argc != 2) {
    std::fprintf(stderr, "usage: kwin_client PID|seat\n");
    return 2;
  }
  std::string error;
  if (std::string(argv[1]) == "seat") {
    auto input = kde::FakeInput::connect("kwin_client", error);
    if (!input) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    char byte;
    while (read(0, &byte, 1) > 0) {
    }
    return 0;
  }
  const int pid = std::atoi(argv[1]);
  auto kwin = kde::KWin::connect(error);
  if (!kwin) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const auto workspace = kwin->read();
  if (!workspace) return 1;
  for (const Window& w : workspace->windows) {
    if (w.pid != pid) continue;
    std::printf("%lld %lld %lld %lld %lld %lld %lld\n", static_cast<long long>(w.id),
                static_cast<long long>(w.content.x), static_cast<long long>(w.content.y),
                static_cast<long long>(w.content.width), static_cast<long long>(w.content.height),
                static_cast<long long>(w.surfaceX), static_cast<long long>(w.surfaceY));
    if (!kwin->activate(w.id)) return 1;
    for (const Window& after : kwin->read().value_or(kde::Workspace{}).windows) {
      if (after.focused) std::printf("focused %lld\n", static_cast<long long>(after.id));
    }
    return 0;
  }
  std::fprintf(stderr, "no window of pid %d\n", pid);
  return 1;
}
