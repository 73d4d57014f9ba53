"""Drives the program's window on an X display as a user would: xdotool
points and types, Save Log hands back the log's bytes. Shared by the demo
and the real-window tests."""

import os, subprocess, time

TITLE, DIALOG = "Larkspire Decompress Tool", "Save Logfile"


def wait_for(what, condition, seconds):
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            raise TimeoutError("timed out waiting for %s" % what)
        time.sleep(0.05)


def xdotool(env, *argv):
    return subprocess.run(["xdotool", *argv], env=env, capture_output=True, text=True).stdout.split()


def press(env, title, *actions, focus=True):
    """Points at the window titled `title` and types into it. Wine's
    unmanaged windows take the focus themselves (focus=False)."""
    found = []
    wait_for(title, lambda: found.extend(xdotool(
        env, "search", "--onlyvisible", "--name", "^%s$" % title)) or found, 30)
    at = dict(v.split("=") for v in xdotool(env, "getwindowgeometry", "--shell", found[0]))
    xdotool(env, "mousemove", str(int(at["X"]) + int(at["WIDTH"]) // 2),
            str(int(at["Y"]) + int(at["HEIGHT"]) // 2),
            *(["windowfocus", found[0]] if focus else []), "sleep", "0.2", *actions)


def save_log(env, path, typed=None, focus=True):
    """Save Log by keyboard (Alt+S), the path typed into the dialog; the
    bytes written to `path`."""
    press(env, TITLE, "key", "alt+s", focus=focus)
    typed = typed or path
    if typed.isascii():
        press(env, DIALOG, "key", "ctrl+a", "type", typed, focus=focus)
    else:  # Wine's keyboard knows only its own layout's keys: pasted
        subprocess.run(["xclip", "-selection", "clipboard"], env=env, input=typed.encode())
        press(env, DIALOG, "key", "ctrl+a", "key", "ctrl+v", focus=focus)
    press(env, DIALOG, "key", "Return", focus=focus)
    wait_for("the saved log", lambda: os.path.exists(path), 10)
    with open(path, "rb") as f:
        return f.read()



class X11:
    """The window on an X server, driven through it: xdotool points and
    types, TOOL (x11_window) closes the window and reads its colours. The
    same methods as atspi.Window, less what only a screen reader reads."""

    def __init__(self, env, tool, focus=True):
        self.env, self.tool, self.focus = env, tool, focus

    def show(self):
        press(self.env, TITLE, focus=self.focus)

    def save(self, arg):
        """Save Log by Alt+S: a name typed ("": the offered one), then Return
        and the keys after it; None leaves the dialog open."""
        press(self.env, TITLE, "key", "alt+s", focus=self.focus)
        typed = ("key", "ctrl+a", "type", arg[0]) if arg and arg[0] else ()
        press(self.env, DIALOG, *typed, focus=self.focus)
        for key in ("Return", *arg[1:]) if arg else ():
            press(self.env, DIALOG, "key", key, focus=self.focus)
            time.sleep(1)  # the question or error box, titled as the dialog, over it

    def save_log(self, path, typed=None):
        return save_log(self.env, path, typed, self.focus)

    def colours(self):
        return subprocess.run([self.tool, "colours", TITLE], env=self.env, capture_output=True,
                              text=True).stdout.split()

    def close(self):  # as the window manager's close box asks
        subprocess.run([self.tool, "close", TITLE], env=self.env)

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True)
