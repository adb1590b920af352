// The D-Bus service that lets Mevrik's tools see the windows GNOME Shell manages: on Wayland no
// client can learn where other clients' windows are, which window has the focus, or where the
// pointer is, and Mutter's own introspection interface refuses callers outside the shell.
// This text is shared by every variant; each variant's extension.js imports Gio, GLib, Meta,
// Shell and the shell's Main and turns MevrikShellService on and off.

const MEVRIK_BUS_NAME = 'com.fennick.Mevrik.Shell';
const MEVRIK_OBJECT_PATH = '/com/fennick/Mevrik/Shell';
const MEVRIK_INTERFACE = `<node>
  <interface name="com.fennick.Mevrik.Shell">
    <method name="ListWindows"><arg type="s" direction="out" name="json"/></method>
    <method name="FocusedWindow"><arg type="s" direction="out" name="json"/></method>
    <method name="Activate">
      <arg type="t" direction="in" name="id"/>
      <arg type="b" direction="out" name="found"/>
    </method>
    <method name="GetPointer">
      <arg type="i" direction="out" name="x"/>
      <arg type="i" direction="out" name="y"/>
    </method>
    <method name="ListMonitors"><arg type="s" direction="out" name="json"/></method>
    <method name="ActiveWorkspace"><arg type="i" direction="out" name="index"/></method>
    <method name="Screenshot">
      <arg type="i" direction="in" name="x"/>
      <arg type="i" direction="in" name="y"/>
      <arg type="i" direction="in" name="width"/>
      <arg type="i" direction="in" name="height"/>
      <arg type="ay" direction="out" name="png"/>
    </method>
    <signal name="Changed"/>
    <property name="Version" type="u" access="read"/>
  </interface>
</node>`;

function mevrikRect(rect) {
    return {x: rect.x, y: rect.y, width: rect.width, height: rect.height};
}

function mevrikDescribe(window, focused) {
    const workspace = window.get_workspace();
    const active = global.workspace_manager.get_active_workspace();
    return {
        id: Number(window.get_id()),
        pid: window.get_pid(),
        title: window.get_title() ?? '',
        // On Wayland the class is the client's xdg app id; X11 clients give WM_CLASS.
        app_id: window.get_wm_class() ?? '',
        // The frame is what the user sees as the window; the buffer adds client-side shadows.
        frame: mevrikRect(window.get_frame_rect()),
        buffer: mevrikRect(window.get_buffer_rect()),
        focused: window === focused,
        minimized: window.minimized,
        workspace: window.is_on_all_workspaces() || !workspace ? -1 : workspace.index(),
        // On the workspace on show and not minimized: what a click could reach.
        shown: window.showing_on_its_workspace() && window.located_on_workspace(active),
        // An X11 client (through XWayland) gives positions on the screen, not in its surface.
        xwayland: window.get_client_type() === Meta.WindowClientType.X11,
    };
}

// Windows the user manages, bottom of the stack first; menus and tooltips are left out, and so are
// windows the shell has not shown yet: a new window has its size before the shell places it.
function mevrikWindows(shown) {
    return global.get_window_actors()
        .map(actor => actor.get_meta_window())
        .filter(window => window && !window.is_override_redirect() && shown.has(window));
}

var MevrikShellService = class {
    enable() {
        this._object = Gio.DBusExportedObject.wrapJSObject(MEVRIK_INTERFACE, this);
        this._object.export(Gio.DBus.session, MEVRIK_OBJECT_PATH);
        this._owner = Gio.bus_own_name_on_connection(Gio.DBus.session, MEVRIK_BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
        // Tools that wait for a window to appear or to take the focus listen to this rather
        // than ask again and again.
        const changed = () => this._object?.emit_signal('Changed', null);
        this._shown = new WeakSet(global.get_window_actors()
            .map(actor => actor.get_meta_window()).filter(window => window));
        this._connections = [
            [global.display, global.display.connect('window-created', changed)],
            [global.display, global.display.connect('notify::focus-window', changed)],
            [global.display, global.display.connect('restacked', changed)],
            [global.window_manager, global.window_manager.connect('map', (wm, actor) => {
                const window = actor.get_meta_window();
                if (window)
                    this._shown.add(window);
                changed();
            })],
            [global.window_manager, global.window_manager.connect('destroy', changed)],
        ];
    }

    disable() {
        for (const [source, id] of this._connections ?? [])
            source.disconnect(id);
        this._connections = [];
        if (this._owner)
            Gio.bus_unown_name(this._owner);
        this._owner = 0;
        this._object?.unexport();
        this._object = null;
    }

    get Version() {
        return 2;
    }

    ListWindows() {
        const focused = global.display.focus_window;
        return JSON.stringify(mevrikWindows(this._shown).map(window => mevrikDescribe(window, focused)));
    }

    FocusedWindow() {
        const focused = global.display.focus_window;
        return JSON.stringify(focused ? mevrikDescribe(focused, focused) : null);
    }

    // Brings the window to the user as the shell's own switchers do: to its workspace,
    // unminimized, raised and focused, with the overview closed. The answer comes once the
    // overview has gone, so that what a tool does next meets the window on show.
    ActivateAsync([id], invocation) {
        const window = mevrikWindows(this._shown).find(candidate => Number(candidate.get_id()) === Number(id));
        const answer = found => invocation.return_value(new GLib.Variant('(b)', [found]));
        if (!window) {
            answer(false);
            return;
        }
        Main.activateWindow(window);
        if (!Main.overview.visible) {
            answer(true);
            return;
        }
        let hidden = 0, timer = 0;
        const done = () => {
            Main.overview.disconnect(hidden);
            GLib.source_remove(timer);
            answer(true);
        };
        hidden = Main.overview.connect('hidden', done);
        // Someone may open the overview again before it has gone: answer all the same.
        timer = GLib.timeout_add(GLib.PRIORITY_DEFAULT, 1000, () => {
            timer = 0;
            Main.overview.disconnect(hidden);
            answer(true);
            return GLib.SOURCE_REMOVE;
        });
    }

    GetPointer() {
        const [x, y] = global.get_pointer();
        return [x, y];
    }

    ActiveWorkspace() {
        return global.workspace_manager.get_active_workspace_index();
    }

    // The monitors in the layout's logical pixels, the primary one first.
    ListMonitors() {
        const display = global.display;
        const primary = display.get_primary_monitor();
        const monitors = [];
        for (let i = 0; i < display.get_n_monitors(); i++) {
            monitors.push({
                ...mevrikRect(display.get_monitor_geometry(i)),
                scale: display.get_monitor_scale(i),
                primary: i === primary,
            });
        }
        monitors.sort((a, b) => Number(b.primary) - Number(a.primary));
        return JSON.stringify(monitors);
    }

    // What the stage shows in the area (logical pixels), as PNG bytes at the monitors' scale.
    // The shell paints it itself, so no screen-cast stream or consent dialog is involved.
    ScreenshotAsync([x, y, width, height], invocation) {
        const stream = Gio.MemoryOutputStream.new_resizable();
        const screenshot = new Shell.Screenshot();
        screenshot.screenshot_area(x, y, width, height, stream, (source, result) => {
            try {
                source.screenshot_area_finish(result);
                stream.close(null);
                const png = stream.steal_as_bytes().toArray();
                invocation.return_value(new GLib.Variant('(ay)', [png]));
            } catch (e) {
                invocation.return_error_literal(Gio.DBusError, Gio.DBusError.FAILED,
                    `the screen could not be read: ${e.message}`);
            }
        });
    }
};
