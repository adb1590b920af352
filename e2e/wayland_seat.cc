// Keeps a virtual pointer and keyboard on the seat of a headless compositor for as long as the
// compositor runs, as a desktop's mouse and keyboard would be. Without them every tool run would
// add the seat's first pointer or keyboard, which applications learn of only after a while.
#include <cstdio>
#include <string>

#include "desktop/wlroots/client.h"

int main() {
  using mevrik::desktop::wlroots::Client;
  std::string error;
  auto client = Client::connect(Client::kPointer | Client::kKeyboard, error);
  if (!client || !client->setKeymap("xkb_keymap { xkb_keycodes { minimum = 8; maximum = 255; }; "
                                    "xkb_types { include \"complete\" }; "
                                    "xkb_compatibility { include \"complete\" }; "
                                    "xkb_symbols { }; };")) {
    std::fprintf(stderr, "wayland_seat: %s\n", error.c_str());
    return 1;
  }
  std::puts("ready");
  std::fflush(stdout);
  client->waitForEnd();
  return 0;
}
