#!/usr/bin/env python3
"""Hostile names for the Windows program under Wine: folders and MP3 names
full of spaces, a program at the root of a drive, and paths around MAX_PATH.

Every case ends the same way: the batch reaches its final message, each MP3
is either decoded or has its own red line, the log is what the window shows
byte for byte, the stand-in only ever received existing short paths, the
window still answers and closes, and nothing but the expected WAV files was
written. What the window must show is worked out from what Wine says about
the folder (listing order, short names, which paths have none), through the
same driver e2e.py uses.

Usage: hostile.py CASE --session DIR --program EXE --driver EXE
                  --standin EXE [--lame EXE] [--encoder HOST_LAME]
"""

import os
import re
import shutil
import stat
import subprocess
import sys

import e2e
from e2e import (COMPLETED, GREEN, PROGRAM, RED, Failure, check, check_equal,
                 is_mp3, wav_name)

NO_SHORT_PATH = "its short path could not be resolved"
FOLDER_MISSING = "Error: The folder could not be found."
# The longest path MAX_PATH (260) leaves room for beside the final NUL;
# Wine's ANSI calls take one character more (see the long-path case).
ANSI_PATH_LIMIT = 259


class Drives(e2e.Wine):
    """The session's Wine, plus drive letters of the case's own."""

    def __init__(self, session_dir, driver):
        self.extra = {}  # letter -> (link in dosdevices, Unix folder)
        super().__init__(session_dir, driver)

    def add_drive(self, letter, folder):
        """Maps `letter`: to a fresh, empty `folder` on the Unix side."""
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        link = os.path.join(self.env["WINEPREFIX"], "dosdevices",
                            letter.lower() + ":")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(folder, link)
        self.extra[letter.upper()] = (link, folder)

    def remove_drives(self):
        for link, _ in self.extra.values():
            if os.path.lexists(link):
                os.remove(link)
        self.extra.clear()

    def unix(self, dos_path):
        drive = dos_path[:1].upper()
        if drive not in self.extra or dos_path[1:3] != ":\\":
            return super().unix(dos_path)
        # Windows reads "X:\\name" as "X:\name"; so does this mapping.
        parts = [p for p in dos_path[3:].split("\\") if p]
        return os.path.join(self.extra[drive][1], *parts)

    def short_path_or_none(self, dos_path):
        """The short path Wine gives `dos_path`, or None where it gives none
        (the program then reports the file, or the folder, as failed)."""
        code, lines = self.driver("shortpath", dos_path, ok=False)
        return lines[0] if code == 0 and lines else None


