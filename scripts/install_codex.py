#!/usr/bin/env python3
"""Adds the Mevrik plug-in to Codex for the current user.

1. Lays the plug-in folder out under the home folder, with the absolute path of the installed
   mevrik-mcp written into its .mcp.json (Codex runs `command` as written and copies plug-ins
   without symbolic links).
2. Adds or updates the "mevrik" entry of ~/.agents/plugins/marketplace.json, keeping every other
   entry and field.
3. Where the codex command is on PATH and no application handles codex:// links, installs the
   plug-in with `codex plugin add` (otherwise the setup application opens Codex's plug-in page).

Everything it makes is recorded in $XDG_DATA_HOME/mevrik/install-manifest.json (default
~/.local/share), which the uninstaller acts on. Repeated runs change nothing. Exit status 0 on
success; otherwise a message and status 1.
Environment: MEVRIK_MCP names the server to use instead of the installed one.
"""
import filecmp
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing is written beside an installed script
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mevrik_codex as mc  # noqa: E402

PRODUCT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def find_server():
    """The mevrik-mcp to write into .mcp.json: MEVRIK_MCP, else the one installed beside the
    product folder (<prefix>/share/mevrik/product -> <prefix>/bin), else the one on PATH."""
    candidates = [os.environ.get("MEVRIK_MCP", "")]
    if PRODUCT.replace(os.sep, "/").endswith("/share/mevrik/product"):
        candidates.append(os.path.join(PRODUCT, "..", "..", "..", "bin", "mevrik-mcp"))
    candidates.append(shutil.which("mevrik-mcp") or "")
    for candidate in candidates:
        if candidate and os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return os.path.realpath(candidate)
    raise mc.Failure("mevrik-mcp が見つかりません。Mevrik をインストールし直してください。")


def same_tree(a, b):
    """True when folders a and b hold the same files with the same contents."""
    comparison = filecmp.dircmp(a, b, ignore=[])
    if comparison.left_only or comparison.right_only or comparison.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, comparison.common_files, shallow=False)
    if mismatch or errors:
        return False
    return all(same_tree(os.path.join(a, d), os.path.join(b, d)) for d in comparison.common_dirs)


def lay_out_plugin(server):
    """Copies the plug-in folder to its place under the home folder, replacing an older copy
    in one rename; leaves an identical copy untouched."""
    source = os.path.join(PRODUCT, "plugin")
    if not os.path.isfile(os.path.join(source, ".codex-plugin", "plugin.json")):
        raise mc.Failure("プラグインのファイルがありません: %s" % source)
    target = mc.plugin_folder()
    parent = os.path.dirname(target)
    os.makedirs(parent, exist_ok=True)
    staged = tempfile.mkdtemp(prefix=".codex-plugin-", dir=parent)
    try:
        shutil.rmtree(staged)
        shutil.copytree(source, staged, symlinks=False)
        with open(os.path.join(staged, ".mcp.json"), encoding="utf-8") as f:
            servers = json.load(f)
        servers["mcpServers"]["mevrik"]["command"] = server
        with open(os.path.join(staged, ".mcp.json"), "w", encoding="utf-8") as f:
            f.write(mc.dump_json(servers))
        if os.path.isdir(target) and same_tree(staged, target):
            return
        if os.path.lexists(target):
            old = tempfile.mkdtemp(prefix=".codex-plugin-old-", dir=parent)
            os.replace(target, os.path.join(old, "plugin"))
            os.replace(staged, target)
            shutil.rmtree(old)
        else:
            os.replace(staged, target)
    finally:
        shutil.rmtree(staged, ignore_errors=True)


