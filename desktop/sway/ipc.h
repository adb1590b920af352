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

class Ipc {
 public:
  // None, with the reason in `error`, when SWAYSOCK is unset or nobody answers there.
  static std::unique_ptr<Ipc> connect(std::string& error);
  ~Ipc();
  Ipc(const Ipc&) = delete;
  Ipc& operator=(const Ipc&) = delete;

  // Every application window (tiled, floating, on every workspace), in tree order; none when
  // the compositor does not answer.
  std::optional<std::vector<Window>> windows();
  // The active outputs.
  std::optional<std::vector<Output>> outputs();
  // Gives the window the focus (switching to its workspace). False when sway refused.
  bool focus(int64_t id);

  // One request and its reply's payload; none when the socket failed.
  std::optional<std::string> request(uint32_t type, std::string_view payload = {});

 private:
  explicit Ipc(int fd) : fd_(fd) {}
  int fd_;
};

// The parsing, apart from the socket, for tests.
std::vector<Window> windowsOfTree(std::string_view json);
std::vector<Output> outputsOf(std::string_view json);

}  // namespace mevrik::desktop::sway
