// sway's IPC: the window tree, the outputs and commands, over the UNIX socket named by SWAYSOCK
// (the i3 protocol: "i3-ipc", payload length and type as native 32-bit integers, then JSON).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/windows.h"

namespace mevrik::desktop::sway {

// The windows as sway's tree shows them.
struct Tree {
  // Every application window (tiled, floating, on every workspace, put away), topmost first:
  // the shown ones before the hidden ones; on a workspace a fullscreen window, then the floating
  // ones (the last drawn first), then the tiled ones; ties, and the hidden windows, in the order
  // of their last focus.
  std::vector<Window> windows;
  std::optional<int64_t> currentWorkspace;  // the focused workspace's number, if it has one
};

class Ipc {
 public:
  // None, with the reason in `error`, when SWAYSOCK is unset or nobody answers there.
  static std::unique_ptr<Ipc> connect(std::string& error);
  ~Ipc();
  Ipc(const Ipc&) = delete;
  Ipc& operator=(const Ipc&) = delete;

  // None when the compositor does not answer.
  std::optional<Tree> tree();
  // tree()'s windows.
  std::optional<std::vector<Window>> windows();
  // The active outputs.
  std::optional<std::vector<Output>> outputs();
  // Gives the window the focus (switching to its workspace). False when sway refused.
  bool focus(int64_t id);

  // Asks for the events named in `events` (a JSON list such as ["window"]). From then on the
  // connection carries those events, so it serves no other request.
  bool subscribe(std::string_view events);
  // Waits up to `seconds` for the next event and drops it; false when none came.
  bool nextEvent(double seconds);

  // One request and its reply's payload; none when the socket failed.
  std::optional<std::string> request(uint32_t type, std::string_view payload = {});

 private:
  explicit Ipc(int fd) : fd_(fd) {}
  int fd_;
};

// The parsing, apart from the socket, for tests.
Tree treeOf(std::string_view json);
inline std::vector<Window> windowsOfTree(std::string_view json) {
  return treeOf(json).windows;
}
std::vector<Output> outputsOf(std::string_view json);

}  // namespace mevrik::desktop::sway
