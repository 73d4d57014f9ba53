#!/usr/bin/env python3
"""An X display for the program, its tests and benchmarks: a private Xvfb
server, or as a command the user's display when there is one.

  scripts/display.py COMMAND [ARG...]
runs COMMAND on $DISPLAY, or on a private server when there is none (CI,
ssh sessions), and exits with its status.

The server picks its own free display number (-displayfd), so parallel runs
never race for one, as they can with xvfb-run -a. -noreset: a server
resetting after its last client left refuses the next one for a moment, and
tests start one program after another. Accessibility bridges stay off and
GTK keeps its settings (the file chooser's) in memory: there is no session
bus to reach either."""

import contextlib
import os
import signal
import subprocess
import sys
import tempfile


def quiet(env):
    """`env` for GTK programs with no session bus."""
    return {"GSETTINGS_BACKEND": "memory", **env, "NO_AT_BRIDGE": "1"}


@contextlib.contextmanager
def private(env=os.environ):
    """Runs a private Xvfb server; yields `env` naming it, made quiet."""
    read, write = os.pipe()
    with tempfile.TemporaryFile() as log:
        server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
             "-noreset"], pass_fds=[write], stdout=subprocess.DEVNULL, stderr=log)
        os.close(write)
        try:
            with open(read, "rb") as reply:  # written once it accepts clients
                number = reply.readline().decode().strip()
            if not number:
                log.seek(0)
                raise OSError("Xvfb did not start: " + log.read().decode(errors="replace"))
            yield quiet(dict(env, DISPLAY=":" + number))
        finally:
            server.terminate()
            server.wait()


def main(command):
    if os.environ.get("DISPLAY"):
        os.execvpe(command[0], command, quiet(os.environ))
    # CTest's timeout and Ctrl+C end the command and the server with it.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        with private() as env:
            status = subprocess.run(command, env=env).returncode
    except KeyboardInterrupt:
        return 130
    return status if status >= 0 else 128 - status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
