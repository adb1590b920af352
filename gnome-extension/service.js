// The D-Bus service that lets Mevrik's tools see the windows GNOME Shell manages: on Wayland no
// client can learn where other clients' windows are, which window has the focus, or where the
// pointer is, and Mutter's own introspection interface refuses callers outside the shell.
// It also performs vantic-click's and vantic-type's input: Clutter's virtual devices inside the
// shell place the pointer at absolute points of the layout with no screen-cast stream, and text
// goes through the shell's input method, so every character arrives exactly without any change to
// the user's keyboard layout. Clients that take no input-method text (Qt 6.4, X11 windows) get
// key codes instead, with the characters their layout lacks bound to spare codes for the call.
// This text is shared by every variant; each variant's extension.js imports Clutter, Gio, GLib,
// Meta, Shell, the shell's Main and KeyboardManager and turns MevrikShellService on and off.

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
    <method name="WindowAt">
      <arg type="d" direction="in" name="x"/>
      <arg type="d" direction="in" name="y"/>
      <arg type="s" direction="out" name="json"/>
    </method>
    <method name="PointerMotion">
      <arg type="d" direction="in" name="x"/>
      <arg type="d" direction="in" name="y"/>
      <arg type="b" direction="out" name="on_monitor"/>
    </method>
    <method name="PointerButton">
      <arg type="u" direction="in" name="button"/>
      <arg type="b" direction="in" name="pressed"/>
    </method>
    <method name="PointerScroll">
      <arg type="i" direction="in" name="horizontal"/>
      <arg type="i" direction="in" name="vertical"/>
    </method>
    <method name="Keys"><arg type="a(ub)" direction="in" name="events"/></method>
    <method name="CommitText">
      <arg type="s" direction="in" name="text"/>
      <arg type="b" direction="out" name="committed"/>
    </method>
    <method name="Keyboard"><arg type="s" direction="out" name="json"/></method>
    <method name="TypeKeys">
      <arg type="a(ub)" direction="in" name="events"/>
      <arg type="a(su)" direction="in" name="bindings"/>
      <arg type="b" direction="out" name="typed"/>
    </method>
    <property name="Version" type="u" access="read"/>
  </interface>
