// GNOME Shell 45 and later load extensions as ES modules.
import Clutter from 'gi://Clutter';
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import Meta from 'gi://Meta';
import Shell from 'gi://Shell';
import * as KeyboardManager from 'resource:///org/gnome/shell/misc/keyboardManager.js';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

// @MEVRIK_SERVICE@

export default class MevrikShellExtension extends Extension {
    enable() {
        this._service = new MevrikShellService();
        this._service.enable();
    }

    disable() {
        this._service?.disable();
        this._service = null;
    }
}
