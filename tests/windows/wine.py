#!/usr/bin/env python3
"""The rows against the Windows program under Wine, in a throwaway prefix.
Usage: wine.py PROGRAM STANDIN X11_WINDOW LAME_EXE FACTS_EXE PREFIX PLANTED
(PLANTED: a DLL that leaves a mark beside itself when loaded)"""
import os, shutil, subprocess, sys
import scenarios
import drive, wineprefix  # noqa: E402  (found through the path scenarios adds)

LAME_EXE, FACTS_EXE, PREFIX, PLANTED = sys.argv[4:8]

class Wine:
    name, encoding, exe = "wine", "cp1252", "larkspire_decompress.exe"
    forbidden = None
    root = os.path.join(PREFIX, "drive_c", "larkspire")  # C:\larkspire
    # Where README.txt tells the user to put it; Wine's short name for
    # "Program Files" is not PROGRA~1.
    decoder = os.path.join(PREFIX, "drive_c", "Program Files", "Lame", "lame.exe")
    env = os.environ  # until the display is there
    def boot(self):
        shutil.rmtree(PREFIX, ignore_errors=True)
        self.prefix = wineprefix.Prefix(PREFIX, self.env)
        self.env = self.prefix.env
        self.prefix.boot()
        self.ui = drive.X11(self.env, scenarios.X11_WINDOW, focus=False)  # Wine activates its windows itself
        os.makedirs(os.path.dirname(self.decoder), exist_ok=True)
        os.makedirs(self.root)
    def make_folder(self, row):
        shown = "C:\\larkspire\\" + row.get("folder", "").replace("/", "\\")
        folder = os.path.join(self.root, *row.get("folder", "").split("/"))
        if row.get("drive"):
            shown, folder = "X:\\", os.path.join(PREFIX, "drive-x")
            os.symlink(folder, os.path.join(PREFIX, "dosdevices", "x:"))
        os.makedirs(folder)
        shutil.copy(scenarios.PROGRAM, os.path.join(folder, self.exe))
        for name in row.get("planted", []):
            shutil.copy(PLANTED, os.path.join(folder, name))
        return os.fsencode(folder), shown
    def facts(self, folder, row):
        short, *files = self.prefix.run("wine", FACTS_EXE, folder).decode("utf-8").splitlines()
        return dict(dir=folder, s=short.rstrip("\\") + "\\", lame_failed=-1), files
    def ask(self, verb, title, *more):  # what wine_facts --VERB says of the window
        return self.prefix.run("wine", FACTS_EXE, "--" + verb, title, *more).decode("utf-8")
    def decoders(self, folder):  # Wine shows a program by its Windows path
        return r"Lame\\lame\.exe"
    def start(self, row, folder, shown, log, errors):
        for name, value in row.get("scheme", {}).items():
            self.prefix.run("wine", "reg", "add", r"HKCU\Control Panel\Colors", "/v", name, "/d", value, "/f")
        if row.get("scheme"):  # read when the desktop starts
            self.prefix.run("wineserver", "-k")
            self.prefix.run("wineserver", "-w")
        os.path.exists(self.decoder) and os.remove(self.decoder)
        if row["decoder"]:
            shutil.copy(LAME_EXE if row["decoder"] == "lame" else scenarios.STANDIN, self.decoder)
        return subprocess.Popen(
            ["wine", shown.rstrip("\\") + "\\" + self.exe], cwd=self.root, stdin=subprocess.DEVNULL,
            env=dict(self.env, STANDIN_LOG="C:\\larkspire\\" + os.path.basename(log)),
            stdout=subprocess.DEVNULL, stderr=errors)
    def hold(self, shown, name, how):  # once the file is held
        holder = subprocess.Popen(["wine", FACTS_EXE, "--hold", shown.rstrip("\\") + "\\" + name,
                                   *how.split()], env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        scenarios.check(holder.stdout.readline().strip() == b"held", "%s not held", name)
        return holder
    def end(self):
        self.prefix.close()
        shutil.rmtree(PREFIX, ignore_errors=True)


if b"Exec format error" in subprocess.run(["wine", "--version"], capture_output=True).stderr:
    sys.exit(print("Wine cannot start: this machine runs no 32-bit programs") or 77)
scenarios.run(Wine())
