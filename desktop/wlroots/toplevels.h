// The toplevel windows of a wlroots compositor, for compositors without sway's IPC: the list with
// titles, app ids and states, and activation (wlr-foreign-toplevel-management, version 3). The
// protocol tells neither a window's place nor its process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mevrik::desktop::wlroots {

struct Toplevel {
  uint32_t key = 0;  // names the window to activate() for as long as the connection lasts
  std::string title;
  std::string appId;
  bool activated = false;
  bool minimized = false;
  bool maximized = false;
  bool fullscreen = false;
};

class Toplevels {
 public:
  // Connects to $WAYLAND_DISPLAY and reads the list. None, with the reason in `error`, when the
  // compositor cannot be reached or does not offer the protocol.
  static std::unique_ptr<Toplevels> connect(std::string& error);
  ~Toplevels();
  Toplevels(const Toplevels&) = delete;
  Toplevels& operator=(const Toplevels&) = delete;

  // The windows as the compositor last described them, in the order it announced them (the
  // order they were opened in).
  std::vector<Toplevel> list() const;
  // Asks the compositor to activate the window (bringing it back first when minimised), for the
  // seat's keyboard. False when the window is gone or the compositor has no seat.
  bool activate(uint32_t key);
  // Waits up to `seconds` for the compositor's next word about the windows; false when none came
  // or the connection broke.
  bool waitForChange(double seconds);

  struct State;

 private:
  explicit Toplevels(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace mevrik::desktop::wlroots
