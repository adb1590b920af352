#!/usr/bin/python3
"""One left click at a point on GNOME Shell, three ways, side by side in one run.

  gnome_input_bench.py [RUNS]   (inside a GNOME Shell session with Mevrik's extension running)

- remote desktop + screen cast: Mutter's RemoteDesktop session linked to a ScreenCast stream of
  the primary monitor, which absolute motion needs (PipeWire must run in the session);
- remote desktop alone: the same without the stream, which can press buttons but cannot move the
  pointer to a point;
- extension: Mevrik's extension moves its virtual pointer there and presses the button.

Each way runs from its own new bus connection, as one tool run would. Prints the median and best
wall time of each in ms, and the ratio of the medians to the extension's.
"""
import statistics
import sys
import time

from gi.repository import Gio, GLib

RD = "org.gnome.Mutter.RemoteDesktop"
SC = "org.gnome.Mutter.ScreenCast"
EXT = "com.fennick.Mevrik.Shell"
EXT_PATH = "/com/fennick/Mevrik/Shell"
X, Y = 1100.0, 700.0


def connect():
    return Gio.DBusConnection.new_for_address_sync(
        Gio.dbus_address_get_for_bus_sync(Gio.BusType.SESSION, None),
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None, None)


def call(bus, dest, path, iface, method, args=None, reply=None):
    return bus.call_sync(dest, path, iface, method, args,
                         GLib.VariantType(reply) if reply else None, 0, 5000, None)


def remote_desktop(screencast):
    bus = connect()
    session = call(bus, RD, "/org/gnome/Mutter/RemoteDesktop", RD, "CreateSession", None,
                   "(o)").unpack()[0]
    stream = None
    if screencast:
        sid = call(bus, RD, session, "org.freedesktop.DBus.Properties", "Get",
                   GLib.Variant("(ss)", (RD + ".Session", "SessionId")), "(v)").unpack()[0]
        cast = call(bus, SC, "/org/gnome/Mutter/ScreenCast", SC, "CreateSession",
                    GLib.Variant("(a{sv})", ({"remote-desktop-session-id": GLib.Variant("s", sid)},)),
                    "(o)").unpack()[0]
        stream = call(bus, SC, cast, SC + ".Session", "RecordMonitor",
                      GLib.Variant("(sa{sv})", ("", {})), "(o)").unpack()[0]
    call(bus, RD, session, RD + ".Session", "Start")
    if stream:
        # Motion is refused until the stream runs.
        for _ in range(500):
            try:
                call(bus, RD, session, RD + ".Session", "NotifyPointerMotionAbsolute",
                     GLib.Variant("(sdd)", (stream, X, Y)))
                break
            except GLib.Error:
                time.sleep(0.002)
    for pressed in (True, False):
        call(bus, RD, session, RD + ".Session", "NotifyPointerButton",
             GLib.Variant("(ib)", (272, pressed)))
    call(bus, RD, session, RD + ".Session", "Stop")
    bus.close_sync(None)


def extension():
    bus = connect()
    call(bus, EXT, EXT_PATH, EXT, "PointerMotion", GLib.Variant("(dd)", (X, Y)), "(b)")
    for pressed in (True, False):
        call(bus, EXT, EXT_PATH, EXT, "PointerButton", GLib.Variant("(ub)", (1, pressed)))
    call(bus, EXT, EXT_PATH, EXT, "GetPointer", None, "(ii)")
    bus.close_sync(None)


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 9
    ways = {"remote desktop + screen cast": lambda: remote_desktop(True),
            "remote desktop alone (no motion)": lambda: remote_desktop(False),
            "extension": extension}
    times = {name: [] for name in ways}
    for _ in range(runs):
        for name, way in ways.items():
            start = time.monotonic()
            way()
            times[name].append((time.monotonic() - start) * 1000)
    base = statistics.median(times["extension"])
    for name, values in times.items():
        median = statistics.median(values)
        print(f"{name:34} median {median:7.1f} ms  best {min(values):7.1f} ms  "
              f"{median / base:5.1f}x the extension's")


if __name__ == "__main__":
    main()
