#include "desktop/dbus/bus.h"

#include <gio/gio.h>

namespace mevrik::desktop::dbus {

GDBusConnection* sessionBusWith(const char* name, int timeoutMs, std::string& error) {
  GError* failure = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &failure);
  if (!bus) {
    error = failure ? failure->message : "unknown error";
    if (failure) g_error_free(failure);
    return nullptr;
  }
  GVariant* owner = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr,
      nullptr);
  gboolean running = FALSE;
  if (owner) {
    g_variant_get(owner, "(b)", &running);
    g_variant_unref(owner);
  }
  if (running) return bus;
  error.clear();
  g_object_unref(bus);
  return nullptr;
}

}  // namespace mevrik::desktop::dbus