def add_to_marketplace(manifest):
    """Adds or updates our entry; returns the marketplace's name. Records in manifest whether the
    file is still exactly the one this installer created (only then may the uninstaller delete
    it)."""
    path = mc.marketplace_path()
    with mc.locked(path):
        try:
            text = mc.read_text(path)
        except (OSError, UnicodeDecodeError) as error:
            raise mc.Failure("%s を読めないため、変更しません: %s" % (path, error))
        document = None
        if text is not None:
            try:
                document = mc.parse_marketplace(text)
            except ValueError:
                mc.backup_unusable(path)
        previous = manifest.get("marketplace") or {}
        created = document is None or (previous.get("created") is True
                                       and previous.get("sha256") == mc.sha256(text))
        if document is None:
            document = {"name": mc.DEFAULT_MARKETPLACE,
                        "interface": {"displayName": "Local plugins"},
                        "plugins": []}
        if "name" not in document:
            document["name"] = mc.DEFAULT_MARKETPLACE
        name = document["name"]
        if not mc.is_component(name):
            raise mc.Failure("%s のマーケットプレイス名 %s はフォルダ名として使えないため、変更しません。"
                             % (path, json.dumps(name, ensure_ascii=False)))
        interface = document.get("interface")
        if not isinstance(interface, dict):
            interface = document["interface"] = {}
        interface.setdefault("displayName", "Local plugins")
        plugins = document.setdefault("plugins", [])
        entry = next((p for p in plugins if isinstance(p, dict) and p.get("name") == mc.PLUGIN),
                     None)
        if entry is None:
            entry = {"name": mc.PLUGIN}
            plugins.append(entry)
        entry["source"] = {"source": "local", "path": "./" + mc.PLUGIN_FOLDER}
        entry["policy"] = {"installation": "AVAILABLE", "authentication": "ON_INSTALL"}
        entry.setdefault("category", "Productivity")
        written = mc.dump_json(document)
        mc.write_atomically(path, written)
    names = [n for n in previous.get("names", []) if mc.is_component(n) and n != name] + [name]
    manifest["marketplace"] = {"path": path, "created": created, "sha256": mc.sha256(written),
                               "names": names}
    return name


def record_codex(manifest, marketplace, added):
    """Records what Codex makes for our entry in marketplace: its cache folder and its table in
    config.toml (whether this installer ran `codex plugin add` or the user installs from the
    Codex app)."""
    records = [r for r in manifest.get("codex", []) if isinstance(r, dict)]
    old = next((r for r in records if r.get("selector") == mc.selector(marketplace)), {})
    records = [r for r in records if r is not old]
    records.append({"selector": mc.selector(marketplace),
                    "cache": os.path.join(mc.codex_cache(), marketplace, mc.PLUGIN),
                    "config_table": 'plugins."%s"' % mc.selector(marketplace),
                    "added_by_installer": added or old.get("added_by_installer") is True})
    manifest["codex"] = records


def codex_links_handled():
    """True when an application is registered for codex:// links (the desktop app)."""
    if sys.platform == "darwin":
        return True
    if not shutil.which("xdg-mime"):
        return False
    try:
        done = subprocess.run(["xdg-mime", "query", "default", "x-scheme-handler/codex"],
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=10)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return bool(done.stdout.strip())


def installed_in_codex(marketplace):
    """True when Codex already has this very plug-in enabled in its cache."""
    with open(os.path.join(mc.plugin_folder(), ".codex-plugin", "plugin.json"), encoding="utf-8") as f:
        version = json.load(f).get("version", "local")
    cached = os.path.join(mc.codex_cache(), marketplace, mc.PLUGIN, version)
    try:
        with open(os.path.join(mc.codex_home(), "config.toml"), encoding="utf-8") as f:
            enabled = '[plugins."%s@%s"]' % (mc.PLUGIN, marketplace) in f.read()
    except (OSError, UnicodeDecodeError):
        enabled = False
    return enabled and os.path.isdir(cached) and same_tree(mc.plugin_folder(), cached)


def install():
    server = find_server()
    manifest = mc.read_manifest()
    manifest["version"] = 1
    manifest["plugin_folder"] = mc.plugin_folder()
    # Recorded before anything is made, so an interrupted run still leaves a record.
    mc.write_manifest(manifest)
    lay_out_plugin(server)
    marketplace = add_to_marketplace(manifest)
    record_codex(manifest, marketplace, False)
    mc.write_manifest(manifest)
    print("Mevrik プラグインを %s に登録しました。" % mc.marketplace_path())
    if mc.codex_command() and not codex_links_handled() and not installed_in_codex(marketplace):
        ok, output = mc.run_codex(["plugin", "add", mc.selector(marketplace)])
        if not ok:
            raise mc.Failure("codex plugin add に失敗しました:\n" + output.strip())
        record_codex(manifest, marketplace, True)
        mc.write_manifest(manifest)
        print("Codex にプラグインをインストールしました。")


if __name__ == "__main__":
    mc.main(install)
