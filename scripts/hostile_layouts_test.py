#!/usr/bin/env python3
"""The installer, the uninstaller and the connection check against hostile or unusual home
folders: each layout is set up in a scratch home, the scripts run as the setup application runs
them, and the check is that nothing but our own things changed. A stub `codex` on PATH records
its arguments. Prints one line per layout and "N passed, N failed"."""
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import tomllib

SCRIPTS = os.path.dirname(os.path.abspath(__file__))
OURS = "./.local/share/mevrik/codex-plugin"
ENTRY = {"name": "mevrik", "source": {"source": "local", "path": OURS}}
OTHER = {"name": "other", "source": {"source": "local", "path": "./other"}, "note": "keep me"}


class Home:
    def __init__(self, root):
        self.path = os.path.join(root, "home")
        self.bin = os.path.join(root, "bin")
        self.log = os.path.join(root, "codex.log")
        os.makedirs(self.path)
        os.makedirs(self.bin)
        self.write(os.path.join(self.bin, "codex"),
                   '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s"\n' % self.log, 0o755)
        self.write(os.path.join(self.bin, "mevrik-mcp"), "#!/bin/sh\n", 0o755)

    def p(self, *parts):
        return os.path.join(self.path, *parts)

    def write(self, path, text, mode=0o644):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        os.chmod(path, mode)

    def read(self, *parts):
        with open(self.p(*parts), encoding="utf-8") as f:
            return f.read()

    def market(self, document):
        self.write(self.p(".agents/plugins/marketplace.json"), json.dumps(document))

    def run(self, script, extra=None, shell=None):
        env = {"HOME": self.path, "PATH": self.bin + ":/usr/bin:/bin", "LANG": "C.UTF-8",
               "MEVRIK_MCP": os.path.join(self.bin, "mevrik-mcp"),
               "UV_PROJECT_ENVIRONMENT": self.p(".cache/com.fennick.mevrik/venv")}
        env.update(extra or {})
        command = shell or [sys.executable, os.path.join(SCRIPTS, script)]
        done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=60)
        return done.returncode, done.stdout + done.stderr

    def install(self, **kw):
        code, out = self.run("install_codex.py", **kw)
        assert code == 0, out
        return out

    def codex_calls(self):
        try:
            with open(self.log) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []


def tree(path):
    """Every file and folder below path with its content, for before/after comparisons."""
    found = {}
    for folder, dirs, files in os.walk(path):
        for name in dirs + files:
            full = os.path.join(folder, name)
            found[full] = os.readlink(full) if os.path.islink(full) else (
                open(full, "rb").read() if os.path.isfile(full) else None)
    return found


def user_folder(h, name):
    h.write(h.p(name, "mevrik", "keep.txt"), "mine")
    h.write(h.p(name, "notes.txt"), "mine")
    return tree(h.p(name))


def hostile_name(name_of):
    """A shared marketplace whose name leads out of Codex's cache; folders that name reaches."""
    def layout(h):
        before = user_folder(h, "Projects")
        h.market({"name": name_of(h), "plugins": [OTHER, ENTRY]})
        h.write(h.p(".codex/plugins/cache/mevrik/x/keep.txt"), "another marketplace's")
        code, out = h.run("uninstall.py")
        assert tree(h.p("Projects")) == before, "a folder outside the cache changed"
        assert os.path.exists(h.p(".codex/plugins/cache/mevrik/x/keep.txt")), "other cache gone"
        assert all(c == "plugin remove mevrik@local" or "@" not in c for c in h.codex_calls()), \
            h.codex_calls()
        assert json.loads(h.read(".agents/plugins/marketplace.json"))["plugins"] == [OTHER]
        assert code == 1 and "フォルダ名として使えない" in out, out
    return layout


def foreign_cache_entries(h):
    h.install()
    for name in ("team2", "mevrik"):  # another marketplace's plug-in of the same name
        h.write(h.p(".codex/plugins/cache", name, "mevrik/1/keep.txt"), "theirs")
    h.write(h.p(".codex/plugins/cache/local/mevrik/0.1.0/x"), "ours")
    code, out = h.run("uninstall.py")
    assert code == 0, out
    assert os.path.exists(h.p(".codex/plugins/cache/team2/mevrik/1/keep.txt"))
    assert os.path.exists(h.p(".codex/plugins/cache/mevrik/mevrik/1/keep.txt"))
    assert not os.path.exists(h.p(".codex/plugins/cache/local"))
    removes = [c for c in h.codex_calls() if c.startswith("plugin remove")]
    assert removes == ["plugin remove mevrik@local"], removes


