// The D-Bus service that lets Mevrik's tools see the windows GNOME Shell manages: on Wayland no
// client can learn where other clients' windows are, which window has the focus, or where the
// pointer is, and Mutter's own introspection interface refuses callers outside the shell.
// This text is shared by every variant; each variant's extension.js imports Gio and
// turns MevrikShellService on and off.

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
    <property name="Version" type="u" access="read"/>
  </interface>
</node>`;

function mevrikRect(rect) {
    return {x: rect.x, y: rect.y, width: rect.width, height: rect.height};
}

function mevrikDescribe(window, focused) {
    const workspace = window.get_workspace();
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
    };
}

// Windows the user manages, bottom of the stack first; menus and tooltips are left out.
function mevrikWindows() {
    return global.get_window_actors()
        .map(actor => actor.get_meta_window())
        .filter(window => window && !window.is_override_redirect());
}

var MevrikShellService = class {
    enable() {
        this._object = Gio.DBusExportedObject.wrapJSObject(MEVRIK_INTERFACE, this);
        this._object.export(Gio.DBus.session, MEVRIK_OBJECT_PATH);
        this._owner = Gio.bus_own_name_on_connection(Gio.DBus.session, MEVRIK_BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        if (this._owner)
            Gio.bus_unown_name(this._owner);
        this._owner = 0;
        this._object?.unexport();
        this._object = null;
    }

    get Version() {
        return 1;
    }

    ListWindows() {
        const focused = global.display.focus_window;
        return JSON.stringify(mevrikWindows().map(window => mevrikDescribe(window, focused)));
    }

    FocusedWindow() {
        const focused = global.display.focus_window;
        return JSON.stringify(focused ? mevrikDescribe(focused, focused) : null);
    }

    Activate(id) {
        const window = mevrikWindows().find(candidate => Number(candidate.get_id()) === Number(id));
        if (!window)
            return false;
        // Activating also unminimizes and switches to the window's workspace.
        window.activate(global.get_current_time());
        return true;
    }

    GetPointer() {
        const [x, y] = global.get_pointer();
        return [x, y];
    }
};
