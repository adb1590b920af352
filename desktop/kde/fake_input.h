// KWin's fake input (org_kde_kwin_fake_input): pointer motion in the output layout, buttons,
// wheel steps and keys of the seat's keymap, sent to the seat as a device would send them. KWin
// offers the protocol only to programs whose desktop entry lists it in X-KDE-Wayland-Interfaces
// (Mevrik's package installs one for each tool). One connection per tool run; requests are
// queued and leave together on flush().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace mevrik::desktop::kde {

class FakeInput {
 public:
  // Connects to $WAYLAND_DISPLAY and authenticates as `application`. None, with the reason in
  // `error`, when the compositor cannot be reached or does not give this program the protocol.
  static std::unique_ptr<FakeInput> connect(const std::string& application, std::string& error);
  ~FakeInput();
  FakeInput(const FakeInput&) = delete;
  FakeInput& operator=(const FakeInput&) = delete;

  // Absolute motion, in the layout's logical pixels.
  void pointerTo(double x, double y);
  // Linux input codes (BTN_LEFT...).
  void pointerButton(uint32_t button, bool down);
  // Wheel steps: positive is down (vertical) or right (horizontal).
  void pointerWheel(int32_t vertical, int32_t horizontal);
  // A key by its Linux input code (KEY_A...), interpreted through the seat's keymap. False when
  // the compositor's protocol is too old for keys.
  bool key(uint32_t code, bool down);
  bool hasKeys() const;

  // The seat's keymap (XKB text format), which gives fake keys their meaning; none when the
  // seat has no keyboard or the compositor sent none.
  std::optional<std::string> seatKeymap();
  // Reads the compositor's events until the seat's keymap is one that `wanted` accepts (the
  // current one first), for at most `timeoutMs`. KWin sends a new keymap to every client's
  // keyboard at once, so once this client has it, every key sent afterwards reaches the focused
  // client after its copy. False on timeout or when the connection fails.
  bool waitForKeymap(const std::function<bool(const std::string&)>& wanted, int timeoutMs);

  // Sends everything queued; waits until the compositor has handled it when `sync`.
  bool flush(bool sync);
  // Why the connection failed, or "" while it works.
  std::string lostReason();

  struct State;

 private:
  explicit FakeInput(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace mevrik::desktop::kde
