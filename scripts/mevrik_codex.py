"""What the Mevrik installer and uninstaller share: where things live, the marketplace file, and
running the codex command. Standard library only: the scripts run on the system's Python 3."""
import json
import os
import shutil
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


class Failure(Exception):
    """A failure whose text is shown to the user as it is."""


def home():
    return os.path.expanduser("~")


def marketplace_path():
    return os.path.join(home(), ".agents", "plugins", "marketplace.json")


def plugin_folder():
    return os.path.join(home(), PLUGIN_FOLDER)


def codex_home():
    return os.environ.get("CODEX_HOME") or os.path.join(home(), ".codex")


def read_marketplace(path):
    """The marketplace document, or None when there is no file. A file that is not a usable
    marketplace is moved to a backup beside it, and the user is told."""
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except FileNotFoundError:
        return None
    try:
        document = json.loads(raw.decode("utf-8"))
        if not isinstance(document, dict) or not isinstance(document.get("plugins", []), list):
            raise ValueError("not a marketplace object")
        return document
    except ValueError:
        backup = "%s.invalid-%s" % (path, time.strftime("%Y%m%d-%H%M%S"))
        os.replace(path, backup)
        print("%s は JSON として読めないため、%s に退避しました。" % (path, backup))
        return None


def write_atomically(path, text):
    """Writes text to path through a temporary file in the same folder and a rename, so that a
    reader sees the old or the new file, never a part. Writes nothing when the text is already
    there."""
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return False
    except (FileNotFoundError, UnicodeDecodeError):
        pass
    folder = os.path.dirname(path)
    os.makedirs(folder, exist_ok=True)
    fd, temporary = tempfile.mkstemp(prefix=".tmp-", dir=folder)
    try:
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        if os.path.exists(path):
            shutil.copymode(path, temporary)
        else:
            os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise
    return True


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


def main(body):
    """Runs body(); a Failure becomes its message on standard output and status 1."""
    try:
        body()
    except Failure as failure:
        print(str(failure))
        sys.exit(1)
    except OSError as error:
        print("ファイル操作に失敗しました: %s" % error)
        sys.exit(1)
