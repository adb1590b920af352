#!/usr/bin/python3
"""Opens N plain top-level windows in one process, each with a title, a WM_CLASS and its pid as
any toolkit sets them, prints "ready" once the window manager lists them all, and keeps them open
until its standard input closes.

  win_windows.py N
"""

import os
import sys

import Xlib.display
import Xlib.X
import Xlib.Xatom

count = int(sys.argv[1])
display = Xlib.display.Display()
screen = display.screen()
pid_atom = display.intern_atom("_NET_WM_PID")
name_atom = display.intern_atom("_NET_WM_NAME")
utf8 = display.intern_atom("UTF8_STRING")
for i in range(count):
    window = screen.root.create_window(20 + i * 7 % 600, 20 + i * 11 % 400, 300, 200, 0,
                                       screen.root_depth, background_pixel=screen.white_pixel)
    window.set_wm_name("bench window %d" % i)
    window.set_wm_class("benchwindow", "BenchWindow")
    window.change_property(pid_atom, Xlib.Xatom.CARDINAL, 32, [os.getpid()])
    window.change_property(name_atom, utf8, 8, ("bench window %d" % i).encode())
    window.map()
display.sync()
clients = display.intern_atom("_NET_CLIENT_LIST_STACKING")
while True:
    listed = screen.root.get_full_property(clients, Xlib.Xatom.WINDOW)
    if listed and len(listed.value) >= count:
        break
    display.sync()
print("ready", flush=True)
sys.stdin.read()
