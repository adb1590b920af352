// GNOME Shell 43 and 44 load extensions as legacy scripts.
const {Gio} = imports.gi;

// @MEVRIK_SERVICE@

function init() {
    return new MevrikShellService();
}
