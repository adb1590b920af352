// The session bus for the desktop layer's D-Bus clients (Mevrik's GNOME Shell extension, KWin),
// over GIO. GIO's headers only: each program links GIO its own way (vantic-ax links GLib's
// archives, and two copies of GLib in one process do not work).
#pragma once

#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace mevrik::desktop::dbus {

// The session bus, once the bus has said that `name` has an owner there (waiting `timeoutMs` at
// most). None otherwise: `error` is then GIO's reason when there is no session bus, and "" when
// nothing owns the name.
GDBusConnection* sessionBusWith(const char* name, int timeoutMs, std::string& error);

}  // namespace mevrik::desktop::dbus