class Started(e2e.Program):
    """A start of the program whose own output and current folder lie in
    the scratch folder, so that anything written beside the application
    folder, or relative to the current folder, shows up as a stray file."""

    def __init__(self, wine, folder, name):
        super().__init__(wine, folder)
        scratch = wine.unix(f"C:\\{wine.scratch}")
        self.cwd = os.path.join(scratch, name + "-cwd")
        self.out = os.path.join(scratch, name + ".out")

    def __enter__(self):
        self.wine.driver("close", "3000", ok=False)
        shutil.rmtree(self.cwd, ignore_errors=True)
        os.makedirs(self.cwd)
        exe = self.folder.rstrip("\\") + "\\" + PROGRAM
        with open(self.out, "wb") as out:
            self.process = subprocess.Popen(
                ["wine", exe], env=self.wine.env, cwd=self.cwd,
                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        return self

    def still_working(self):
        """The window answers after the batch, and closing it ends the
        program."""
        ping = e2e.driver_facts(self.wine.driver("ping", "5", "20")[1])
        check_equal(ping["unanswered"], "0", "WM_NULL left unanswered")
        code, lines = self.wine.driver("close", "3000", ok=False)
        check(code == 0, f"the program did not end on WM_CLOSE: {lines}")
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            raise Failure("wine did not return after the program ended")
        check_equal(os.listdir(self.cwd), [], "files in the current folder")


def tree(root):
    """Every file and folder under `root` (absolute path -> what would show
    a change: size and modification time for files)."""
    found = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs:
            found[os.path.join(folder, name)] = "folder"
        for name in files:
            info = os.lstat(os.path.join(folder, name))
            found[os.path.join(folder, name)] = (stat.S_IFMT(info.st_mode),
                                                 info.st_size,
                                                 info.st_mtime_ns)
    return found


def top_level(root):
    return {os.path.join(root, name): "entry" for name in os.listdir(root)}


def watch(wine, roots):
    """What lies in the case's own folders, and the names at the top of
    drive C, where a path that lost its folder would land."""
    found = top_level(wine.drive_c)
    for root in roots:
        found.update(tree(root))
    return found


def check_written(before, after, required, allowed=None):
    """The files added are `required`, and maybe some of `allowed`."""
    added = set(after) - set(before)
    allowed = set(required) | set(allowed or [])
    check_equal(sorted(added - allowed), [],
                "files the batch added beyond the WAV files")
    check_equal(sorted(set(required) - added), [], "WAV files not written")
    check_equal(sorted(p for p in before if after.get(p) != before[p]), [],
                "files the batch changed or removed")


def listing_path(folder, name):
    """A file's path as the folder listing reports it: a drive root already
    ends in its separator."""
    return folder + name if folder.endswith("\\") else f"{folder}\\{name}"


def command_for(short_mp3, short_folder, name):
    # The output path is joined with a separator of its own, so a drive
    # root gives "X:\\name.wav", exactly as the command line is built.
    return (f"C:\\Progra~1\\Lame\\lame.exe --decode  {short_mp3} "
            f"\"{short_folder}\\{wav_name(name)}\"")


def is_short_form(dos_path):
    """Every part after the drive is an 8.3 name without spaces, so the
    unquoted path reaches the decoder as one argument. (A path cut short
    can still look like this; looking it up again catches that.)"""
    parts = dos_path[3:].split("\\")
    return dos_path[1:3] == ":\\" and all(
        re.fullmatch(r"[^ .\\\"]{1,8}(\.[^ .\\\"]{1,3})?", p) for p in parts)


class Expected:
    """The batch over `folder` as Wine will let it run: per MP3 in listing
    order its short path (None where there is none) and failure reason."""

    def __init__(self, wine, folder, reasons):
        self.folder = folder
        self.short_folder = wine.short_path_or_none(folder)
        self.mp3s = []
        self.short = {}
        self.reasons = {}
        if self.short_folder is None:
            return
        self.mp3s = [n for n in wine.listing(folder) if is_mp3(n)]
        for name in self.mp3s:
            path = listing_path(self.short_folder, name)
            self.short[name] = wine.short_path_or_none(path)
            if self.short[name] is None:
                self.reasons[name] = NO_SHORT_PATH
            elif name in reasons:
                self.reasons[name] = reasons[name]

    def decoded(self):
        return [n for n in self.mp3s if n not in self.reasons]

    def final_status(self):
        if self.short_folder is None:
            return FOLDER_MISSING, RED
        if not self.reasons:
            return COMPLETED, GREEN
        return (f"{COMPLETED} {len(self.reasons)} of {len(self.mp3s)} MP3 "
                "files could not be decoded."), RED

    def lines(self):
        lines = [f"Audio folder: {self.folder}"]
        if self.short_folder is None:
            return lines + [FOLDER_MISSING]
        for name in self.mp3s:
            path = listing_path(self.short_folder, name)
            reason = self.reasons.get(name)
            lines += [f"Decoding {name}...",
                      f"{path} decoding failed ({reason})." if reason
                      else f"{path} decoding complete."]
        return lines + [self.final_status()[0]]

    def wavs(self, wine):
        return [wine.unix(listing_path(self.folder, wav_name(n)))
                for n in self.decoded()]


def run_batch(wine, args, name, folder, reasons, roots):
    """Runs the program from `folder` with the stand-in as decoder and
    checks everything every case must end with. Returns the Expected and
    the stand-in's records."""
    log_dos = e2e.use_standin(wine, args, name)
    expected = Expected(wine, folder, reasons)
    before = watch(wine, roots)
    status, colour = expected.final_status()
    with Started(wine, folder, name) as program:
        program.wait_status(status)
        state = wine.state(name)
        program.still_working()
    if expected.short_folder is None:
        # The batch stops before its listing: the label and the bar keep
        # their first state.
        e2e.check_window(state, expected.lines(), status, colour,
                         "Progress:", 0.0)
    else:
        e2e.check_window(state, expected.lines(), status, colour,
                         "Progress: 100%", 1.0)

    runs, overlap = e2e.decoder_runs(wine, log_dos)
    check(not overlap, "two decoder runs overlapped")
    started = [n for n in expected.mp3s if expected.short.get(n)]
    check_equal([command for _, command in runs],
                [command_for(expected.short[n], expected.short_folder, n)
                 for n in started],
                "decoder command lines, in listing order")
    for (argv, _), mp3 in zip(runs, started):
        check_equal(argv[1:], ["--decode", expected.short[mp3],
                               f"{expected.short_folder}\\{wav_name(mp3)}"],
                    "decoder arguments as the decoder parsed them")
        # Never a cut path: whole 8.3 parts, and a path Wine still finds.
        check(is_short_form(argv[2]),
              f"decoder input {argv[2]!r} is not a short path")
        check_equal(wine.short_path_or_none(argv[2]), argv[2],
                    "decoder input, looked up again")

    # A decoder that fails may still leave its WAV behind; nothing else is
    # the batch's to write.
    after = watch(wine, roots)
    check_written(before, after, expected.wavs(wine),
                  [wine.unix(listing_path(folder, wav_name(n)))
                   for n in started])
    for wav in expected.wavs(wine):
        # The stand-in's complete WAV: 44 header bytes and 1600 of samples.
        check_equal(os.path.getsize(wav), 44 + 1600, f"size of {wav}")
    failed = {n[:24] + "...": r for n, r in expected.reasons.items()}
    print(f"{name}: short folder {expected.short_folder!r}; decoded "
          f"{len(expected.decoded())} of {len(expected.mp3s)}; "
          f"failed: {failed}")
    return expected, runs


# ---- spaces -----------------------------------------------------------------

SPACES_ROOT = "C:\\  Hostile  Spaces"

# Leading and doubled spaces in every part of the application folder and in
# the MP3 names; a name that is nothing but spaces before ".mp3".
SPACED_FILES = {
    "  two leading.mp3": b"ok\n",
    "double  space  inside.mp3": b"ok\n",
    "   .mp3": b"ok\n",
    "x y.MP3": b"ok\n",
    "space before dot .mp3": b"ok\n",
    "fails  with  code.mp3": b"exit 3\n",
    "notes  .txt": b"",
    "spaced  sub.mp3": None,
}


def run_spaces(wine, args, name):
    folder = e2e.make_folder(wine, args,
                             SPACES_ROOT[3:] + "\\   Three Leading and  Two",
                             SPACED_FILES)
    root = wine.unix(SPACES_ROOT)
    expected, runs = run_batch(wine, args, name, folder,
                               {"fails  with  code.mp3":
                                "the decoder exited with code 3"}, [root])
    check(expected.short_folder is not None, "no short path for " + folder)
    check_equal(len(runs), 6, "decoder runs")
    # Against the short paths Wine gives the long names themselves.
    check_equal([command for _, command in runs],
                [e2e.expected_command(wine, folder, n) for n in expected.mp3s],
                "command lines from the long paths' short forms")

    # Windows keeps the trailing spaces of a folder inside a path. Wine 8
    # lists such a folder and opens files in it, but GetShortPathNameA fails
    # (error 2) for any path through it, as its component lookup drops the
    # trailing spaces. The program then stops at "The folder could not be
    # found."; a Wine that resolves the path must give the full batch.
    trailing = e2e.make_folder(wine, args,
                               SPACES_ROOT[3:] + "\\Trailing  \\  Inner",
                               {"a b.mp3": b"ok\n"})
    expected, _ = run_batch(wine, args, name + "-trailing", trailing, {},
                            [root])
    print("folder with trailing spaces inside the path: " +
          ("resolved" if expected.short_folder else "no short path"))


# ---- a drive root -----------------------------------------------------------

# The longest name there is: at the root even its WAV path, one character
# longer for the doubled separator, stays within MAX_PATH (259).
LONGEST = "Longest " + "n" * 243 + ".mp3"
ROOT_FILES = {
    "Song.mp3": b"ok\n",
    "My Song.mp3": b"ok\n",
    "mp3": b"ok\n",
    LONGEST: b"ok\n",
    "silent.mp3": b"nowav\n",
    "readme.txt": b"",
}


def make_root(wine, args, files):
    """The program alone at the root of a fresh drive X:."""
    wine.add_drive("X", os.path.join(wine.env["WINEPREFIX"], "hostile-x"))
    folder = "X:\\"
    shutil.copy(args.program, wine.unix(folder + PROGRAM))
    for file_name, content in files.items():
        with open(wine.unix(folder + file_name), "wb") as f:
            f.write(content)
    return folder


def run_drive_root(wine, args, name):
    folder = make_root(wine, args, ROOT_FILES)
    expected, runs = run_batch(
        wine, args, name, folder,
        {"silent.mp3": "no WAV file was written"}, [wine.unix(folder)])
    check_equal(expected.short_folder, "X:\\", "short path of the root")
    # Spelled out: the doubled separator of the output path, and the single
    # one of the paths the listing reports.
    commands = dict(zip(expected.mp3s, (c for _, c in runs)))
    check_equal(commands["Song.mp3"], "C:\\Progra~1\\Lame\\lame.exe --decode  "
                "X:\\Song.mp3 \"X:\\\\Song.wav\"", "command line for Song.mp3")
    check_equal(commands["mp3"], "C:\\Progra~1\\Lame\\lame.exe --decode  "
                "X:\\mp3 \"X:\\\\wav\"", "command line for mp3")
    check(commands["My Song.mp3"].endswith(" \"X:\\\\My Song.wav\""),
          f"command line for My Song.mp3: {commands['My Song.mp3']}")
    lines = expected.lines()
    for line in ["Audio folder: X:\\", "X:\\Song.mp3 decoding complete.",
                 "X:\\mp3 decoding complete.",
                 "X:\\silent.mp3 decoding failed (no WAV file was written)."]:
        check(line in lines, f"log line {line!r} not in {lines}")
    check_equal(len(LONGEST), 255, "longest name")
    check_equal(sorted(os.listdir(wine.unix(folder))),
                sorted([PROGRAM, *ROOT_FILES, "Song.wav", "My Song.wav",
                        "wav", wav_name(LONGEST)]),
                "files at the root after the batch")


def run_drive_root_lame(wine, args, name):
    """The real LAME takes the doubled separator too."""
    folder = make_root(wine, args, {"not really.mp3": b"no MP3 at all\n"})
    frames = e2e.encode_tones(wine, args, folder,
                              {"Song.mp3": (0.5, 440),
                               "Root Tone.mp3": (1.0, 660)})
    e2e.install_decoder(wine, args.lame)
    expected = Expected(wine, folder, {
        "not really.mp3": "the decoder exited with code -1"})
    before = watch(wine, [wine.unix(folder)])
    status, colour = expected.final_status()
    with Started(wine, folder, name) as program:
        program.wait_status(status, timeout_ms=60000)
        state = wine.state(name)
        program.still_working()
    e2e.check_window(state, expected.lines(), status, colour,
                     "Progress: 100%", 1.0)
    for mp3, count in frames.items():
        e2e.check_decoded(wine, folder, mp3, count)
    check_written(before, watch(wine, [wine.unix(folder)]),
                  expected.wavs(wine))


# ---- paths around MAX_PATH --------------------------------------------------

LONG_ROOT = "C:\\Hostile Long Paths"
LONG_FOLDER_LENGTH = 240


def long_folder():
    """An application folder of exactly LONG_FOLDER_LENGTH characters: four
    parts of ordinary words and spaces, padded to share out the length."""
    share, extra = divmod(LONG_FOLDER_LENGTH - len(LONG_ROOT) - 4, 4)
    parts = [(f"Part {i} of a long folder name " + "x" * 60)
             [:share + (i <= extra)] for i in range(1, 5)]
    folder = "\\".join([LONG_ROOT, *parts])
    check_equal(len(folder), LONG_FOLDER_LENGTH, "long folder length")
    return folder


def mp3_name(tag, length):
    check(len(tag) + 4 <= length <= 255, f"no name of {length} for {tag}")
    return tag + "n" * (length - len(tag) - 4) + ".mp3"


def filling(tag, folder_length, path_length):
    """The MP3 name that makes its path through a folder of `folder_length`
    characters exactly `path_length` long."""
    return mp3_name(tag, path_length - folder_length - 1)


def run_long_paths(wine, args, name):
    folder_dos = long_folder()
    shutil.rmtree(wine.unix(LONG_ROOT), ignore_errors=True)
    # The short folder decides which names still resolve: the listing, and
    # so every path the program resolves or writes, goes through it.
    os.makedirs(wine.unix(folder_dos))
    short_folder = wine.short_path(folder_dos)
    names = [
        # The long path just under, at and over MAX_PATH: no matter, as
        # the program only ever uses the short folder.
        *(filling(f"L{n} ", LONG_FOLDER_LENGTH, n)
          for n in (258, 259, 260, 261)),
        # The path through the short folder at 259, 260 and 261 characters.
        *(filling(f"S{n} ", len(short_folder), n) for n in (259, 260, 261)),
        # Names of 254 and 255 characters, the most a name can hold.
        mp3_name("N254 ", 254), mp3_name("N255 ", 255),
        "short.mp3",
    ]
    files = {n: b"ok\n" for n in names}
    folder = e2e.make_folder(wine, args, folder_dos[3:], files)
    expected, _ = run_batch(wine, args, name, folder, {},
                            [wine.unix(LONG_ROOT)])
    check_equal(expected.short_folder, short_folder, "short folder")
    # The ANSI calls take a path through the thread's static buffer of 260
    # characters and the NUL. Wine 8 resolves S260 and writes its WAV too;
    # from 261 characters on GetShortPathNameA fails with error 206
    # (ERROR_FILENAME_EXCED_RANGE), so S261 and the longest names are
    # reported as failed. Whatever fits within MAX_PATH must be decoded.
    must_decode = [n for n in names
                   if len(short_folder) + 1 + len(n) <= ANSI_PATH_LIMIT]
    check_equal(sorted(set(must_decode) - set(expected.decoded())), [],
                "MP3s whose paths fit, yet were not decoded")

    # The application folder itself over the limit. Wine still starts the
    # program (Windows without long-path support starts no executable whose
    # path is over MAX_PATH, which the one above already is at 265
    # characters), and GetModuleFileNameA gives its whole path when the
    # buffer is large enough; but the folder has no short path, so the
    # batch stops at once. A folder cut short at MAX_PATH would instead be
    # the one above, and its MP3s would be decoded again.
    over = e2e.make_folder(
        wine, args, folder_dos[3:] + "\\" + "Over the limit " + "o" * 20,
        {"inner.mp3": b"ok\n"})
    check(len(over) > ANSI_PATH_LIMIT, "folder not over the limit")
    run_batch(wine, args, name + "-over", over, {}, [wine.unix(LONG_ROOT)])


CASES = {
    "spaces": run_spaces,
    "drive_root": run_drive_root,
    "drive_root_lame": run_drive_root_lame,
    "long_paths": run_long_paths,
}


def main():
    return e2e.run(CASES, Drives, Drives.remove_drives)


if __name__ == "__main__":
    sys.exit(main())