def uv_environment_dot_dot(h):
    before = user_folder(h, "Documents")
    h.write(h.p(".cache/com.fennick.mevrik/venv/pyvenv.cfg"), "x")
    code, out = h.run("uninstall.py", {
        "UV_PROJECT_ENVIRONMENT": h.p("Documents/com.fennick.mevrik/..")})
    assert code == 0, out
    assert tree(h.p("Documents")) == before
    assert not os.path.exists(h.p(".cache/com.fennick.mevrik"))


def uv_environment_through_link(h):
    before = user_folder(h, "Documents")
    os.makedirs(h.p("Documents/venv"))
    before = tree(h.p("Documents"))
    os.makedirs(h.p(".cache"))
    os.symlink(h.p("Documents"), h.p(".cache/com.fennick.mevrik"))
    code, out = h.run("uninstall.py")
    assert tree(h.p("Documents")) == before
    assert code == 1 and "uv" in out, out


def plugin_folder_link(h):
    before = user_folder(h, "Projects")
    h.write(h.p("Projects/.codex-plugin/plugin.json"), '{"name": "mevrik"}')
    before = tree(h.p("Projects"))
    os.makedirs(h.p(".local/share/mevrik"))
    os.symlink(h.p("Projects"), h.p(".local/share/mevrik/codex-plugin"))
    code, out = h.run("uninstall.py")
    assert tree(h.p("Projects")) == before and code == 1, out


CONFIG = '''model = "m"
[notes]
text = """
[plugins."mevrik@local"]
enabled = false
"""
[plugins."mevrik@local"]
enabled = true

[plugins."mevrik@local".mcp_servers.x]
command = "y"
list = [
  [1, 2],
]
# about the next table
[plugins."other@local"]
enabled = true
'''


def config_tables(h):
    h.install()
    h.write(h.p(".codex/config.toml"), CONFIG)
    code, out = h.run("uninstall.py")
    assert code == 0, out
    after = tomllib.loads(h.read(".codex/config.toml"))
    assert after == {"model": "m", "notes": tomllib.loads(CONFIG)["notes"],
                     "plugins": {"other@local": {"enabled": True}}}, after
    assert "# about the next table" in h.read(".codex/config.toml")


def config_inline_table(h):
    h.install()
    text = '[plugins]\n"mevrik@local" = { enabled = true }\n'
    h.write(h.p(".codex/config.toml"), text)
    code, out = h.run("uninstall.py")
    assert h.read(".codex/config.toml") == text
    assert code == 1 and '[plugins."mevrik@local"]' in out, out


def user_marketplace_kept(h):
    h.market({"name": "mine", "owner": "me", "plugins": []})
    h.install()
    code, out = h.run("uninstall.py")
    assert code == 0, out
    assert json.loads(h.read(".agents/plugins/marketplace.json")) == {
        "name": "mine", "owner": "me", "plugins": [],
        "interface": {"displayName": "Local plugins"}}


def created_marketplace_removed(h):
    h.install()
    h.install()
    code, out = h.run("uninstall.py")
    assert code == 0, out
    assert not os.path.exists(h.p(".agents")) and not os.path.exists(h.p(".local/share/mevrik"))


def edited_after_install(h):
    h.install()
    document = json.loads(h.read(".agents/plugins/marketplace.json"))
    document["plugins"].append(OTHER)
    h.market(document)
    h.install()
    code, out = h.run("uninstall.py")
    assert code == 0, out
    assert json.loads(h.read(".agents/plugins/marketplace.json"))["plugins"] == [OTHER]


def unreadable_marketplace(h):
    for raw in (b'{"name": "x", oops', b'\xff\xfe{}'):
        h.write(h.p(".agents/plugins/marketplace.json"), "")
        with open(h.p(".agents/plugins/marketplace.json"), "wb") as f:
            f.write(raw)
        code, out = h.run("uninstall.py")
        assert code == 1 and "marketplace.json" in out, out
        assert os.listdir(h.p(".agents/plugins")) == ["marketplace.json"]
        assert open(h.p(".agents/plugins/marketplace.json"), "rb").read() == raw


def symlinked_files(h):
    h.write(h.p("dotfiles/market.json"), json.dumps({"name": "dots", "plugins": [OTHER]}), 0o600)
    h.write(h.p("dotfiles/config.toml"), '[plugins."other@dots"]\nenabled = true\n')
    os.makedirs(h.p(".agents/plugins"))
    os.makedirs(h.p(".codex"))
    os.symlink("../../dotfiles/market.json", h.p(".agents/plugins/marketplace.json"))
    os.symlink(h.p("dotfiles/config.toml"), h.p(".codex/config.toml"))
    h.install()
    assert os.path.islink(h.p(".agents/plugins/marketplace.json"))
    assert stat.S_IMODE(os.stat(h.p("dotfiles/market.json")).st_mode) == 0o600
    assert "mevrik" in h.read("dotfiles/market.json")
    with open(h.p("dotfiles/config.toml"), "a") as f:
        f.write('[plugins."mevrik@dots"]\nenabled = true\n')
    code, out = h.run("uninstall.py")
    assert code == 0, out
    assert os.path.islink(h.p(".agents/plugins/marketplace.json"))
    assert os.path.islink(h.p(".codex/config.toml"))
    assert json.loads(h.read("dotfiles/market.json"))["plugins"] == [OTHER]
    assert h.read("dotfiles/config.toml") == '[plugins."other@dots"]\nenabled = true\n'


