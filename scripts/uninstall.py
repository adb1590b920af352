#!/usr/bin/env python3
"""Removes what the Mevrik installer made, and what Codex made for the Mevrik plug-in, and
nothing else: Codex's installation of it (`codex plugin remove mevrik@MARKETPLACE` where that
command exists, then what is left of its cache folder and of its [plugins."mevrik@..."] tables in
config.toml), its marketplace entry, the laid-out plug-in folder, the uv environment of the setup
application and a saved API key. It acts on what the installer recorded in
$XDG_DATA_HOME/mevrik/install-manifest.json and on marketplace entries that point at the plug-in
folder. A marketplace file is deleted only when it is still exactly what the installer created.

A file it cannot read, or may not change (read-only, or an edit that would touch more than our
tables), is left as it is and named with what to remove by hand; the status is then 1. Running
it again changes nothing. Exit status 0 when everything is removed.
"""
import copy
import json
import os
import re
import shutil
import sys

sys.dont_write_bytecode = True  # nothing is written beside an installed script
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mevrik_codex as mc  # noqa: E402

try:
    import tomllib
except ImportError:  # Python before 3.11: config.toml is then never edited
    tomllib = None

KEY = r'(?:[A-Za-z0-9_-]+|"(?:[^"\\]|\\.)*"|\'[^\']*\')'
HEADER = re.compile(r'\s*\[\[?\s*(%s(?:\s*\.\s*%s)*)\s*\]\]?\s*(#.*)?$' % (KEY, KEY))
KEY_PART = re.compile(KEY)


def points_at_us(entry):
    """True for a marketplace entry whose local source is our laid-out plug-in folder."""
    if not isinstance(entry, dict) or entry.get("name") != mc.PLUGIN:
        return False
    source = entry.get("source")
    if not isinstance(source, dict) or source.get("source") != "local":
        return False
    path = source.get("path")
    if not isinstance(path, str) or os.path.isabs(path):
        return False
    return (os.path.normpath(path) == os.path.normpath(mc.PLUGIN_FOLDER) or
            os.path.realpath(os.path.join(mc.home(), path)) == os.path.realpath(mc.plugin_folder()))


def read_marketplace(notes):
    """(text, document) of the marketplace file; (None, None) when there is none or it cannot be
    read (then with a note)."""
    path = mc.marketplace_path()
    try:
        text = mc.read_text(path)
        return (text, mc.parse_marketplace(text)) if text is not None else (None, None)
    except (OSError, UnicodeDecodeError, ValueError) as error:
        notes.append("%s を読めないため、そのままにしました (%s)。Mevrik の項目があれば手で削除して"
                     "ください。" % (path, error))
        return None, None


def our_marketplaces(manifest, document, notes):
    """The names of the marketplaces Codex may know our plug-in from: those the installer recorded
    and the user's marketplace when it has an entry pointing at our folder. Each must be usable as
    one folder name, since it is joined into paths under Codex's cache."""
    names = []
    record = manifest.get("marketplace") or {}
    if isinstance(record.get("names"), list):
        names += record["names"]
    names += [str(r.get("selector", "")).partition("@")[2] for r in manifest.get("codex", [])
              if isinstance(r, dict)]
    if document and any(points_at_us(p) for p in document.get("plugins", [])):
        names.append(document.get("name", mc.DEFAULT_MARKETPLACE))
    kept = []
    for name in names:
        if not mc.is_component(name):
            notes.append("マーケットプレイス名 %r はフォルダ名として使えないため、それに関わるものは"
                         "削除しません。" % (name,))
        elif name not in kept:
            kept.append(name)
    return kept


def remove_tree(path, container, notes, what):
    """Removes the folder at path when it lies inside container (links resolved) and is not itself
    a link; otherwise leaves it and says so."""
    if not os.path.lexists(path):
        return
    if not (os.path.isdir(path) and mc.lies_in(path, container) and
            mc.lies_in(container, os.path.dirname(container))):
        notes.append("%s (%s) は想定した場所にないため、削除しませんでした。" % (path, what))
        return
    shutil.rmtree(path)


