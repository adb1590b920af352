"""What the Mevrik installer and uninstaller share: where things live, the marketplace file, the
manifest of what the installer made, careful file writes, and running the codex command.
Standard library only: the scripts run on the system's Python 3."""
import contextlib
import fcntl
import hashlib
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time

PLUGIN = "mevrik"
# The marketplace we create when the user has none; an existing one keeps its own name.
DEFAULT_MARKETPLACE = "local"
# The plug-in folder laid out for Codex, relative to the home folder (a marketplace's local path
# is relative to the folder that holds .agents and must stay inside it).
PLUGIN_FOLDER = ".local/share/mevrik/codex-plugin"
# The folder the setup application gives uv (UV_PROJECT_ENVIRONMENT), inside the user's cache.
UV_ENVIRONMENT = os.path.join("com.fennick.mevrik", "venv")


class Failure(Exception):
    """A failure whose text is shown to the user as it is."""


def home():
    return os.path.expanduser("~")


def _xdg(variable, default):
    # The XDG rule: a relative value is ignored.
    value = os.environ.get(variable, "")
    return value if os.path.isabs(value) else os.path.join(home(), default)


def marketplace_path():
    return os.path.join(home(), ".agents", "plugins", "marketplace.json")


def plugin_folder():
    return os.path.join(home(), PLUGIN_FOLDER)


def codex_home():
    return os.environ.get("CODEX_HOME") or os.path.join(home(), ".codex")


def codex_cache():
    return os.path.join(codex_home(), "plugins", "cache")


def manifest_path():
    """Where the installer records what it made, for the uninstaller."""
    return os.path.join(_xdg("XDG_DATA_HOME", os.path.join(".local", "share")), "mevrik",
                        "install-manifest.json")


def uv_environment():
    """The exact folder the setup application uses as uv's environment (its cache location as
    Qt reports it: ~/Library/Caches on macOS, $XDG_CACHE_HOME or ~/.cache elsewhere)."""
    if sys.platform == "darwin":
        cache = os.path.join(home(), "Library", "Caches")
    else:
        cache = _xdg("XDG_CACHE_HOME", ".cache")
    return os.path.join(cache, UV_ENVIRONMENT)


def selector(marketplace):
    return "%s@%s" % (PLUGIN, marketplace)


def is_component(name):
    """True when name can be used as one folder name: a marketplace name from a shared file is
    joined into paths under Codex's cache, so "..", "." or a "/" would lead out of it."""
    return (isinstance(name, str) and name not in ("", ".", "..") and "/" not in name
            and "\\" not in name and "\0" not in name and not os.path.isabs(name))


def lies_in(path, folder):
    """True when path, with every symbolic link resolved, is folder itself or lies inside it, and
    its last component is not a link (what is removed is then what the name says)."""
    if os.path.islink(path):
        return False
    real, base = os.path.realpath(path), os.path.realpath(folder)
    return os.path.commonpath([real, base]) == base


def sha256(text):
    return hashlib.sha256(text.encode("utf-8")).hexdigest()


def read_text(path):
    """The text of path; None when there is none. Raises OSError / UnicodeDecodeError on a file
    that is there but cannot be read."""
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except FileNotFoundError:
        return None


def parse_marketplace(text):
    """The marketplace document in text; ValueError when it is not a marketplace object."""
    document = json.loads(text)
    if not isinstance(document, dict) or not isinstance(document.get("plugins", []), list):
        raise ValueError("not a marketplace object")
    return document


def backup_unusable(path):
    """Moves a marketplace that cannot be used to a backup beside it, and says so."""
    backup = "%s.invalid-%s" % (path, time.strftime("%Y%m%d-%H%M%S"))
    os.replace(path, backup)
    print("%s は JSON として読めないため、%s に退避しました。" % (path, backup))


@contextlib.contextmanager
def locked(path):
    """Holds an exclusive lock for a read-modify-write of path. The lock is taken on the folder
    that holds the real file (through symbolic links): every writer of ours serialises there, the
    lock covers creating the file as well, and nothing is left beside the user's file."""
    folder = os.path.dirname(os.path.realpath(path))
    os.makedirs(folder, exist_ok=True)
    fd = os.open(folder, os.O_RDONLY)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX)
        yield
    finally:
        os.close(fd)


def check_writable(path):
    """Raises Failure when the file at path (through links) is read-only: the user made it so."""
    target = os.path.realpath(path)
    try:
        mode = os.stat(target).st_mode
    except FileNotFoundError:
        return
    if not mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH) or not os.access(target, os.W_OK):
        raise Failure("%s は読み取り専用のため変更しません。" % path)


def write_atomically(path, text):
    """Writes text to the file path names (a symbolic link is followed, so the link stays and its
    target changes) through a temporary file in the target's folder and a rename: a reader sees
    the old or the new file, never a part. Keeps the file's mode; refuses a read-only file.
    Writes nothing when the text is already there; returns True when it wrote."""
    target = os.path.realpath(path)
    try:
        if read_text(target) == text:
            return False
    except (OSError, UnicodeDecodeError):
        pass
    check_writable(target)
    folder = os.path.dirname(target)
    os.makedirs(folder, exist_ok=True)
    fd, temporary = tempfile.mkstemp(prefix=".tmp-", dir=folder)
    try:
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        if os.path.exists(target):
            shutil.copymode(target, temporary)
        else:
            os.chmod(temporary, 0o644)
        os.replace(temporary, target)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise
    return True


def read_manifest():
    """The installer's record ({} when there is none or it cannot be read)."""
    try:
        document = json.loads(read_text(manifest_path()) or "{}")
    except (OSError, ValueError):
        return {}
    return document if isinstance(document, dict) else {}


def write_manifest(document):
    path = manifest_path()
    with locked(path):
        write_atomically(path, dump_json(document))


def dump_json(document):
    return json.dumps(document, ensure_ascii=False, indent=2) + "\n"


def codex_command():
    """The codex command on PATH, or None."""
    return shutil.which("codex")


def run_codex(arguments):
    """Runs codex with arguments; returns (ok, combined output)."""
    try:
        done = subprocess.run([codex_command()] + arguments, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    except (OSError, subprocess.TimeoutExpired) as error:
        return False, str(error)
    return done.returncode == 0, done.stdout.decode("utf-8", "replace")


def usage():
    """Answers --help / -h with the calling script's description (status 0), anything else given
    on the command line with that text on standard error (status 2)."""
    arguments = sys.argv[1:]
    if not arguments:
        return
    text = (sys.modules["__main__"].__doc__ or "").strip() + "\n"
    if arguments in (["--help"], ["-h"]):
        sys.stdout.write(text)
        sys.exit(0)
    sys.stderr.write("unknown argument: %s\n\n%s" % (arguments[0], text))
    sys.exit(2)


def main(body):
    """Runs body(); a Failure becomes its message on standard output and status 1."""
    usage()
    try:
        body()
    except Failure as failure:
        print(str(failure))
        sys.exit(1)
    except OSError as error:
        print("ファイル操作に失敗しました: %s" % error)
        sys.exit(1)
