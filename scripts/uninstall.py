#!/usr/bin/env python3
"""Removes what the Mevrik installer and Codex made for the Mevrik plug-in, and nothing else:
Codex's installation of it (through `codex plugin remove` where that command exists, then its
cache folders and its [plugins."mevrik@..."] table in config.toml), its marketplace entry (a
marketplace left empty is removed), the laid-out plug-in folder, the uv environment and a saved
API key. Running it again changes nothing. Exit status 0 on success; otherwise a message and 1.
"""
import os
import re
import shutil
import sys

sys.dont_write_bytecode = True  # nothing is written beside an installed script
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mevrik_codex as mc  # noqa: E402

TABLE = re.compile(r"^\s*\[")
OUR_TABLE = re.compile(r'^\s*\[\s*plugins\s*\.\s*"%s@[^"]*"\s*\]\s*(#.*)?$' % mc.PLUGIN)


def remove_folder(path):
    if os.path.islink(path) or os.path.isfile(path):
        os.unlink(path)
    elif os.path.isdir(path):
        shutil.rmtree(path)


def remove_if_empty(path):
    try:
        os.rmdir(path)
    except OSError:
        pass


def marketplaces_with_us():
    """The names of the marketplaces Codex may know our plug-in from."""
    names = {mc.DEFAULT_MARKETPLACE}
    document = mc.read_marketplace(mc.marketplace_path())
    if document and isinstance(document.get("name"), str):
        names.add(document["name"])
    cache = os.path.join(mc.codex_home(), "plugins", "cache")
    if os.path.isdir(cache):
        names.update(n for n in os.listdir(cache) if os.path.isdir(os.path.join(cache, n, mc.PLUGIN)))
    return sorted(names)


def remove_from_codex(names):
    if mc.codex_command():
        config = os.path.join(mc.codex_home(), "config.toml")
        for name in names:
            selector = "%s@%s" % (mc.PLUGIN, name)
            installed = os.path.isdir(os.path.join(mc.codex_home(), "plugins", "cache", name,
                                                   mc.PLUGIN))
            if installed or selector in read_text(config):
                ok, output = mc.run_codex(["plugin", "remove", selector])
                if not ok:
                    print("codex plugin remove %s: %s" % (selector, output.strip()))
    # Whatever Codex left (or all of it, without the codex command).
    cache = os.path.join(mc.codex_home(), "plugins", "cache")
    for name in names:
        remove_folder(os.path.join(cache, name, mc.PLUGIN))
        remove_if_empty(os.path.join(cache, name))
    remove_config_tables(os.path.join(mc.codex_home(), "config.toml"))


def read_text(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except (FileNotFoundError, UnicodeDecodeError):
        return ""


def remove_config_tables(path):
    """Drops every [plugins."mevrik@..."] table (its header and its lines up to the next table)
    from Codex's config.toml; the rest of the file stays as it is."""
    text = read_text(path)
    if not text:
        return
    kept, skipping = [], False
    for line in text.splitlines(keepends=True):
        if TABLE.match(line):
            skipping = bool(OUR_TABLE.match(line))
        if not skipping:
            kept.append(line)
    mc.write_atomically(path, "".join(kept))


def remove_from_marketplace():
    path = mc.marketplace_path()
    document = mc.read_marketplace(path)
    if document is None:
        return
    plugins = document.get("plugins", [])
    ours = "./" + mc.PLUGIN_FOLDER
    remaining = [p for p in plugins
                 if not (isinstance(p, dict) and p.get("name") == mc.PLUGIN
                         and isinstance(p.get("source"), dict)
                         and os.path.normpath(str(p["source"].get("path", ""))) ==
                         os.path.normpath(ours))]
    if len(remaining) == len(plugins):
        return
    if remaining:
        document["plugins"] = remaining
        mc.write_atomically(path, mc.dump_json(document))
    else:
        os.unlink(path)
        remove_if_empty(os.path.dirname(path))
        remove_if_empty(os.path.dirname(os.path.dirname(path)))


def remove_local_files():
    folder = mc.plugin_folder()
    remove_folder(folder)
    remove_if_empty(os.path.dirname(folder))
    # The uv environment the setup application points its scripts to.
    venv = os.environ.get("UV_PROJECT_ENVIRONMENT", "")
    if venv and os.path.basename(os.path.dirname(venv)) == "com.fennick.mevrik":
        remove_folder(venv)
        remove_if_empty(os.path.dirname(venv))
    config = os.environ.get("XDG_CONFIG_HOME") or os.path.join(mc.home(), ".config")
    key = os.path.join(config, "mevrik", "api_key")
    if os.path.lexists(key):
        os.unlink(key)
        remove_if_empty(os.path.dirname(key))


def uninstall():
    remove_from_codex(marketplaces_with_us())
    remove_from_marketplace()
    remove_local_files()
    print("Mevrik の Codex 連携を削除しました。")


if __name__ == "__main__":
    mc.main(uninstall)
