// What the tools' Wayland clients share (wlroots' virtual devices and screen copies, KWin's fake
// input): the connection to $WAYLAND_DISPLAY, its registry, and the seat with the devices it had
// before the client's own joined it.
#pragma once

#include <wayland-client.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace mevrik::desktop::wayland {

struct Connection {
  // Receives every global but the seat, which the connection binds itself.
  using Global = void (*)(void* data, wl_registry* registry, uint32_t name,
                          std::string_view interface, uint32_t version);

  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  // Runs after the owner has destroyed the objects it made on the connection.
  ~Connection();

  // Connects and reads the globals, then waits for what they announce once bound (the seat's
  // devices, the outputs' names). False, with the reason in `error`, when the compositor cannot
  // be reached or does not answer.
  bool open(Global global, void* data, std::string& error);
  // Connects and asks for the globals, which the next round trip brings. False when the
  // compositor cannot be reached.
  bool connect(Global global, void* data);
  // A seat that lacked one of `devices` (WL_SEAT_CAPABILITY_*) gains it with the client's, and
  // applications make their wl_pointer (wl_keyboard) only once they hear of it: events sent
  // before that reach nobody. So this waits for the compositor (always, when `sync`), and then
  // 200 ms for the applications. A desktop with a mouse and a keyboard never waits here; a
  // headless one does, once.
  void awaitDevices(uint32_t devices, bool sync);
  // Sends everything queued; waits until the compositor has handled it when `sync`.
  bool flush(bool sync);
  // Why the connection failed, or "" while it works.
  std::string lostReason() const;

  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_seat* seat = nullptr;
  uint32_t capabilities = 0;  // the seat's, before the client's devices joined it
  // KWin drops the requests it has not read yet when a client hangs up: then a round trip
  // before closing makes sure that the last ones were handled.
  bool syncOnClose = false;
  Global global = nullptr;
  void* data = nullptr;
};

}  // namespace mevrik::desktop::wayland
