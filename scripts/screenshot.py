#!/usr/bin/env python3
"""Takes the README's picture of the Linux window in the middle of a batch.

Run it on a display, e.g. through display.py:
  scripts/display.py python3 scripts/screenshot.py \\
      build/linux/larkspire_decompress build/linux/x11_window \\
      docs/screenshot-linux.png
Xvfb runs no window manager, so the picture is the window's client area;
on a desktop it also carries a title bar with the close box only.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import drive, tones  # noqa: E402
from drive import TITLE, wait_for  # noqa: E402

TRACKS = [
    "01 Morning Bells.mp3",
    "02 Harbour Lights.mp3",
    "03 Larkspire Waltz.mp3",
    "04 Evening Tide.mp3",
    "05 Quiet Hours.mp3",
    "06 Long Road Home.mp3",
    "07 Meadow Song.mp3",
    "08 Northern Sky.mp3",
    "09 Last Light.mp3",
    "10 Coda.mp3",
]


def run(*args):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE).stdout.decode()


def outer_window(window):
    """The window manager's frame around `window`, or the window itself."""
    while True:
        tree = run("xwininfo", "-tree", "-id", window)
        root = re.search(r"Root window id: (0x[0-9a-f]+)", tree).group(1)
        parent = re.search(r"Parent window id: (0x[0-9a-f]+)", tree).group(1)
        if parent == root:
            return window
        window = parent


def geometry(window):
    info = run("xwininfo", "-id", window)
    field = lambda name: int(re.search(name + r":\s+(-?\d+)", info).group(1))
    return (
        field("Width"),
        field("Height"),
        field("Absolute upper-left X"),
        field("Absolute upper-left Y"),
    )


def main():
    program, close_window, output = sys.argv[1:4]
    # A fixed, readable path: it shows in the log.
    scratch = os.path.join(tempfile.gettempdir(), "larkspire-screenshot")
    shutil.rmtree(scratch, ignore_errors=True)
    folder = os.path.join(scratch, "Music")
    os.makedirs(folder)
    try:
        # Long tones, so that each decoder run takes a moment.
        for i, name in enumerate(TRACKS):
            if i < 3:
                tones.make_mp3(os.path.join(folder, name), 240, 220 * (i + 2))
            else:
                shutil.copy(os.path.join(folder, TRACKS[i % 3]), os.path.join(folder, name))
        exe = os.path.join(folder, "larkspire_decompress")
        shutil.copy2(program, exe)
        process = subprocess.Popen([exe], cwd="/")
        ids = []

        def shown():
            ids[:] = drive.xdotool(os.environ, "search", "--onlyvisible", "--name",
                                   "^%s$" % TITLE)
            return bool(ids)

        def decoded(n):
            done = [t for t in TRACKS if tones.wav_samples(os.path.join(folder, t[:-3] + "wav"))]
            return len(done) >= n

        wait_for("the window", shown, 10)
        wait_for("four WAV files", lambda: decoded(4), 60)
        width, height, x, y = geometry(outer_window(ids[0]))
        run("import", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, x, y),
            "+repage", output)
        if decoded(len(TRACKS)):
            print("warning: the batch had already finished", file=sys.stderr)
        subprocess.run([close_window, "close", TITLE])
        process.wait(timeout=10)
    finally:
        shutil.rmtree(scratch)
    print("wrote", output)


if __name__ == "__main__":
    main()