def read_only_marketplace(h):
    h.install()
    h.market({"name": "local", "plugins": [OTHER, ENTRY]})
    os.chmod(h.p(".agents/plugins/marketplace.json"), 0o444)
    before = h.read(".agents/plugins/marketplace.json")
    code, out = h.run("uninstall.py")
    assert code == 1 and "読み取り専用" in out, out
    assert h.read(".agents/plugins/marketplace.json") == before
    code, out = h.run("install_codex.py")
    assert code == 1 and "読み取り専用" in out, out


def concurrent_writers(h):
    h.market({"name": "local", "plugins": [OTHER]})
    writer = ("import json, sys; sys.path.insert(0, %r); import mevrik_codex as mc\n"
              "p = mc.marketplace_path()\n"
              "with mc.locked(p):\n"
              "    d = json.loads(mc.read_text(p)); d['plugins'].append({'name': sys.argv[1]})\n"
              "    mc.write_atomically(p, mc.dump_json(d))\n" % SCRIPTS)
    env = {"HOME": h.path, "PATH": h.bin + ":/usr/bin:/bin",
           "MEVRIK_MCP": os.path.join(h.bin, "mevrik-mcp")}
    commands = [[sys.executable, "-c", writer, "r%d" % i] for i in range(20)]
    commands[5:5] = [[sys.executable, os.path.join(SCRIPTS, "install_codex.py")]]
    commands[15:15] = [[sys.executable, os.path.join(SCRIPTS, "uninstall.py")]]
    children = [subprocess.Popen(c, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                for c in commands]
    for child in children:
        child.wait(120)
    names = [p["name"] for p in json.loads(h.read(".agents/plugins/marketplace.json"))["plugins"]]
    lost = [r for r in ["other"] + ["r%d" % i for i in range(20)] if r not in names]
    assert not lost, "lost entries: %s" % lost


def doctor_backslashes(h):
    folder = os.path.join(h.path, "b\\tin\\c")
    h.write(os.path.join(folder, "vantic-click"), "#!/bin/sh\nexit 2\n", 0o755)
    h.write(h.p(".zshenv"), "print ZSHENV\n")
    doctor = os.path.join(SCRIPTS, "doctor.sh")
    env = {"MEVRIK_BIN_DIR": folder, "MEVRIK_SERVICE_URL": "http://127.0.0.1:9"}
    outputs = [h.run(None, env, ["/bin/zsh", "-f", doctor])[1], h.run(None, env, [doctor])[1]]
    for out in outputs:
        assert "OK: vantic-click は実行できます。" in out, out
        assert "ZSHENV" not in out, out


LAYOUTS = [
    ("marketplace named ../../../Projects", hostile_name(lambda h: "../../../Projects")),
    ("marketplace named with an absolute folder", hostile_name(lambda h: h.p("Projects"))),
    ("marketplace named .", hostile_name(lambda h: ".")),
    ("other marketplaces' mevrik caches", foreign_cache_entries),
    ("UV_PROJECT_ENVIRONMENT=~/Documents/com.fennick.mevrik/..", uv_environment_dot_dot),
    ("uv environment's folder a link to ~/Documents", uv_environment_through_link),
    ("plug-in folder a link to a user folder", plugin_folder_link),
    ("config.toml: quoted header in a string, sub-tables", config_tables),
    ("config.toml: our table inline", config_inline_table),
    ("marketplace the user wrote, ours the last entry", user_marketplace_kept),
    ("marketplace the installer created", created_marketplace_removed),
    ("created marketplace edited by the user", edited_after_install),
    ("unreadable marketplace", unreadable_marketplace),
    ("symlinked marketplace.json and config.toml", symlinked_files),
    ("read-only marketplace", read_only_marketplace),
    ("20 concurrent writers with an install and an uninstall", concurrent_writers),
    ("doctor.sh: backslashes in paths, ~/.zshenv", doctor_backslashes),
]


def main():
    passed = failed = 0
    for name, layout in LAYOUTS:
        root = tempfile.mkdtemp(prefix="mevrik-layout-")
        try:
            layout(Home(root))
            passed += 1
            print("held: %s" % name)
        except Exception as error:  # noqa: BLE001 - each layout reports and the run goes on
            failed += 1
            print("FAILED: %s: %s: %s" % (name, type(error).__name__, error))
        finally:
            subprocess.run(["chmod", "-R", "u+rwX", root])
            shutil.rmtree(root, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