</node>`;

// Pause between a key event and a following one whose modifier state must differ: the seat
// applies virtual key events on the input thread at once, while the Wayland keyboard reads the
// modifier state when the main loop dispatches each event, so a Shift pressed and released
// within one burst can reach the client before or after the key it was held for.
const MEVRIK_KEY_PACE_MS = 10;
const MEVRIK_MODIFIER_KEYVALS = new Set([0xffe1, 0xffe2, 0xffe3, 0xffe4, 0xffe5, 0xffe7, 0xffe8,
    0xffe9, 0xffea, 0xffeb, 0xffec, 0xfe03]);
// The same for key codes: the Linux input codes of Ctrl, Shift, Alt, Meta (left and right), Caps
// Lock and AltGr's usual key.
const MEVRIK_MODIFIER_CODES = new Set([29, 42, 54, 56, 58, 97, 100, 125, 126]);
// The layout that carries the spare codes' bindings for one TypeKeys call: a symbols file of that
// name in the user's xkb folder, which Mutter reads before the system's.
const MEVRIK_TYPING_LAYOUT = 'mevrik-typing';
// After its last key event, how long a call waits before the keymap goes back: the seat hands key
// events to the main loop, which sends them to the client at its next frame, and a client must
// have them before the keymap they were typed with is replaced.
const MEVRIK_KEYMAP_SETTLE_MS = 50;

function mevrikSleep(ms) {
    return new Promise(resolve => GLib.timeout_add(GLib.PRIORITY_LOW, ms, () => {
        resolve();
        return GLib.SOURCE_REMOVE;
    }));
}

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
        this._input?.destroy();
        this._input = null;
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
        return 3;
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

    // The topmost window shown on the active workspace whose frame holds the point, or null.
    WindowAt(x, y) {
        const workspace = global.workspace_manager.get_active_workspace();
        const hit = mevrikWindows().reverse().find(window => {
            const r = window.get_frame_rect();
            return !window.minimized && window.located_on_workspace(workspace) &&
                x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
        });
        return JSON.stringify(hit ? mevrikDescribe(hit, global.display.focus_window) : null);
    }

    PointerMotionAsync([x, y], invocation) {
        this._inputFor(invocation).motion(x, y, invocation);
    }

    PointerButtonAsync([button, pressed], invocation) {
        this._inputFor(invocation).button(invocation.get_sender(), button, pressed);
        invocation.return_value(null);
    }

    PointerScrollAsync([horizontal, vertical], invocation) {
        this._inputFor(invocation).scroll(horizontal, vertical);
        invocation.return_value(null);
    }

    KeysAsync([events], invocation) {
        this._inputFor(invocation).keys(invocation.get_sender(), events, invocation);
    }

    CommitTextAsync([text], invocation) {
        this._inputFor(invocation).commit(text, invocation);
    }

    // Whether the focused element takes input-method text, and the keymap the seat has: the one
    // the shell set, with the layout in use (its index in `layouts`), or a TypeKeys call's own.
    // The seat's keymap reaches Wayland clients only through a keyboard on the seat, so the
    // extension's virtual keyboard joins it first: a session may have no other.
    KeyboardAsync(_, invocation) {
        this._inputFor(invocation).ready.then(() => {
            const manager = KeyboardManager.getKeyboardManager();
            const keymap = this._input?.typingKeymap ?? {
                ...manager._currentKeymap,
                group: manager.currentLayout?.groupIndex ?? 0,
            };
            invocation.return_value(new GLib.Variant('(s)', [JSON.stringify({
                input_method: Boolean(Main.inputMethod.currentFocus),
                layouts: keymap.layouts ?? null,
                variants: keymap.variants ?? null,
                options: keymap.options ?? null,
                group: keymap.group,
            })]));
        });
    }

    TypeKeysAsync([events, bindings], invocation) {
        this._inputFor(invocation).typeKeys(invocation.get_sender(), events, bindings, invocation);
    }

    _inputFor(invocation) {
        if (!this._input)
            this._input = new MevrikInput();
        this._input.watch(invocation.get_sender());
        return this._input;
    }
};

// The virtual pointer and keyboard, made on first use and kept while the extension runs. What a
// caller holds down is released when it leaves the bus, so a killed run leaves no button or key
// pressed; what the next caller holds is its own and stays.
var MevrikInput = class {
    constructor() {
        const seat = Clutter.get_default_backend().get_default_seat();
        // Settles once the keyboard has joined the seat (or after a second, should the signal
        // not come).
        this.ready = new Promise(resolve => {
            let added = 0, timer = 0;
            const done = () => {
                seat.disconnect(added);
                if (timer)
                    GLib.source_remove(timer);
                resolve();
            };
            timer = GLib.timeout_add(GLib.PRIORITY_DEFAULT, 1000, () => {
                timer = 0;
                done();
                return GLib.SOURCE_REMOVE;
            });
            added = seat.connect('device-added', (_, device) => {
                if (device.get_device_type() === Clutter.InputDeviceType.KEYBOARD_DEVICE)
                    done();
            });
        });
        this._pointer = seat.create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);
        this._keyboard = seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
        // Per caller: the watch on its bus name and what it holds down.
        this._callers = new Map();
    }

    destroy() {
        for (const sender of [...this._callers.keys()])
            this._release(sender);
        this._putKeymapBack();
        this._pointer = null;
        this._keyboard = null;
    }

    watch(sender) {
        if (this._callers.has(sender))
            return;
        const caller = {buttons: new Set(), keys: new Set(), codes: new Set(), watch: 0};
        this._callers.set(sender, caller);
        caller.watch = Gio.bus_watch_name_on_connection(Gio.DBus.session, sender,
            Gio.BusNameWatcherFlags.NONE, null, () => this._release(sender));
    }

    _release(sender) {
        const caller = this._callers.get(sender);
        if (!caller)
            return;
        this._callers.delete(sender);
        Gio.bus_unwatch_name(caller.watch);
        const now = GLib.get_monotonic_time();
        for (const button of caller.buttons)
            this._pointer?.notify_button(now, button, Clutter.ButtonState.RELEASED);
        for (const keyval of caller.keys)
            this._keyboard?.notify_keyval(now, keyval, Clutter.KeyState.RELEASED);
        for (const code of caller.codes)
            this._keyboard?.notify_key(now, code, Clutter.KeyState.RELEASED);
    }

    _held(sender) {
        return this._callers.get(sender) ?? {buttons: new Set(), keys: new Set(), codes: new Set()};
    }

    // Moves only to a point on a monitor: Clutter would clamp any other to the layout's edge. The
    // reply comes once the seat is there, so that a position read next sees it.
    motion(x, y, invocation) {
        const display = global.display;
        let onMonitor = false;
        for (let i = 0; i < display.get_n_monitors(); i++) {
            const r = display.get_monitor_geometry(i);
            if (x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height)
                onMonitor = true;
        }
        if (!onMonitor) {
            invocation.return_value(new GLib.Variant('(b)', [false]));
            return;
        }
        this._pointer.notify_absolute_motion(GLib.get_monotonic_time(), x, y);
        const deadline = GLib.get_monotonic_time() + 200000;
        const arrived = () => {
            const [px, py] = global.get_pointer();
            if ((px === Math.floor(x) && py === Math.floor(y)) || GLib.get_monotonic_time() > deadline) {
                invocation.return_value(new GLib.Variant('(b)', [true]));
                return GLib.SOURCE_REMOVE;
            }
            return GLib.SOURCE_CONTINUE;
        };
        if (arrived() === GLib.SOURCE_CONTINUE)
            GLib.timeout_add(GLib.PRIORITY_DEFAULT, 1, arrived);
    }

    // Clutter's numbers: 1 left, 2 middle, 3 right.
    button(sender, button, pressed) {
        const {buttons} = this._held(sender);
        if (pressed)
            buttons.add(button);
        else
            buttons.delete(button);
        this._pointer.notify_button(GLib.get_monotonic_time(), button,
            pressed ? Clutter.ButtonState.PRESSED : Clutter.ButtonState.RELEASED);
    }

    // Wheel clicks, positive up and left.
    scroll(horizontal, vertical) {
        const now = GLib.get_monotonic_time();
        const steps = (count, positive, negative) => {
            for (let i = 0; i < Math.min(Math.abs(count), 1000); i++) {
                this._pointer.notify_discrete_scroll(now, count > 0 ? positive : negative,
                    Clutter.ScrollSource.WHEEL);
            }
        };
        steps(vertical, Clutter.ScrollDirection.UP, Clutter.ScrollDirection.DOWN);
        steps(horizontal, Clutter.ScrollDirection.LEFT, Clutter.ScrollDirection.RIGHT);
    }

    // Presses and releases keyvals in order; the keymap gives each its key. The reply comes when
    // the main loop has dispatched the last event.
    keys(sender, events, invocation) {
        this._press(sender, events, false).then(() => invocation.return_value(null));
    }

    // Presses and releases keys by their Linux input codes, as a keyboard does, for clients that
    // take no input-method text. `bindings` (xkb key name, keysym) gives spare codes the
    // characters the layout lacks: for this call the keymap becomes the layout in use plus those
    // keys, and the user's keymap and layout come back before the reply, also when the caller
    // leaves the bus midway (its remaining keys are dropped). Calls run one after another. False,
    // and nothing typed, when the keymap cannot be changed (the shell has set none).
    typeKeys(sender, events, bindings, invocation) {
        const run = async () => {
            try {
                if (bindings.length > 0 && !await this._bindSpareKeys(bindings))
                    return false;
                await this._press(sender, events, true);
                if (this._restoreKeymap)
                    await mevrikSleep(MEVRIK_KEYMAP_SETTLE_MS);
            } finally {
                this._putKeymapBack();
            }
            return true;
        };
        this._queue = (this._queue ?? Promise.resolve()).then(run).then(
            typed => invocation.return_value(new GLib.Variant('(b)', [typed])),
            error => invocation.return_error_literal(Gio.DBusError, Gio.DBusError.FAILED,
                `the keys could not be typed: ${error.message}`));
    }

    // Sends key events in order. A modifier's change is paced (MEVRIK_KEY_PACE_MS) so that the keys
    // around it reach the client with the modifier state they were sent with. Ends once the main
    // loop has had time to dispatch the last event, or early when the caller has left the bus.
    async _press(sender, events, byCode) {
        const caller = this._held(sender);
        const held = byCode ? caller.codes : caller.keys;
        const modifiers = byCode ? MEVRIK_MODIFIER_CODES : MEVRIK_MODIFIER_KEYVALS;
        for (let i = 0; i < events.length; i++) {
            if (!this._callers.has(sender))
                return;
            const [key, pressed] = events[i];
            if (pressed)
                held.add(key);
            else
                held.delete(key);
            const state = pressed ? Clutter.KeyState.PRESSED : Clutter.KeyState.RELEASED;
            if (byCode)
                this._keyboard.notify_key(GLib.get_monotonic_time(), key, state);
            else
                this._keyboard.notify_keyval(GLib.get_monotonic_time(), key, state);
            const following = events[i + 1];
            if (following && (modifiers.has(key) || modifiers.has(following[0])))
                await mevrikSleep(MEVRIK_KEY_PACE_MS);
        }
        await mevrikSleep(MEVRIK_KEY_PACE_MS);
    }

    // Makes the keymap the layout in use plus the bindings, from a symbols file that lives only
    // while Mutter compiles it, and answers once the seat has it. Mutter's keymap-changed signal
    // comes after the seat's keyboard has the new map. The shell's own keyboard settings are left
    // as they are: _putKeymapBack sets the map and layout they give then (the user may have
    // switched layouts meanwhile).
    async _bindSpareKeys(bindings) {
        const manager = KeyboardManager.getKeyboardManager();
        const keymap = manager._currentKeymap;
        const group = manager.currentLayout?.groupIndex ?? 0;
        const layout = keymap?.layouts.split(',')[group];
        // Shells that set keymaps otherwise are refused rather than guessed at.
        if (!layout || typeof global.backend.set_keymap !== 'function' ||
            !bindings.every(([name]) => /^[A-Za-z0-9_+-]{1,15}$/.test(name)))
            return false;
        const variant = keymap.variants.split(',')[group];
        const keys = bindings.map(([name, keysym]) => `    key <${name}> { [ 0x${keysym.toString(16)} ] };\n`);
        const text = `default xkb_symbols "basic" {\n    include "${variant ? `${layout}(${variant})` : layout}"\n` +
            `${keys.join('')}};\n`;
        const backend = global.backend;
        // GNOME 46 and later also give the keyboard model.
        const set = (layouts, variants, options) => {
            const args = [layouts, variants, options];
            if ('model' in keymap)
                args.push(keymap.model);
            backend.set_keymap(...args);
        };
        const changed = new Promise(resolve => {
            let handler = 0;
            const timer = GLib.timeout_add(GLib.PRIORITY_DEFAULT, 500, () => {
                backend.disconnect(handler);
                resolve();
                return GLib.SOURCE_REMOVE;
            });
            handler = backend.connect('keymap-changed', () => {
                backend.disconnect(handler);
                GLib.source_remove(timer);
                resolve();
            });
        });
        // The folders are made for the file if need be and go with it, so nothing of ours stays.
        const config = GLib.get_user_config_dir();
        const folders = [GLib.build_filenamev([config, 'xkb']), GLib.build_filenamev([config, 'xkb', 'symbols'])]
            .filter(folder => !GLib.file_test(folder, GLib.FileTest.IS_DIR));
        const file = GLib.build_filenamev([config, 'xkb', 'symbols', MEVRIK_TYPING_LAYOUT]);
        try {
            GLib.mkdir_with_parents(GLib.path_get_dirname(file), 0o700);
            GLib.file_set_contents(file, text);
            this._restoreKeymap = () => {
                this.typingKeymap = null;
                const now = manager._currentKeymap ?? keymap;
                set(now.layouts, now.variants, now.options);
                backend.lock_layout_group(manager.currentLayout?.groupIndex ?? group);
            };
            this.typingKeymap = {layouts: MEVRIK_TYPING_LAYOUT, variants: '', options: keymap.options, group: 0};
            set(MEVRIK_TYPING_LAYOUT, '', keymap.options);
            backend.lock_layout_group(0);
        } finally {
            GLib.unlink(file);
            for (const folder of folders.reverse())
                GLib.rmdir(folder);
        }
        await changed;
        return true;
    }

    _putKeymapBack() {
        const restore = this._restoreKeymap;
        this._restoreKeymap = null;
        restore?.();
    }

    // Commits the text to the focused client's text input, as an input method does; false when
    // no focused element takes text that way (no text field, or an X11 window). The reply comes
    // after the main loop's idle work, which sends the text to the client.
    commit(text, invocation) {
        if (!Main.inputMethod.currentFocus) {
            invocation.return_value(new GLib.Variant('(b)', [false]));
            return;
        }
        Main.inputMethod.commit(text);
        GLib.idle_add(GLib.PRIORITY_LOW, () => {
            invocation.return_value(new GLib.Variant('(b)', [true]));
            return GLib.SOURCE_REMOVE;
        });
    }
};
