#include "desktop/kde/fake_input.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "fake-input-client-protocol.h"

namespace mevrik::desktop::kde {

struct FakeInput::State {
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_seat* seat = nullptr;
  org_kde_kwin_fake_input* input = nullptr;
  wl_keyboard* keyboard = nullptr;
  std::optional<std::string> keymap;
  uint32_t version = 0;
  uint32_t capabilities = 0;  // the seat's, before the fake device joined it

  ~State() {
    // Version 4 has no destructor request: the client's side is freed alone.
    for (void* proxy :
         {static_cast<void*>(input), static_cast<void*>(seat), static_cast<void*>(registry)}) {
      if (proxy) wl_proxy_destroy(static_cast<wl_proxy*>(proxy));
    }
    if (display) {
      // KWin drops the requests it has not read yet when a client hangs up: a round trip makes
      // sure the last keys and buttons were handled before the connection closes.
      wl_display_roundtrip(display);
      wl_display_disconnect(display);
    }
  }
};

namespace {

using State = FakeInput::State;

void seatCapabilities(void* data, wl_seat*, uint32_t capabilities) {
  static_cast<State*>(data)->capabilities = capabilities;
}
void seatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {seatCapabilities, seatName};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
            uint32_t version) {
  auto* state = static_cast<State*>(data);
  const std::string_view which(interface);
  if (which == wl_seat_interface.name && !state->seat) {
    state->seat = static_cast<wl_seat*>(
        wl_registry_bind(registry, name, &wl_seat_interface, std::min<uint32_t>(version, 2)));
    wl_seat_add_listener(state->seat, &kSeatListener, state);
  } else if (which == org_kde_kwin_fake_input_interface.name && !state->input) {
    state->version = std::min<uint32_t>(version, 4);
    state->input = static_cast<org_kde_kwin_fake_input*>(
        wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, state->version));
  }
}
void globalRemove(void*, wl_registry*, uint32_t) {}

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
const wl_registry_listener kRegistryListener = {global, globalRemove};

}  // namespace

FakeInput::FakeInput(std::unique_ptr<State> state) : state_(std::move(state)) {}
FakeInput::~FakeInput() = default;

std::unique_ptr<FakeInput> FakeInput::connect(const std::string& application, std::string& error) {
  auto state = std::make_unique<State>();
  state->display = wl_display_connect(nullptr);
  if (!state->display) {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    error = std::string("cannot connect to the Wayland display \"") + (name ? name : "") + "\"";
    return nullptr;
  }
  state->registry = wl_display_get_registry(state->display);
  wl_registry_add_listener(state->registry, &kRegistryListener, state.get());
  // The globals, then the seat's capabilities.
  if (wl_display_roundtrip(state->display) < 0 || wl_display_roundtrip(state->display) < 0) {
    error = "the Wayland compositor did not answer";
    return nullptr;
  }
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
  // The fake device joins the seat when the client authenticates; a seat that had no pointer
  // gains one, and applications make their wl_pointer only once they hear of it: events sent
  // before that reach nobody. A desktop with a mouse never waits here; a headless one does.
  const uint32_t before = state->capabilities;
  wl_display_roundtrip(state->display);
  if (!(before & WL_SEAT_CAPABILITY_POINTER) || !(before & WL_SEAT_CAPABILITY_KEYBOARD)) {
    timespec wait{0, 200 * 1000 * 1000};
    while (nanosleep(&wait, &wait) != 0) {
    }
  }
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
  if (!state_->keyboard) {
    wl_display_roundtrip(state_->display);
    if (!state_->seat || !(state_->capabilities & WL_SEAT_CAPABILITY_KEYBOARD)) return std::nullopt;
    state_->keyboard = wl_seat_get_keyboard(state_->seat);
    wl_keyboard_add_listener(state_->keyboard, &kKeyboardListener, state_.get());
    wl_display_roundtrip(state_->display);
  }
  return state_->keymap;
}

bool FakeInput::waitForKeymap(const std::function<bool(const std::string&)>& wanted,
                              int timeoutMs) {
  if (!seatKeymap()) return false;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  wl_display* display = state_->display;
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
  if (sync) return wl_display_roundtrip(state_->display) >= 0;
  while (wl_display_flush(state_->display) < 0) {
    if (errno != EAGAIN) return false;
    wl_display_dispatch_pending(state_->display);
  }
  return true;
}

std::string FakeInput::lostReason() {
  const int code = wl_display_get_error(state_->display);
  if (code == 0) return {};
  return std::string("the Wayland compositor closed the connection (") + std::strerror(code) + ")";
}

}  // namespace mevrik::desktop::kde
