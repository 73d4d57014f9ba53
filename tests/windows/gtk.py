#!/usr/bin/env python3
"""The rows against the GTK program. It always runs /usr/bin/lame: the
stand-in is bind-mounted there in a mount namespace of the program's own,
never touching the real file.
Usage: gtk.py PROGRAM STANDIN X11_WINDOW"""
import os, shutil, subprocess, tempfile
import scenarios

class Gtk:
    name, encoding, exe = "gtk", "utf-8", "larkspire_decompress"
    forbidden, focus = r"CRITICAL|WARNING", True

    env = dict(os.environ, NO_AT_BRIDGE="1", GSETTINGS_BACKEND="memory")
    def boot(self):
        self.root = tempfile.mkdtemp(prefix="larkspire-windows-")
    def make_folder(self, row):
        folder = os.path.join(self.root, row["folder"])
        os.makedirs(folder)
        shutil.copy2(scenarios.PROGRAM, os.path.join(folder, self.exe))
        return os.fsencode(folder), folder
    def facts(self, folder):
        paths = type("Paths", (), {"__getitem__": lambda _, name: folder + "/" + name})
        return dict(dir=folder, s=folder + "/", sp=paths(), err2="No such file or directory"), None
    def start(self, row, folder, shown, log, errors):
        mount = {"standin": 'mount --bind "$1" /usr/bin/lame', "lame": "true"}[row["decoder"]]
        return subprocess.Popen(  # from /, so only its own folder can be the one
            ["unshare", "-m", "sh", "-c", mount + ' && exec "$0"', os.path.join(shown, self.exe),
             scenarios.STANDIN], cwd="/", env=dict(self.env, STANDIN_LOG=log),
            stdout=subprocess.DEVNULL, stderr=errors)
    def end(self):
        shutil.rmtree(self.root)


scenarios.run(Gtk())
