#!/usr/bin/env python3
"""The rows against the GTK program (usage: gtk.py PROGRAM STANDIN X11_WINDOW
[wayland]), on X or, with "wayland", under Weston (GDK_BACKEND=wayland).
It always runs /usr/bin/lame: the stand-in is bind-mounted there in a mount
namespace of the program's own, never touching the real file."""
import os, re, shutil, signal, subprocess, sys, tempfile
import scenarios
import drive, weston  # noqa: E402  (found through the path scenarios adds)

class Gtk:
    name, encoding, exe = (sys.argv[4:] or ["gtk"])[0], "utf-8", "larkspire_decompress"
    # Bar GTK's own complaints that Weston's headless backend has no seat.
    forbidden = r"(?m)^(?!.*%s).*(CRITICAL|WARNING)" % weston.NO_SEAT

    env = dict(os.environ)
    def boot(self):
        self.root = tempfile.mkdtemp(prefix="larkspire-windows-")
        if self.name == "wayland":  # only Debian's own python3 has AT-SPI
            import atspi
        self.ui = atspi.Window(self.env) if self.name == "wayland" else drive.X11(self.env, scenarios.X11_WINDOW)
    def make_folder(self, row):  # the program in its folder
        folder = os.path.join(self.root, row["folder"])
        os.makedirs(folder)
        shutil.copy(scenarios.PROGRAM, os.path.join(folder, self.exe))
        return os.fsencode(folder), folder
    def facts(self, folder, row):
        return dict(dir=folder, s=folder + "/", lame_failed=255), None
    def ask(self, verb, title):  # only "close": as the window system asks
        subprocess.run([scenarios.X11_WINDOW, verb, title], env=self.env)
    def decoders(self, folder):
        return "lame --decode " + re.escape(os.fsdecode(folder))
    def start(self, row, folder, shown, log, errors):
        mount = {"standin": 'mount --bind "$1" /usr/bin/lame', "lame": "true"}[row["decoder"]]
        if row.get("full"):  # a file system with no room left, for Save Log
            os.mkdir(os.path.join(shown, "full"))
            mount += ' && mount -t tmpfs -o size=64k none "$2" && (cat /dev/zero >"$2/fill"; true)'

        return subprocess.Popen(  # from /, so only its own folder can be the one
            ["unshare", "-m", "sh", "-c", mount + ' && exec "$0"', os.path.join(shown, self.exe),
             scenarios.STANDIN, os.path.join(shown, "full")],
            cwd="/", env=dict(self.env, STANDIN_LOG=log),
            start_new_session=True,  # a process group of its own, as a terminal gives
            # Some launchers leave SIGCHLD ignored, and exec keeps it so.
            preexec_fn=lambda: signal.signal(signal.SIGCHLD, signal.SIG_IGN),
            stdout=subprocess.DEVNULL, stderr=errors)
    def end(self):
        shutil.rmtree(self.root)


scenarios.run(Gtk())
