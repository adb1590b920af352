// GNOME Shell 43 and 44 load extensions as legacy scripts.
const {Clutter, Gio, GLib, Meta, Shell} = imports.gi;
const Main = imports.ui.main;
const KeyboardManager = imports.misc.keyboardManager;

// @MEVRIK_SERVICE@

function init() {
    return new MevrikShellService();
}
