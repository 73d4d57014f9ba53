"""A Wine prefix of one's own for the tests and benchmarks, with a
persistent server that keeps it warm between programs. Wine stays quiet: no
debug output, no .NET or HTML engine to install, no crash dialog to wait
on. Its windows are unmanaged: with no window manager on the display, Wine
waits two seconds for one whenever a managed window hides."""

import os
import subprocess
import tempfile

SETTINGS = r"""REGEDIT4
[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"""


class Prefix:
    def __init__(self, path, env):
        self.folder = path
        self.env = dict(env, WINEPREFIX=path, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8")

    def run(self, *argv):
        """Runs a Wine command to its end; its standard output. Into a file,
        not a pipe: Wine's server and the services it starts outlive the
        command and keep its standard handles open."""
        with tempfile.TemporaryFile() as out:
            subprocess.run(argv, env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                           stderr=subprocess.DEVNULL)
            out.seek(0)
            return out.read()

    def boot(self):
        """Makes the prefix, or brings an existing one up to date."""
        os.makedirs(self.folder, exist_ok=True)
        self.run("wineserver", "-p")
        self.run("wineboot", "-i")
        with open(os.path.join(self.folder, "drive_c", "settings.reg"), "w") as f:
            f.write(SETTINGS)
        self.run("wine", "reg", "import", "C:\\settings.reg")

    def path(self, unix_path):
        """The Windows name of a Unix path."""
        return self.run("winepath", "-w", unix_path).decode().strip()

    def close(self):
        self.run("wineserver", "-k")
