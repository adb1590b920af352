"""What the Python desktop checks share: a private test desktop for the length of a block, the
applications launched on it, and the summary of the checks at the end."""

import contextlib
import os
import shutil
import subprocess
import tempfile

from click_e2e import failures, load_environment


@contextlib.contextmanager
def desktop_session(desktop, prefix):
    """Starts a test desktop (desktop.sh), takes over its environment and yields its folder;
    stops it, and everything launched on it, when the block ends."""
    work = tempfile.mkdtemp(prefix=prefix)
    try:
        subprocess.run([desktop, "start", work], check=True)
        load_environment(os.path.join(work, "env.sh"))
        yield work
    finally:
        subprocess.run([desktop, "stop", work])
        shutil.rmtree(work, ignore_errors=True)


def launch(desktop, work, *command, name=None):
    """Starts an application on the desktop, waits for its window and gives its pid."""
    options = ["--name", name] if name else []
    return int(subprocess.run([desktop, "launch", work] + options + ["--"] + list(command),
                              check=True, capture_output=True, text=True).stdout.strip())


def summary():
    """The exit status of a check script, after a line that sums the checks up."""
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0
