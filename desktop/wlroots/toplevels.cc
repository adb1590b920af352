#include "desktop/wlroots/toplevels.h"

#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cmath>
#include <string_view>

#include "desktop/wayland/connection.h"
#include "foreign-toplevel-client-protocol.h"

namespace mevrik::desktop::wlroots {

struct Toplevels::State {
  struct Entry {
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    Toplevel pending;  // events since the last "done"
    Toplevel shown;    // as of the last "done"
    bool described = false;
  };

  wayland::Connection connection;
  zwlr_foreign_toplevel_manager_v1* manager = nullptr;
  std::vector<std::unique_ptr<Entry>> entries;

  ~State() {
    for (const auto& entry : entries) zwlr_foreign_toplevel_handle_v1_destroy(entry->handle);
    if (manager) {
      zwlr_foreign_toplevel_manager_v1_stop(manager);
      wl_proxy_destroy(reinterpret_cast<wl_proxy*>(manager));
    }
  }
};

namespace {

using State = Toplevels::State;
using Entry = State::Entry;

Entry* entryOf(void* data) {
  return static_cast<Entry*>(data);
}

void title(void* data, zwlr_foreign_toplevel_handle_v1*, const char* text) {
  entryOf(data)->pending.title = text ? text : "";
}
void appId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* text) {
  entryOf(data)->pending.appId = text ? text : "";
}
void outputEnter(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void outputLeave(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void state(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
  Toplevel& t = entryOf(data)->pending;
  t.activated = t.minimized = t.maximized = t.fullscreen = false;
  const auto* begin = static_cast<const uint32_t*>(states->data);
  for (const uint32_t* s = begin; s < begin + states->size / sizeof(uint32_t); ++s) {
    switch (*s) {
      case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED:
        t.activated = true;
        break;
      case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED:
        t.minimized = true;
        break;
      case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MAXIMIZED:
        t.maximized = true;
        break;
      case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_FULLSCREEN:
        t.fullscreen = true;
        break;
      default:
        break;
    }
  }
}
void done(void* data, zwlr_foreign_toplevel_handle_v1*) {
  Entry* entry = entryOf(data);
  entry->shown = entry->pending;
  entry->described = true;
}
// The entry stays, out of the list, until the connection ends; its handle is destroyed then.
void closed(void* data, zwlr_foreign_toplevel_handle_v1*) {
  entryOf(data)->described = false;
}
void parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
const zwlr_foreign_toplevel_handle_v1_listener kHandleListener = {
    title, appId, outputEnter, outputLeave, state, done, closed, parent};

void toplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
              zwlr_foreign_toplevel_handle_v1* handle) {
  auto* s = static_cast<State*>(data);
  auto entry = std::make_unique<Entry>();
  entry->handle = handle;
  entry->pending.key = wl_proxy_get_id(reinterpret_cast<wl_proxy*>(handle));
  zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kHandleListener, entry.get());
  s->entries.push_back(std::move(entry));
}
void finished(void*, zwlr_foreign_toplevel_manager_v1*) {}
const zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {toplevel, finished};

void global(void* data, wl_registry* registry, uint32_t name, std::string_view interface,
            uint32_t version) {
  auto* s = static_cast<State*>(data);
  if (interface == zwlr_foreign_toplevel_manager_v1_interface.name && !s->manager) {
    s->manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
        registry, name, &zwlr_foreign_toplevel_manager_v1_interface, std::min(version, 3u)));
    zwlr_foreign_toplevel_manager_v1_add_listener(s->manager, &kManagerListener, s);
  }
}

}  // namespace

Toplevels::Toplevels(std::unique_ptr<State> state) : state_(std::move(state)) {}
Toplevels::~Toplevels() = default;

std::unique_ptr<Toplevels> Toplevels::connect(std::string& error) {
  auto s = std::make_unique<State>();
  if (!s->connection.connect(global, s.get())) {
    error = "the Wayland compositor cannot be reached (WAYLAND_DISPLAY)";
    return nullptr;
  }
  wl_display* display = s->connection.display;
  // The first round trip binds the manager, the second brings the windows it announces on bind.
  if (wl_display_roundtrip(display) < 0) {
    error = "the Wayland compositor closed the connection";
    return nullptr;
  }
  if (!s->manager) {
    error = "the compositor offers no window list (wlr-foreign-toplevel-management)";
    return nullptr;
  }
  if (wl_display_roundtrip(display) < 0) {
    error = "the Wayland compositor closed the connection";
    return nullptr;
  }
  return std::unique_ptr<Toplevels>(new Toplevels(std::move(s)));
}

std::vector<Toplevel> Toplevels::list() const {
  std::vector<Toplevel> out;
  for (const auto& entry : state_->entries) {
    if (entry->described) out.push_back(entry->shown);
  }
  return out;
}

bool Toplevels::activate(uint32_t key) {
  wl_seat* seat = state_->connection.seat;
  if (!seat) return false;
  for (const auto& entry : state_->entries) {
    if (!entry->described || entry->shown.key != key) continue;
    if (entry->shown.minimized) zwlr_foreign_toplevel_handle_v1_unset_minimized(entry->handle);
    zwlr_foreign_toplevel_handle_v1_activate(entry->handle, seat);
    return wl_display_flush(state_->connection.display) >= 0;
  }
  return false;
}

bool Toplevels::waitForChange(double seconds) {
  wl_display* display = state_->connection.display;
  if (wl_display_dispatch_pending(display) > 0) return true;
  while (wl_display_prepare_read(display) != 0) {
    if (wl_display_dispatch_pending(display) > 0) return true;
  }
  wl_display_flush(display);
  pollfd fd{wl_display_get_fd(display), POLLIN, 0};
  if (poll(&fd, 1, static_cast<int>(std::ceil(std::max(seconds, 0.0) * 1000))) > 0) {
    if (wl_display_read_events(display) < 0) return false;
  } else {
    wl_display_cancel_read(display);
  }
  return wl_display_dispatch_pending(display) > 0;
}

}  // namespace mevrik::desktop::wlroots
