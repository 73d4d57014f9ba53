#!/usr/bin/env python3
"""The rows against the GTK program (usage: gtk.py PROGRAM STANDIN X11_WINDOW).
It always runs /usr/bin/lame: the stand-in is bind-mounted there in a mount
namespace of the program's own, never touching the real file."""
import os, re, shutil, subprocess, tempfile
import scenarios

class Gtk:
    name, encoding, exe = "gtk", "utf-8", "larkspire_decompress"
    forbidden, focus = r"CRITICAL|WARNING", True

    env = dict(os.environ)
    def boot(self):
        self.root = tempfile.mkdtemp(prefix="larkspire-windows-")
    def make_folder(self, row):
        """The program in its folder; one too long for the system to name
        is made, and then given, as an open descriptor."""
        folder, fd = os.path.join(self.root, row["folder"]), os.open(self.root, os.O_RDONLY)
        for part in row["folder"].split("/"):
            os.mkdir(part, dir_fd=fd)
            fd = os.open(part, os.O_RDONLY, dir_fd=fd)
        with open(os.open(self.exe, os.O_WRONLY | os.O_CREAT, 0o755, dir_fd=fd), "wb") as f:
            f.write(open(scenarios.PROGRAM, "rb").read())
        return (fd if len(folder) >= 4096 else os.fsencode(folder)), folder
    def facts(self, folder, row):
        paths = type("Paths", (), {"__getitem__": lambda _, name: folder + "/" + name})
        return dict(dir=folder, s=folder + "/", sp=paths(), err2="No such file or directory"), None
    def post_close(self, title):
        subprocess.run([scenarios.X11_WINDOW, "close", title], env=self.env)
    def decoders(self, folder):
        return "lame --decode " + re.escape(os.fsdecode(folder))
    def start(self, row, folder, shown, log, errors):
        mount = {"standin": 'mount --bind "$1" /usr/bin/lame', "lame": "true"}[row["decoder"]]
        if row.get("full"):  # a file system with no room left, for Save Log
            os.mkdir(os.path.join(shown, "full"))
            mount += ' && mount -t tmpfs -o size=64k none "$2" && (cat /dev/zero >"$2/fill"; true)'

        deep = isinstance(folder, int)  # started from inside: no path names it
        return subprocess.Popen(  # else from /, so only its own folder can be the one
            ["unshare", "-m", "sh", "-c", mount + ' && exec "$0"',
             "./" + self.exe if deep else os.path.join(shown, self.exe), scenarios.STANDIN,
             os.path.join(shown, "full")],
            cwd="/", preexec_fn=(lambda: os.fchdir(folder)) if deep else None,
            pass_fds=[folder] if deep else [], env=dict(self.env, STANDIN_LOG=log),
            start_new_session=True,  # a process group of its own, as a terminal gives
            stdout=subprocess.DEVNULL, stderr=errors)
    def end(self):
        shutil.rmtree(self.root)


scenarios.run(Gtk())
