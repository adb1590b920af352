"""What the Python desktop checks share: the check lines and their summary, waiting for a
condition, and a private test desktop for the length of a block with the applications launched
on it."""

import contextlib
import os
import shutil
import subprocess
import tempfile
import time

failures = []


def check(condition, message):
    """Prints one check's line and notes a failure; gives the condition back."""
    if condition:
        print("ok   " + message, flush=True)
    else:
        print("FAIL " + message, flush=True)
        failures.append(message)
    return condition


def wait_until(predicate, timeout=5.0, interval=0.05):
    """The predicate's first true value within the timeout, else its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def load_environment(env_sh):
    out = subprocess.run(["bash", "-c", '. "$1" && env -0', "-", env_sh], check=True,
                         capture_output=True).stdout
    for entry in out.split(b"\0"):
        if b"=" in entry:
            key, value = entry.split(b"=", 1)
            os.environ[key.decode()] = value.decode()


@contextlib.contextmanager
def desktop_session(desktop, prefix, *start_options):
    """Starts a test desktop (desktop.sh), takes over its environment and yields its folder;
    stops it, and everything launched on it, when the block ends."""
    work = tempfile.mkdtemp(prefix=prefix)
    try:
        subprocess.run([desktop, "start", work] + list(start_options), check=True)
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


def start_recorder(recorder, *options):
    """Starts click_xi2_record with these options and waits until it records."""
    rec = subprocess.Popen([recorder] + list(options), stdout=subprocess.PIPE, text=True)
    if rec.stdout.readline().strip() != "ready":
        rec.kill()
        raise RuntimeError("the event recorder did not start")
    return rec


def read_png(path):
    """(width, height, rows of RGB bytes) of an RGB PNG file without transparency."""
    import gi
    gi.require_version("GdkPixbuf", "2.0")
    from gi.repository import GdkPixbuf
    image = GdkPixbuf.Pixbuf.new_from_file(path)
    assert image.get_n_channels() == 3 and not image.get_has_alpha(), path
    width, height, stride = image.get_width(), image.get_height(), image.get_rowstride()
    data = image.get_pixels()
    return width, height, [data[y * stride:y * stride + width * 3] for y in range(height)]


def atspi_application(pyatspi, pid):
    """The application of process pid on the AT-SPI registry, or None."""
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def summary():
    """The exit status of a check script, after a line that sums the checks up."""
    if failures:
        print("%d check(s) failed:\n  %s" % (len(failures), "\n  ".join(failures)))
        return 1
    print("all checks passed")
    return 0