def remove_if_empty(path):
    try:
        os.rmdir(path)
    except OSError:
        pass


def remove_from_codex(names, notes):
    config = os.path.join(mc.codex_home(), "config.toml")
    cache = mc.codex_cache()
    if mc.codex_command():
        try:
            config_text = mc.read_text(config) or ""
        except (OSError, UnicodeDecodeError):
            config_text = ""
        for name in names:
            selector = mc.selector(name)
            if os.path.isdir(os.path.join(cache, name, mc.PLUGIN)) or selector in config_text:
                ok, output = mc.run_codex(["plugin", "remove", selector])
                if not ok:
                    print("codex plugin remove %s: %s" % (selector, output.strip()))
    # Whatever Codex left (or all of it, without the codex command).
    for name in names:
        folder = os.path.join(cache, name)
        remove_tree(os.path.join(folder, mc.PLUGIN), folder, notes, "Codex のキャッシュ")
        if os.path.isdir(folder) and mc.lies_in(folder, cache):
            remove_if_empty(folder)
    remove_config_tables(config, [mc.selector(n) for n in names], notes)


def key_parts(dotted):
    parts = []
    for token in KEY_PART.findall(dotted):
        if token[0] == '"':
            try:
                token = json.loads(token)
            except ValueError:
                token = token[1:-1]
        elif token[0] == "'":
            token = token[1:-1]
        parts.append(token)
    return parts


def table_headers(text):
    """For each line of text: the key parts of the table header it holds, or None for a line that
    is no header (a key, a comment, or a line inside a multi-line string or array)."""
    headers = []
    in_string = None  # '"""' or "'''" while inside a multi-line string
    depth = 0  # open brackets and braces of a value that goes on over lines
    for line in text.splitlines(keepends=True):
        if in_string is None and depth == 0:
            match = HEADER.match(line)
            if match:
                headers.append(key_parts(match.group(1)))
                continue
        headers.append(None)
        i = 0
        while i < len(line):
            if in_string:
                if in_string == '"""' and line[i] == "\\":
                    i += 2
                    continue
                if line.startswith(in_string, i):
                    i += 3
                    while i < len(line) and line[i] == in_string[0]:
                        i += 1  # up to two quotes may stand before the closing ones
                    in_string = None
                    continue
                i += 1
                continue
            c = line[i]
            if c == "#":
                break
            if line.startswith('"""', i) or line.startswith("'''", i):
                in_string = line[i:i + 3]
                i += 3
                continue
            if c in "\"'":
                j = i + 1
                while j < len(line) and line[j] != c and line[j] != "\n":
                    j += 2 if c == '"' and line[j] == "\\" else 1
                i = j + 1
                continue
            if c in "[{":
                depth += 1
            elif c in "]}":
                depth = max(0, depth - 1)
            i += 1
    return headers


def without_tables(text, selectors):
    """text without the tables [plugins."SELECTOR"] and their sub-tables; a run of comment lines
    just before the next table stays with it."""
    lines = text.splitlines(keepends=True)
    headers = table_headers(text)
    keep = [True] * len(lines)
    i = 0
    while i < len(lines):
        parts = headers[i]
        if parts and len(parts) >= 2 and parts[0] == "plugins" and parts[1] in selectors:
            end = i + 1
            while end < len(lines) and headers[end] is None:
                end += 1
            stop = end
            while stop > i + 1 and lines[stop - 1].lstrip().startswith("#") and end < len(lines):
                stop -= 1
            for k in range(i, stop):
                keep[k] = False
            i = end
        else:
            i += 1
    return "".join(line for line, k in zip(lines, keep) if k)


