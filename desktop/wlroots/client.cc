#include "desktop/wlroots/client.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cmath>
#include <ctime>

#include "desktop/wayland/connection.h"
#include "screencopy-client-protocol.h"
#include "virtual-keyboard-client-protocol.h"
#include "virtual-pointer-client-protocol.h"

namespace mevrik::desktop::wlroots {

struct Client::State {
  struct OutputEntry {
    wl_output* output = nullptr;
    std::string name;
  };

  wayland::Connection connection;
  wl_shm* shm = nullptr;
  zwlr_virtual_pointer_manager_v1* pointerManager = nullptr;
  zwp_virtual_keyboard_manager_v1* keyboardManager = nullptr;
  zwlr_screencopy_manager_v1* screencopy = nullptr;
  std::vector<OutputEntry> outputs;
  zwlr_virtual_pointer_v1* pointer = nullptr;
  zwp_virtual_keyboard_v1* keyboard = nullptr;
  bool keymapSet = false;

  ~State() {
    if (pointer) zwlr_virtual_pointer_v1_destroy(pointer);
    if (keyboard) zwp_virtual_keyboard_v1_destroy(keyboard);
    // The globals' proxies have no destructor request in their first versions: the client's
    // side is freed alone.
    for (void* proxy : {static_cast<void*>(shm), static_cast<void*>(pointerManager),
                        static_cast<void*>(keyboardManager), static_cast<void*>(screencopy)}) {
      if (proxy) wl_proxy_destroy(static_cast<wl_proxy*>(proxy));
    }
    for (const OutputEntry& entry : outputs)
      wl_proxy_destroy(reinterpret_cast<wl_proxy*>(entry.output));
  }
};

namespace {

using State = Client::State;

uint32_t nowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint32_t>(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

// wl_output: only the name (version 4) matters here.
void outputGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
                    const char*, int32_t) {}
void outputMode(void*, wl_output*, uint32_t, int32_t, int32_t, int32_t) {}
void outputDone(void*, wl_output*) {}
void outputScale(void*, wl_output*, int32_t) {}
void outputName(void* data, wl_output* output, const char* name) {
  auto* state = static_cast<State*>(data);
  for (State::OutputEntry& entry : state->outputs) {
    if (entry.output == output) entry.name = name ? name : "";
  }
}
void outputDescription(void*, wl_output*, const char*) {}
const wl_output_listener kOutputListener = {outputGeometry, outputMode, outputDone,
                                            outputScale,    outputName, outputDescription};

template <typename T>
T* bind(wl_registry* registry, uint32_t name, const wl_interface* interface, uint32_t version) {
  return static_cast<T*>(wl_registry_bind(registry, name, interface, version));
}

void global(void* data, wl_registry* registry, uint32_t name, std::string_view which,
            uint32_t version) {
  auto* state = static_cast<State*>(data);
  if (which == wl_shm_interface.name) {
    state->shm = bind<wl_shm>(registry, name, &wl_shm_interface, 1);
  } else if (which == wl_output_interface.name) {
    auto* output =
        bind<wl_output>(registry, name, &wl_output_interface, std::min<uint32_t>(version, 4));
    state->outputs.push_back({output, ""});
    wl_output_add_listener(output, &kOutputListener, state);
  } else if (which == zwlr_virtual_pointer_manager_v1_interface.name) {
    state->pointerManager = bind<zwlr_virtual_pointer_manager_v1>(
        registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
  } else if (which == zwp_virtual_keyboard_manager_v1_interface.name) {
    state->keyboardManager = bind<zwp_virtual_keyboard_manager_v1>(
        registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
  } else if (which == zwlr_screencopy_manager_v1_interface.name) {
    state->screencopy =
        bind<zwlr_screencopy_manager_v1>(registry, name, &zwlr_screencopy_manager_v1_interface, 1);
  }
}
// A file in memory of that size, for the keymap and for shared-memory buffers.
int memoryFile(size_t size) {
  const int fd = memfd_create("mevrik", MFD_CLOEXEC);
  if (fd < 0) return -1;
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// One screencopy frame: what the compositor offers, then whether the copy is done.
struct Frame {
  uint32_t format = 0, width = 0, height = 0, stride = 0;
  bool offered = false;
  bool yInvert = false;
  bool ready = false;
  bool failed = false;
};
void frameBuffer(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width,
                 uint32_t height, uint32_t stride) {
  auto* f = static_cast<Frame*>(data);
  *f = Frame{format, width, height, stride, true, false, false, false};
}
void frameFlags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
  static_cast<Frame*>(data)->yInvert = flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
}
void frameReady(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {
  static_cast<Frame*>(data)->ready = true;
}
void frameFailed(void* data, zwlr_screencopy_frame_v1*) {
  static_cast<Frame*>(data)->failed = true;
}
const zwlr_screencopy_frame_v1_listener kFrameListener = {frameBuffer, frameFlags, frameReady,
                                                          frameFailed};

}  // namespace

Client::Client(std::unique_ptr<State> state) : state_(std::move(state)) {}
Client::~Client() = default;

std::unique_ptr<Client> Client::connect(unsigned needs, std::string& error) {
  auto state = std::make_unique<State>();
  if (!state->connection.open(global, state.get(), error)) return nullptr;
  auto missing = [&error](const char* protocol) {
    error = std::string("the compositor does not offer ") + protocol;
    return nullptr;
  };
  wl_seat* seat = state->connection.seat;
  if ((needs & (kPointer | kKeyboard)) && !seat) return missing("a seat (wl_seat)");
  if ((needs & kPointer) && !state->pointerManager) {
    return missing("virtual pointers (zwlr_virtual_pointer_manager_v1)");
  }
  if ((needs & kKeyboard) && !state->keyboardManager) {
    return missing("virtual keyboards (zwp_virtual_keyboard_manager_v1)");
  }
  if ((needs & kScreencopy) && (!state->screencopy || !state->shm)) {
    return missing("screen copies (zwlr_screencopy_manager_v1)");
  }
  if (needs & kPointer) {
    state->pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(state->pointerManager, seat);
  }
  if (needs & kKeyboard) {
    state->keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(state->keyboardManager, seat);
  }
  state->connection.awaitDevices(((needs & kPointer) ? WL_SEAT_CAPABILITY_POINTER : 0) |
                                     ((needs & kKeyboard) ? WL_SEAT_CAPABILITY_KEYBOARD : 0),
                                 false);
  return std::unique_ptr<Client>(new Client(std::move(state)));
}

bool Client::pointerTo(double x, double y, const Box& layout) {
  if (!state_->pointer || !std::isfinite(x) || !std::isfinite(y)) return false;
  if (x < layout.x || y < layout.y || x >= layout.x + layout.width ||
      y >= layout.y + layout.height) {
    return false;
  }
  // The compositor maps x / x_extent onto the layout's width: a finer extent keeps fractions of
  // a point, so that a point maps to itself exactly.
  constexpr double kSteps = 64;
  const auto step = [&](double v, int64_t origin) {
    return static_cast<uint32_t>(std::llround((v - static_cast<double>(origin)) * kSteps));
  };
  zwlr_virtual_pointer_v1_motion_absolute(
      state_->pointer, nowMs(), step(x, layout.x), step(y, layout.y),
      static_cast<uint32_t>(layout.width * kSteps), static_cast<uint32_t>(layout.height * kSteps));
  zwlr_virtual_pointer_v1_frame(state_->pointer);
  return true;
}

void Client::pointerButton(uint32_t button, bool down) {
  if (!state_->pointer) return;
  zwlr_virtual_pointer_v1_button(
      state_->pointer, nowMs(), button,
      down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
  zwlr_virtual_pointer_v1_frame(state_->pointer);
}

void Client::pointerWheel(int32_t vertical, int32_t horizontal) {
  if (!state_->pointer) return;
  // One wheel step scrolls by 15 in wl_pointer's units, as a mouse wheel's notch does.
  constexpr double kStep = 15;
  const uint32_t time = nowMs();
  zwlr_virtual_pointer_v1_axis_source(state_->pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
  if (vertical != 0) {
    zwlr_virtual_pointer_v1_axis_discrete(state_->pointer, time, WL_POINTER_AXIS_VERTICAL_SCROLL,
                                          wl_fixed_from_double(vertical * kStep), vertical);
  }
  if (horizontal != 0) {
    zwlr_virtual_pointer_v1_axis_discrete(state_->pointer, time, WL_POINTER_AXIS_HORIZONTAL_SCROLL,
                                          wl_fixed_from_double(horizontal * kStep), horizontal);
  }
  zwlr_virtual_pointer_v1_frame(state_->pointer);
}

bool Client::setKeymap(const std::string& keymap) {
  if (!state_->keyboard) return false;
  // The compositor reads the text as a C string: the terminating zero is part of it.
  const size_t size = keymap.size() + 1;
  const int fd = memoryFile(size);
  if (fd < 0) return false;
  const bool written = pwrite(fd, keymap.c_str(), size, 0) == static_cast<ssize_t>(size);
  if (written) {
    zwp_virtual_keyboard_v1_keymap(state_->keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<uint32_t>(size));
    state_->keymapSet = true;
  }
  close(fd);
  return written;
}

void Client::key(uint32_t xkbCode, bool down) {
  if (!state_->keyboard || !state_->keymapSet || xkbCode < 8) return;
  zwp_virtual_keyboard_v1_key(
      state_->keyboard, nowMs(), xkbCode - 8,
      down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void Client::modifiers(uint32_t depressed) {
  if (!state_->keyboard || !state_->keymapSet) return;
  zwp_virtual_keyboard_v1_modifiers(state_->keyboard, depressed, 0, 0, 0);
}

std::optional<Capture> Client::capture(const std::string& output, const Box& area) {
  if (!state_->screencopy || area.width <= 0 || area.height <= 0) return std::nullopt;
  wl_output* target = nullptr;
  for (const State::OutputEntry& entry : state_->outputs) {
    if (entry.name == output || (output.empty() && state_->outputs.size() == 1)) {
      target = entry.output;
    }
  }
  if (!target && state_->outputs.size() == 1) target = state_->outputs.front().output;
  if (!target) return std::nullopt;

  Frame frame;
  zwlr_screencopy_frame_v1* handle = zwlr_screencopy_manager_v1_capture_output_region(
      state_->screencopy, 0, target, static_cast<int32_t>(area.x), static_cast<int32_t>(area.y),
      static_cast<int32_t>(area.width), static_cast<int32_t>(area.height));
  zwlr_screencopy_frame_v1_add_listener(handle, &kFrameListener, &frame);
  auto dispatchUntil = [&](auto done) {
    while (!done() && !frame.failed) {
      if (wl_display_dispatch(state_->connection.display) < 0) return false;
    }
    return !frame.failed;
  };
  std::optional<Capture> out;
  if (dispatchUntil([&] { return frame.offered; }) && frame.stride >= frame.width * 4) {
    const size_t size = static_cast<size_t>(frame.stride) * frame.height;
    const int fd = memoryFile(size);
    void* pixels =
        fd < 0 ? MAP_FAILED : mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels != MAP_FAILED) {
      wl_shm_pool* pool = wl_shm_create_pool(state_->shm, fd, static_cast<int32_t>(size));
      wl_buffer* buffer = wl_shm_pool_create_buffer(
          pool, 0, static_cast<int32_t>(frame.width), static_cast<int32_t>(frame.height),
          static_cast<int32_t>(frame.stride), frame.format);
      zwlr_screencopy_frame_v1_copy(handle, buffer);
      if (dispatchUntil([&] { return frame.ready; })) {
        // 32-bit pixels in little-endian order: XRGB/ARGB are B, G, R, X in memory; XBGR/ABGR
        // are R, G, B, X.
        const bool bgr =
            frame.format == WL_SHM_FORMAT_XRGB8888 || frame.format == WL_SHM_FORMAT_ARGB8888;
        const bool rgb =
            frame.format == WL_SHM_FORMAT_XBGR8888 || frame.format == WL_SHM_FORMAT_ABGR8888;
        if (bgr || rgb) {
          Capture c;
          c.width = frame.width;
          c.height = frame.height;
          c.rgb.resize(static_cast<size_t>(frame.width) * frame.height * 3);
          const auto* base = static_cast<const uint8_t*>(pixels);
          for (uint32_t row = 0; row < frame.height; ++row) {
            const uint32_t from = frame.yInvert ? frame.height - 1 - row : row;
            const uint8_t* p = base + static_cast<size_t>(from) * frame.stride;
            uint8_t* q = c.rgb.data() + static_cast<size_t>(row) * frame.width * 3;
            for (uint32_t col = 0; col < frame.width; ++col, p += 4, q += 3) {
              q[0] = bgr ? p[2] : p[0];
              q[1] = p[1];
              q[2] = bgr ? p[0] : p[2];
            }
          }
          out = std::move(c);
        }
      }
      wl_buffer_destroy(buffer);
      wl_shm_pool_destroy(pool);
      munmap(pixels, size);
    }
    if (fd >= 0) close(fd);
  }
  zwlr_screencopy_frame_v1_destroy(handle);
  return out;
}

bool Client::flush(bool sync) {
  return state_->connection.flush(sync);
}

void Client::waitForEnd() {
  while (wl_display_dispatch(state_->connection.display) >= 0) {
  }
}

std::string Client::lostReason() {
  return state_->connection.lostReason();
}

}  // namespace mevrik::desktop::wlroots
