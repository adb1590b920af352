#include "desktop/wayland/connection.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace mevrik::desktop::wayland {
namespace {

void seatCapabilities(void* data, wl_seat*, uint32_t capabilities) {
  static_cast<Connection*>(data)->capabilities = capabilities;
}
void seatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {seatCapabilities, seatName};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
            uint32_t version) {
  auto* c = static_cast<Connection*>(data);
  const std::string_view which(interface);
  if (which == wl_seat_interface.name && !c->seat) {
    c->seat = static_cast<wl_seat*>(
        wl_registry_bind(registry, name, &wl_seat_interface, std::min<uint32_t>(version, 2)));
    wl_seat_add_listener(c->seat, &kSeatListener, c);
  } else if (which != wl_seat_interface.name) {
    c->global(c->data, registry, name, which, version);
  }
}
void globalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener = {global, globalRemove};

// libwayland prints "Error sending request: Broken pipe" when the compositor has gone; the tool
// says so itself, once, from lostReason(). Its other messages (protocol errors) still go out.
void logLine(const char* format, va_list args) {
  if (std::strncmp(format, "Error sending request", 21) == 0) return;
  std::vfprintf(stderr, format, args);
}

}  // namespace

Connection::~Connection() {
  // The globals' proxies have no destructor request in their first versions: the client's side
  // is freed alone.
  if (seat) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(seat));
  if (registry) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(registry));
  if (!display) return;
  if (syncOnClose) {
    wl_display_roundtrip(display);
  } else {
    wl_display_flush(display);  // whatever is still queued leaves before the connection closes
  }
  wl_display_disconnect(display);
}

bool Connection::connect(Global onGlobal, void* onGlobalData) {
  global = onGlobal;
  data = onGlobalData;
  wl_log_set_handler_client(logLine);
  display = wl_display_connect(nullptr);
  if (!display) return false;
  registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, this);
  return true;
}

bool Connection::open(Global onGlobal, void* onGlobalData, std::string& error) {
  if (!connect(onGlobal, onGlobalData)) {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    error = std::string("cannot connect to the Wayland display \"") + (name ? name : "") + "\"";
    return false;
  }
  if (wl_display_roundtrip(display) < 0 || wl_display_roundtrip(display) < 0) {
    error = "the Wayland compositor did not answer";
    return false;
  }
  return true;
}

void Connection::awaitDevices(uint32_t devices, bool sync) {
  const bool added = (capabilities & devices) != devices;
  if (sync || added) wl_display_roundtrip(display);
  if (!added) return;
  timespec wait{0, 200 * 1000 * 1000};
  while (nanosleep(&wait, &wait) != 0) {
  }
}

bool Connection::flush(bool sync) {
  if (sync) return wl_display_roundtrip(display) >= 0;
  while (wl_display_flush(display) < 0) {
    if (errno != EAGAIN) return false;
    wl_display_dispatch_pending(display);
  }
  return true;
}

std::string Connection::lostReason() const {
  const int code = wl_display_get_error(display);
  if (code == 0) return {};
  return std::string("the Wayland compositor closed the connection (") + std::strerror(code) + ")";
}

}  // namespace mevrik::desktop::wayland
