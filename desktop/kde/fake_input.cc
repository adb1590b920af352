#include "desktop/kde/fake_input.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>

#include "desktop/wayland/connection.h"
#include "fake-input-client-protocol.h"

namespace mevrik::desktop::kde {

struct FakeInput::State {
  wayland::Connection connection;
  org_kde_kwin_fake_input* input = nullptr;
  wl_keyboard* keyboard = nullptr;
  std::optional<std::string> keymap;
  uint32_t version = 0;

  // Version 4 has no destructor request: the client's side is freed alone.
  ~State() {
    if (input) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(input));
  }
};

namespace {

using State = FakeInput::State;

void global(void* data, wl_registry* registry, uint32_t name, std::string_view interface,
            uint32_t version) {
  auto* state = static_cast<State*>(data);
  if (interface == org_kde_kwin_fake_input_interface.name && !state->input) {
    state->version = std::min<uint32_t>(version, 4);
    state->input = static_cast<org_kde_kwin_fake_input*>(
        wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, state->version));
  }
}

void keyboardKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
  auto* state = static_cast<State*>(data);
  if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (text != MAP_FAILED) {
      // The text ends with a NUL inside `size`.
      state->keymap = std::string(static_cast<const char*>(text),
                                  strnlen(static_cast<const char*>(text), size));
      munmap(text, size);
    }
  }
  close(fd);
}
void keyboardEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void keyboardLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void keyboardKey(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void keyboardModifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void keyboardRepeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener kKeyboardListener = {keyboardKeymap, keyboardEnter,     keyboardLeave,
                                                keyboardKey,    keyboardModifiers, keyboardRepeat};

}  // namespace

FakeInput::FakeInput(std::unique_ptr<State> state) : state_(std::move(state)) {}
FakeInput::~FakeInput() = default;

std::unique_ptr<FakeInput> FakeInput::connect(const std::string& application, std::string& error) {
  auto state = std::make_unique<State>();
  // KWin drops the requests it has not read yet when a client hangs up.
  state->connection.syncOnClose = true;
  if (!state->connection.open(global, state.get(), error)) return nullptr;
  if (!state->input || state->version < 3) {
    // KWin lists the protocol only to programs it trusts; an older KWin lacks absolute motion.
    error = state->input
                ? "KWin's fake input is too old (version 3 or later is needed)"
                : "KWin does not give this program fake input (org_kde_kwin_fake_input): its "
                  "desktop entry with X-KDE-Wayland-Interfaces is missing";
    return nullptr;
  }
  org_kde_kwin_fake_input_authenticate(state->input, application.c_str(),
                                       "acts for the user's coding agent");
  // The fake device joins the seat when the client authenticates.
  state->connection.awaitDevices(WL_SEAT_CAPABILITY_POINTER | WL_SEAT_CAPABILITY_KEYBOARD, true);
  return std::unique_ptr<FakeInput>(new FakeInput(std::move(state)));
}

void FakeInput::pointerTo(double x, double y) {
  org_kde_kwin_fake_input_pointer_motion_absolute(state_->input, wl_fixed_from_double(x),
                                                  wl_fixed_from_double(y));
}

void FakeInput::pointerButton(uint32_t button, bool down) {
  org_kde_kwin_fake_input_button(
      state_->input, button,
      down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
}

void FakeInput::pointerWheel(int32_t vertical, int32_t horizontal) {
  // One wheel step moves 15 units along an axis, as a mouse wheel's does in KWin.
  if (vertical != 0) {
    org_kde_kwin_fake_input_axis(state_->input, WL_POINTER_AXIS_VERTICAL_SCROLL,
                                 wl_fixed_from_int(15 * vertical));
  }
  if (horizontal != 0) {
    org_kde_kwin_fake_input_axis(state_->input, WL_POINTER_AXIS_HORIZONTAL_SCROLL,
                                 wl_fixed_from_int(15 * horizontal));
  }
}

bool FakeInput::hasKeys() const {
  return state_->version >= 4;
}

bool FakeInput::key(uint32_t code, bool down) {
  if (state_->version < 4) return false;
  org_kde_kwin_fake_input_keyboard_key(
      state_->input, code, down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
  return true;
}

std::optional<std::string> FakeInput::seatKeymap() {
  wayland::Connection& c = state_->connection;
  if (!state_->keyboard) {
    wl_display_roundtrip(c.display);
    if (!c.seat || !(c.capabilities & WL_SEAT_CAPABILITY_KEYBOARD)) return std::nullopt;
    state_->keyboard = wl_seat_get_keyboard(c.seat);
    wl_keyboard_add_listener(state_->keyboard, &kKeyboardListener, state_.get());
    wl_display_roundtrip(c.display);
  }
  return state_->keymap;
}

bool FakeInput::waitForKeymap(const std::function<bool(const std::string&)>& wanted,
                              int timeoutMs) {
  if (!seatKeymap()) return false;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  wl_display* display = state_->connection.display;
  for (;;) {
    if (state_->keymap && wanted(*state_->keymap)) return true;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long elapsed =
        (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (elapsed >= timeoutMs) return false;
    while (wl_display_prepare_read(display) != 0) {
      if (wl_display_dispatch_pending(display) < 0) return false;
    }
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(display);
      return false;
    }
    pollfd ready{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(timeoutMs - elapsed)) > 0) {
      if (wl_display_read_events(display) < 0) return false;
    } else {
      wl_display_cancel_read(display);
    }
    if (wl_display_dispatch_pending(display) < 0) return false;
  }
}

bool FakeInput::flush(bool sync) {
  return state_->connection.flush(sync);
}

std::string FakeInput::lostReason() {
  return state_->connection.lostReason();
}

}  // namespace mevrik::desktop::kde
