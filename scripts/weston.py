#!/usr/bin/env python3
"""A Wayland display for the program and its tests, with no X server: a
private Weston on its headless backend, drawing in memory (pixman) so that
weston-screenshooter can take pictures (--debug), and a private session bus
on which the accessibility bus starts when GTK asks for it.

  scripts/weston.py COMMAND [ARG...]
runs COMMAND there with GDK_BACKEND=wayland, the accessibility bridge off
(as display.py has it), and exits with its status.

Everything lives in a private XDG_RUNTIME_DIR (mode 0700, the user's own, as
Weston asks): its socket, the buses' sockets and Weston's log. The headless
backend has no input devices, so there is no seat: GTK complains about that
on its own (Gdk-CRITICAL gdk_seat_get_keyboard, gdk_seat_get_pointer)."""

import contextlib, os, shutil, signal, subprocess, sys, tempfile, time

SOCKET = "wayland-larkspire"
# What GTK says, asked for the seat's keyboard or pointer, when there is none.
NO_SEAT = r"assertion 'GDK_IS_(SEAT \(seat\)|DEVICE \(device\))' failed"


def wait_for(what, condition, process, log):
    end = time.monotonic() + 20
    while not condition():
        if process.poll() is not None or time.monotonic() > end:
            log.seek(0)
            raise OSError("%s did not start: %s" % (what, log.read().decode(errors="replace")))
        time.sleep(0.05)


@contextlib.contextmanager
def private(env=os.environ):
    """Runs a private Weston and session bus; yields `env` naming them."""
    runtime = tempfile.mkdtemp(prefix="larkspire-wayland-")
    env = {k: v for k, v in env.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "NO_AT_BRIDGE")}
    env.update(XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY=SOCKET, GDK_BACKEND="wayland",
               GSETTINGS_BACKEND="memory", DBUS_SESSION_BUS_ADDRESS="unix:path=%s/bus" % runtime)
    log = open(os.path.join(runtime, "log"), "w+b")
    # No fading: a picture shows the windows as they are, not a closed one.
    with open(os.path.join(runtime, "weston.ini"), "w") as ini:
        ini.write("[shell]\nstartup-animation=none\nanimation=none\nclose-animation=none\n")
    started = []
    try:
        weston = subprocess.Popen(
            ["weston", "--backend=headless-backend.so", "--use-pixman", "--width=1280",
             "--height=1024", "--socket=" + SOCKET, "--idle-time=0", "--debug",
             "--config=" + os.path.join(runtime, "weston.ini")],
            env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
        started.append(weston)
        wait_for("Weston", lambda: os.path.exists(os.path.join(runtime, SOCKET)), weston, log)
        # Its own process group: the accessibility bus and registry it starts
        # for GTK end with it.
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                "--address=" + env["DBUS_SESSION_BUS_ADDRESS"]],
                               env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                               start_new_session=True)
        started.append(bus)
        wait_for("The session bus", lambda: os.path.exists(os.path.join(runtime, "bus")), bus, log)
        yield env
    finally:
        for process in reversed(started):  # the bus's group; Weston ends its own clients
            with contextlib.suppress(ProcessLookupError):
                os.killpg(process.pid, signal.SIGTERM) if process != weston else weston.terminate()
            process.wait()
        log.close()
        shutil.rmtree(runtime, ignore_errors=True)


def main(command):
    # CTest's timeout and Ctrl+C end the command and the servers with it.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        with private() as env:
            status = subprocess.run(command, env=dict(env, NO_AT_BRIDGE="1")).returncode
    except KeyboardInterrupt:
        return 130
    return status if status >= 0 else 128 - status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