def remove_config_tables(path, selectors, notes):
    """Drops our [plugins."mevrik@..."] tables (sub-tables included) from Codex's config.toml when
    a TOML parser confirms that the edited file parses and differs from the original by exactly
    those tables; otherwise leaves the file as it is and tells the user what to remove."""
    by_hand = "%s から次の表 (その下の表も含む) を手で削除してください: %s" % (
        path, " ".join('[plugins."%s"]' % s for s in selectors))
    with mc.locked(path):
        try:
            text = mc.read_text(path)
        except (OSError, UnicodeDecodeError) as error:
            notes.append("%s を読めないため、そのままにしました (%s)。" % (path, error))
            return
        if text is None or not any(s in text for s in selectors):
            return
        if tomllib is None:
            notes.append("Python 3.11 以降がないため %s は変更しません。%s" % (path, by_hand))
            return
        edited = without_tables(text, selectors)
        try:
            original = tomllib.loads(text)
            expected = copy.deepcopy(original)
            plugins = expected.get("plugins")
            if isinstance(plugins, dict):
                for selector in selectors:
                    plugins.pop(selector, None)
            result = tomllib.loads(edited)
            if plugins == {} and "plugins" not in result:
                del expected["plugins"]
            sound = result == expected
        except tomllib.TOMLDecodeError:
            sound = False
        if not sound:
            notes.append("%s は自動では安全に変更できないため、そのままにしました。%s" % (path, by_hand))
            return
        try:
            mc.write_atomically(path, edited)
        except mc.Failure as failure:
            notes.append("%s %s" % (failure, by_hand))


def remove_from_marketplace(manifest, notes):
    path = mc.marketplace_path()
    with mc.locked(path):
        text, document = read_marketplace([])  # unreadable: said already
        if document is None:
            return
        plugins = document.get("plugins", [])
        remaining = [p for p in plugins if not points_at_us(p)]
        if len(remaining) == len(plugins):
            return
        record = manifest.get("marketplace") or {}
        try:
            if (record.get("created") is True and record.get("sha256") == mc.sha256(text)
                    and not remaining and not os.path.islink(path)):
                mc.check_writable(path)
                os.unlink(path)
            else:
                document["plugins"] = remaining
                mc.write_atomically(path, mc.dump_json(document))
        except mc.Failure as failure:
            notes.append("%s Mevrik の項目 (\"name\": \"mevrik\") を手で削除してください。" % failure)
            return
    if not os.path.exists(path):
        remove_if_empty(os.path.dirname(path))
        remove_if_empty(os.path.dirname(os.path.dirname(path)))


def remove_local_files(notes):
    folder = mc.plugin_folder()
    if os.path.lexists(folder):
        try:
            with open(os.path.join(folder, ".codex-plugin", "plugin.json"), encoding="utf-8") as f:
                ours = json.load(f).get("name") == mc.PLUGIN
        except (OSError, ValueError, AttributeError):
            ours = False
        if ours:
            remove_tree(folder, os.path.dirname(folder), notes, "プラグインのフォルダ")
        else:
            notes.append("%s は Mevrik のプラグインではないため、削除しませんでした。" % folder)
    # The uv environment: only the exact folder the setup application gives uv.
    venv = mc.uv_environment()
    remove_tree(venv, os.path.dirname(venv), notes, "uv の環境")
    if mc.lies_in(os.path.dirname(venv), os.path.dirname(os.path.dirname(venv))):
        remove_if_empty(os.path.dirname(venv))
    config = os.environ.get("XDG_CONFIG_HOME") or os.path.join(mc.home(), ".config")
    key = os.path.join(config, "mevrik", "api_key")
    if os.path.lexists(key) and mc.lies_in(os.path.dirname(key), config):
        os.unlink(key)
        remove_if_empty(os.path.dirname(key))


def uninstall():
    notes = []
    manifest = mc.read_manifest()
    _, document = read_marketplace(notes)
    remove_from_codex(our_marketplaces(manifest, document, notes), notes)
    remove_from_marketplace(manifest, notes)
    remove_local_files(notes)
    if notes:
        # The record stays, so that a later run can finish the job.
        raise mc.Failure("\n".join(notes))
    if os.path.lexists(mc.manifest_path()):
        os.unlink(mc.manifest_path())
    remove_if_empty(os.path.dirname(mc.manifest_path()))
    remove_if_empty(os.path.dirname(mc.plugin_folder()))
    print("Mevrik の Codex 連携を削除しました。")


if __name__ == "__main__":
    mc.main(uninstall)
