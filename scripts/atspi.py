"""Drives the program's window through AT-SPI, as a screen reader does, where
no X11 tool reaches it (Wayland): reads its controls and presses its
buttons, the close box of GTK's own title bar among them. The same methods
as drive.X11. Needs Debian's python3 (python3-gi, gir1.2-atspi-2.0) and the
session bus the program's accessibility bridge talks on."""

import os, shutil, subprocess, tempfile
from drive import TITLE, DIALOG, wait_for

# Pango's colours, 16 bits a component, as the status line's attributes
# give them.
COLOURS = {"65535,0,0": "red", "0,32896,0": "green"}


def walk(node):
    yield node
    for i in range(max(node.get_child_count(), 0)):
        child = node.get_child_at_index(i)
        if child:
            yield from walk(child)


class Window:
    def __init__(self, env):
        # The bus is read when this process first asks.
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = env["DBUS_SESSION_BUS_ADDRESS"]
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi
        self.atspi, self.env = Atspi, env

    def find(self, title, role, name=None):
        """The first control of that role (and name) in the window titled
        `title`, or None."""
        desktop = self.atspi.get_desktop(0)
        for app in [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]:
            for window in [app.get_child_at_index(i) for i in range(max(app.get_child_count(), 0))]:
                if window and window.get_name() == title:
                    return next((n for n in walk(window) if n.get_role_name() == role and
                                 name in (None, n.get_name())), None)
        return None

    def press(self, title, name, role="push button"):
        found = []
        wait_for(name, lambda: found.append(self.find(title, role, name)) or found[-1], 30)
        self.atspi.Action.do_action(found[-1], 0)

    def show(self):
        wait_for(TITLE, lambda: self.find(TITLE, "text", "Log"), 30)

    def read(self):
        """What the controls show: the log's lines, the status line with its
        colour, the percent label, and the bar's name and value in percent."""
        log = self.find(TITLE, "text", "Log")
        status, _, bar, percent, _ = [log.get_parent().get_parent().get_child_at_index(i) for i in range(5)]
        text = lambda n: self.atspi.Text.get_text(n, 0, -1)
        colour = self.atspi.Text.get_attribute_run(status, 0, False)[0].get("fg-color")
        return dict(log=text(log).split("\r\n"), status=text(status), colour=[COLOURS.get(colour, "")],
                    percent=text(percent), bar=(bar.get_name(), round(100 * self.atspi.Value.get_current_value(bar), 1)))

    def colours(self):
        return self.read()["colour"]

    def save(self, arg):  # Save Log, its dialog left open
        assert arg is None, "only an open dialog here: no keys to press"
        self.press(TITLE, "Save Log")
        wait_for(DIALOG, lambda: self.find(DIALOG, "push button", "Save"), 30)

    def save_log(self, path, typed=None):
        """Save Log, the name typed into the chooser's name field; the bytes
        written to `path`."""
        self.save(None)
        self.atspi.EditableText.set_text_contents(self.find(DIALOG, "text"), typed or path)
        self.press(DIALOG, "Save")
        wait_for("the saved log", lambda: os.path.exists(path), 10)
        wait_for("the dialog gone", lambda: not self.find(DIALOG, "push button", "Save"), 10)
        with open(path, "rb") as f:
            return f.read()

    def close(self):  # the close box
        self.press(TITLE, "Close")

    def screenshot(self, path):
        """The whole screen, as Weston (--debug) gives it."""
        with tempfile.TemporaryDirectory() as scratch:
            subprocess.run(["weston-screenshooter"], env=self.env, cwd=scratch, check=True)
            shutil.move(os.path.join(scratch, os.listdir(scratch)[0]), path)
