// A Wayland client of a wlroots compositor (sway and others) for the tools: a virtual pointer
// (wlr-virtual-pointer), a virtual keyboard with a keymap of its own (virtual-keyboard), and
// output captures (wlr-screencopy). One connection per tool run; requests are queued and leave
// together on flush().
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktop/windows.h"

namespace mevrik::desktop::wlroots {

// Pixels as read from an output, 8-bit RGB, rows top to bottom with no padding.
struct Capture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;
};

class Client {
 public:
  enum Need : unsigned { kPointer = 1, kKeyboard = 2, kScreencopy = 4 };

  // Connects to $WAYLAND_DISPLAY and binds what `needs` asks for. None, with the reason in
  // `error`, when the compositor cannot be reached or lacks one of the protocols.
  static std::unique_ptr<Client> connect(unsigned needs, std::string& error);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // The pointer, in the layout's logical pixels; `layout` is the bounding box of every output,
  // onto which the compositor maps absolute motion. False for a point outside it.
  bool pointerTo(double x, double y, const Box& layout);
  // Linux input codes (BTN_LEFT...).
  void pointerButton(uint32_t button, bool down);
  // Wheel steps: positive is down (vertical) or right (horizontal).
  void pointerWheel(int32_t vertical, int32_t horizontal);

  // Replaces the virtual keyboard's keymap (XKB text format); the seat's other keyboards keep
  // theirs.
  bool setKeymap(const std::string& keymap);
  // A key of that keymap by its XKB key code (8 and up). The compositor does not work out the
  // modifiers from the keys of a virtual keyboard: modifiers() tells it the ones held (the
  // keymap's real modifier bits: Shift 1, Control 4, Mod1 8, Mod4 64).
  void key(uint32_t xkbCode, bool down);
  void modifiers(uint32_t depressed);

  // The image of `area` (in the output's logical pixels, from its top-left corner) of the output
  // named `output` ("" for the only one). Scaled outputs give more pixels than points.
  std::optional<Capture> capture(const std::string& output, const Box& area);

  // Sends everything queued; waits until the compositor has handled it when `sync`.
  bool flush(bool sync);
  // Blocks until the compositor closes the connection.
  void waitForEnd();
  // Why the connection failed, or "" while it works.
  std::string lostReason();

  struct State;

 private:
  explicit Client(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace mevrik::desktop::wlroots
