"""The real program in its real window, driven as a user would through the
X server (drive.X11), or on Wayland through AT-SPI (atspi.Window, which also
reads the controls); Save Log gives the log's bytes: the rows gtk.py and
wine.py play, "on" naming the fronts a row is for when not all."""

import os, re, signal, subprocess, sys, tempfile, time, wave
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts"))
import display, tones, weston  # noqa: E402
from drive import TITLE, wait_for  # noqa: E402
PROGRAM, STANDIN, X11_WINDOW = sys.argv[1:4]
DONE = "Larkspire Decompress utility has completed all actions."
OK = b"ok\n"  # stand-in directives
WRITES = b"begin\nsleep 2000\nok\n"  # an incomplete WAV file at once, the rest later
L, N = "L" * 146 + ".mp3", "N" * 251 + ".mp3"  # paths through a short folder: < 260, > 260

def ok(name):
    return ["Decoding %s..." % name, "{s}%s decoding complete." % name]


# A file is stand-in directives or a real MP3: (seconds of tone, its WAV).
# Expected text may name {dir} (the program's folder) and {s} (the batch's
# own form of it, short on Windows, with a separator). Wine lists a folder
# in an order of its own; the files' lines follow it there.
ROWS = [
    dict(name="real LAME on awkward names", folder="Awkward Names $HOME & #1", decoder="lame",
         files={"with space.mp3": (0.30, "with space.wav"), "quote'single.mp3": (0.35, "quote'single.wav"),
                "dollar$HOME.mp3": (0.40, "dollar$HOME.wav"), "amp&and.mp3": (0.45, "amp&and.wav"),
                "#hash.mp3": (0.50, "#hash.wav"), "-leading dash.mp3": (0.55, "-leading dash.wav"),
                "\u00f1and\u00fa \u00e9t\u00e9.mp3": (0.60, "\u00f1and\u00fa \u00e9t\u00e9.wav"),
                "UPPER.MP3": (0.65, "UPPER.wav"), "song.mp3.bak": (0.75, None)},
         steps=[("log", ["Audio folder: {dir}", *ok("#hash.mp3"), *ok("-leading dash.mp3"),
                         *ok("UPPER.MP3"), *ok("amp&and.mp3"),
                         *ok("dollar$HOME.mp3"), *ok("quote'single.mp3"), *ok("with space.mp3"),
                         *ok("\u00f1and\u00fa \u00e9t\u00e9.mp3"), DONE]),
                ("colour", "green"), ("screenshot", None), ("close", 3)]),
    # Nothing the program started is left running, nor writes later; a WAV
    # file is there only as the row made it.
    *(dict(name="signal %d to the program's group while a decoder that ignores it writes" % n,
           on="gtk wayland", folder="Signal %d" % n, decoder="standin",
           files={"a.mp3": b"ignore %d\n" % n + WRITES, "b.mp3": OK},
           steps=[("run", 1), ("signal", n), ("gone", 2.5)]) for n in (15, 2, 1)),
    dict(name="SIGTERM while the save dialog is open", on="gtk wayland", folder="Signal In Dialog",
         decoder="standin", files={"a.mp3": b"sleep 2000\nok\n", "a.wav": b"not written by the stopped run"},
         steps=[("run", 1), ("save", None), ("signal", 15), ("gone", 2.5)]),
    # Closed as the window system asks (Wine drops its close box's request
    # to a window a dialog has disabled; there WM_CLOSE comes, as taskkill
    # sends it). Nothing outside Weston can ask it.
    dict(name="closed while the save dialog is open", on="gtk wine", folder="Close In Dialog",
         decoder="standin", files={"a.mp3": b"sleep 2000\nok\n", "a.wav": b"not written by the stopped run"},
         steps=[("run", 1), ("save", None), ("post close", 3.0), ("gone", 2.5)]),
    dict(name="the program killed while a decoder hangs", folder="Killed",
         decoder="standin", files={"a.mp3": b"sleep 2000\nok\n"},
         steps=[("run", 1), ("signal", 9), ("gone", 2.5)]),
    # The program sees its own mounts: the full file system is looked at
    # through /proc/PID/root.
    dict(name="Save Log to a full disk leaves nothing", on="gtk", folder="Full", decoder="standin",
         full=True, files={"a.mp3": OK}, steps=[("log", ["Audio folder: {dir}", *ok("a.mp3"), DONE]),
                                                ("save", ("{dir}/full/log.txt", "Return")),
                                                ("files", ("/full", {"fill": None}))]),
    # GTK's chooser: the offered name, and the extension added to a typed
    # name before its own replace question, asked only then, about that file.
    dict(name="Save Log's names and GTK's replace question", on="gtk", folder="Names",
         decoder="standin", files={"notes": b"", "both": b"", "both.txt": b"old", "kept.txt": b"old"},
         steps=[("log", ["Audio folder: {dir}", "No MP3 file was found in {dir}.", DONE]), ("save", ("",)), ("save", (".hidden",)),
                ("save", ("log.text",)), ("save", ("notes",)), ("save", ("both", "Return")),
                ("save", ("kept", "Escape", "Escape")),
                ("files", ("", {"notes": b"", "both": b"", "kept.txt": b"old", **dict.fromkeys(
                    [".hidden.txt", "log.text", "notes.txt", "both.txt",
                     time.strftime("larkspireRepoLog_%Y%m%d.txt")], b"Audio folder: ")}))]),
    dict(name="no decoder", on="wine", folder="No Decoder", decoder=None,
         files={"a.mp3": OK, "notes.txt": b""},
         steps=[("log", ["Audio folder: {dir}", "Decoding a.mp3...",
                         "The decoder could not be started from C:\\Progra~1\\Lame\\lame.exe"
                         " or C:\\Program Files\\Lame\\lame.exe.",
                         "Error 2: File not found. The Larkspire decompress utility cannot continue."]), ("colour", "red")]),
    # LAME's own words on what went wrong.
    dict(name="a file that is no MP3", folder="No MP3", decoder="lame",
         files={"not really.mp3": b"hello, this is text\n", "real.mp3": (0.3, "real.wav")},
         steps=[("log", ["Audio folder: {dir}", "Decoding not really.mp3...",
                         "{s}not really.mp3 decoding failed (the decoder exited with code {lame_failed}:"
                         " Can't init infile '{s}not really.mp3').", *ok("real.mp3"),
                         DONE + " 1 of 2 MP3 files could not be decoded."])]),
    # The decoder, built with MinGW, reads its arguments in code page 1252;
    # each name reaches it as exactly that file, never as "Songs" beside.
    dict(name="names in any script, beside look-alikes", on="wine", folder="\u015congs",
         decoder="lame", beside={"Songs/Song.mp3": (0.25, None)},
         files={"Song.mp3": (0.30, "Song.wav"), "\u015cong.mp3": (0.35, "\u015cong.wav"),
                "\u03a9mega.mp3": (0.40, "\u03a9mega.wav"), "\u65e5\u672c.mp3": (0.45, "\u65e5\u672c.wav")},
         steps=[("log", ["Audio folder: {dir}", *ok("Song.mp3"), *ok("\u015cong.mp3"),
                         *ok("\u03a9mega.mp3"), *ok("\u65e5\u672c.mp3"), DONE]),
                ("save as", "\u015cave.txt"), ("files", ("../Songs", {"Song.mp3": None}))]),
    # Windows would hand a device these names stand for; read-only MP3s stay
    # as they are, with no second name, and one another program holds open
    # leaves no temporary name behind.
    dict(name="device names and read-only or held MP3s through temporary names", on="wine",
         folder="Devices", decoder="lame", readonly=["nul.mp3", "\u015cong.mp3"], held={"aux.mp3": "8000 shared"},
         files={"con.mp3": (0.30, "con.wav"), "aux.mp3": (0.35, "aux.wav"),
                "nul.mp3": (0.40, "nul.wav"), "\u015cong.mp3": (0.45, "\u015cong.wav")},
         steps=[("log", ["Audio folder: {dir}", *ok("con.mp3"), *ok("aux.mp3"), *ok("nul.mp3"),
                         *ok("\u015cong.mp3"), DONE])]),
    # Windows may end the program the moment WM_ENDSESSION returns: the run
    # is rolled back by then. A shutdown another program cancels changes
    # nothing.
    dict(name="logoff while a decoder writes", on="wine", folder="Logoff",
         decoder="standin", files={"a.mp3": WRITES, "a.wav": b"old", "b.mp3": OK},
         steps=[("run", 1), ("end session", 3.0), ("gone", 2.5)]),
    dict(name="logoff cancelled while a decoder writes", on="wine", folder="Logoff Cancelled",
         decoder="standin", files={"a.mp3": WRITES},
         steps=[("run", 1), ("end session", "cancelled"), ("log", ["Audio folder: {dir}", *ok("a.mp3"), DONE])]),
    # DLLs of system names in the program's folder, as comdlg32 would load
    # them: the batch and the save dialog leave no mark of their loading.
    dict(name="DLLs planted beside the program never load", on="wine", folder="Planted",
         decoder="lame", planted=["shcore.dll", "compstui.dll"], files={"a.mp3": (0.30, "a.wav")},
         steps=[("log", ["Audio folder: {dir}", *ok("a.mp3"), DONE]),
                # A screen reader names an edit by the static before it.
                ("controls", ["Static\tLog", "Edit\t", "msctls_progress32\tProgress: 100%"])]),
    dict(name="a folder named with a trailing space is not its sibling", on="wine",
         folder="Trail ", beside={"Trail/sibling.mp3": (0.30, None)}, decoder="lame",
         files={"own.mp3": (0.35, None)},
         # Save Log's dialog, too, opens in the sibling: only the colour tells.
         steps=[("colour", "red")]),
    dict(name="at a drive root", on="wine", drive="X", decoder="standin",
         files={"Song.mp3": OK, "My Song.mp3": OK, "mp3": OK, "readme.txt": b""},
         steps=[("log", ["Audio folder: X:\\", "Decoding Song.mp3...", "X:\\Song.mp3 decoding complete.",
                         "Decoding My Song.mp3...", "X:\\My Song.mp3 decoding complete.",
                         "Decoding mp3...", "X:\\mp3 decoding complete.", DONE])]),
    # The log, past its height, still shows its last line when the batch ends.
    dict(name="forty files: the log shows its last line", on="wine", folder="Forty", decoder="standin",
         files={"%02d.mp3" % i: b"" for i in range(40)}, steps=[("last line", 82), ("colour", "green")]),
    # A folder of 239 characters: every long path passes MAX_PATH; one with
    # no short form is reached by temporary names.
    dict(name="paths around MAX_PATH", on="wine", decoder="standin",
         folder="Long Paths/" + "/".join(
             ("Part %d of a folder with a long name " % i).ljust(53, "x") for i in range(4)),
         files={"short.mp3": OK, L: OK, N: OK},
         steps=[("log", ["Audio folder: {dir}", *ok("short.mp3"), *ok(L), *ok(N), DONE])]),
    # Wine shows a Unix symbolic link as the file it leads to, which the
    # batch leaves alone, and one leading nowhere as nothing at all, which
    # the decoded file replaces: nothing is written outside the folder.
    dict(name="WAV names that are Unix links", on="wine", folder="Links", decoder="standin",
         files={"a.mp3": OK, "d.mp3": OK}, beside={"Linked/a.wav": b"outside"},
         links={"a.wav": "../Linked/a.wav", "d.wav": "../Linked/d.wav"},
         steps=[("log", ["Audio folder: {dir}", "Decoding a.mp3...",
                         "{s}a.mp3 decoding failed (its WAV file name is a link).", *ok("d.mp3"),
                         DONE + " 1 of 2 MP3 files could not be decoded."]),
                ("files", ("../Linked", {"a.wav": b"outside"}))]),
    # A virus scanner holding the old WAV for a moment as the new one
    # replaces it: through temporary names, since Wine has no "\u015c".
    dict(name="a WAV held by another program for a moment", on="wine", folder="Held",
         decoder="standin", files={"\u015cong.mp3": OK, "\u015cong.wav": b"old"},
         held={"\u015cong.wav": "500"},
         steps=[("log", ["Audio folder: {dir}", *ok("\u015cong.mp3"), DONE]),
                ("files", ("", {"\u015cong.mp3": OK, "\u015cong.wav": b"RIFF"}))]),
    # Each waited for two seconds on either route, the window answering.
    dict(name="MP3 and WAVs held by another program for good", on="wine", folder="Held For Good",
         decoder="standin", files={"\u015cong.mp3": OK, "\u015cong.wav": b"old", "a.mp3": OK, "a.wav": b"old",
                                   "b.mp3": OK},
         held={"\u015cong.wav": "-1", "a.wav": "-1", "b.mp3": "-1"},
         steps=[("answers", 5000),
                ("log", ["Audio folder: {dir}", "Decoding \u015cong.mp3...",
                         "{s}\u015cong.mp3 decoding failed (its WAV file is in use by another program).",
                         "Decoding a.mp3...", "{s}a.mp3 decoding failed (its WAV file is in use by another program).",
                         "Decoding b.mp3...", "{s}b.mp3 decoding failed (the MP3 file is in use by another program).",
                         DONE + " 3 of 3 MP3 files could not be decoded."]),
                ("files", ("", {"\u015cong.mp3": OK, "\u015cong.wav": b"old", "a.mp3": OK, "a.wav": b"old",
                                "b.mp3": OK}))]),
    # The save dialog asks before it replaces a file; a link is written
    # through, to its target.
    dict(name="Save Log over an existing file and through a link", on="wine", folder="Replace",
         decoder="standin", files={"old.txt": b"old"}, beside={"Outside/real.txt": b"old"},
         links={"log.txt": "../Outside/real.txt"},
         steps=[("log", ["Audio folder: {dir}", "No MP3 file was found in {dir}.", DONE]), ("save", ("old.txt", "n", "Escape")),
                ("save", ("log.txt", "y")), ("files", ("", {"old.txt": b"old", "log.txt": b"Audio folder: "})),
                ("files", ("../Outside", {"real.txt": b"Audio folder: "}))]),
    # Last: the scheme stays in the prefix. Black on a black face is drawn in
    # the scheme's text colour.
    dict(name="a high-contrast scheme", on="wine", folder="Scheme", decoder="standin",
         scheme={"ButtonFace": "0 0 0", "ButtonText": "255 255 0"}, files={"a.mp3": b"sleep 15000\n"},
         steps=[("run", 1), ("colour", "yellow")]),
]

def check(condition, message, *args):
    if not condition:
        raise AssertionError(message % args)

def save_log(front, folder, count=[0]):
    """Save Log by keyboard, a bare name typed: the dialog opens in the
    program's folder and adds the default extension. The log's lines."""
    count[0] += 1
    name = "log%d" % count[0]
    return text(front.ui.save_log(os.path.join(folder, name + ".txt"), name), front).split("\r\n")

def text(saved, front):  # UTF-8 behind its byte-order mark, else the front's encoding
    bom = b"\xef\xbb\xbf"
    return saved[3:].decode("utf-8") if saved.startswith(bom) else saved.decode(front.encoding)

def listed(lines, order):
    """Each file's lines, from its "Decoding" line on, in listing order."""
    if not any(line.startswith("Decoding ") for line in lines):
        return lines
    groups = "\n".join(lines[1:-1]).replace("\nDecoding ", "\0Decoding ").split("\0")
    groups = [g.split("\n") for g in groups]
    groups.sort(key=lambda g: order.index(g[0][len("Decoding "):-3]))
    return lines[:1] + sum(groups, []) + lines[-1:]

def runs(log):  # the stand-in's records
    return open(log, "rb").read().decode("cp1252", "replace").splitlines() if os.path.exists(log) else []

def play(front, row, index):
    folder, shown = front.make_folder(row)
    samples = {}
    beside = {os.path.join(b"..", os.fsencode(n)): c for n, c in row.get("beside", {}).items()}
    for name, content in [*row["files"].items(), *beside.items()]:
        path = os.path.normpath(os.path.join(folder, os.fsencode(name)))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(content, bytes):
            open(path, "wb").write(content)
        elif path.startswith(folder + b"/"):
            samples[content[1]] = tones.make_mp3(path, content[0])
            if name in row.get("readonly", []):
                os.chmod(path, 0o444)
        else:
            tones.make_mp3(path, content[0])
    for name, target in row.get("links", {}).items():
        os.symlink(target, os.path.join(folder, os.fsencode(name)))
    facts, order = front.facts(shown, row)
    log = os.path.join(front.root, "standin%d.log" % index)
    errors = tempfile.TemporaryFile()
    holders = [front.hold(shown, name, how) for name, how in row.get("held", {}).items()]
    program = front.start(row, folder, shown, log, errors)
    try:
        front.ui.show()
        ends = dict(row["steps"]).keys() & {"close", "signal", "post close", "end session"}
        closes = [] if ends else [("close", 5)]
        for step, arg in row["steps"] + closes:
            if step == "run":
                wait_for("decoder run %d" % arg, lambda: len(runs(log)) >= arg, 20)
            elif step == "log":
                want, got, end = [line.format_map(facts) for line in arg], [], time.monotonic() + 30
                want = listed(want, order) if order else want
                while got != want and time.monotonic() < end:
                    got = save_log(front, os.fsdecode(folder))
                check(got == want, "log:\n  expected %r\n  saved    %r", want, got)
                seen = getattr(front.ui, "read", dict)()  # as a screen reader reads it, where one can
                check(not seen or seen["log"] == want and seen["status"] == want[-1] and
                      seen["bar"] == (seen["percent"], float(seen["percent"][10:-1])), "read %r", seen)
            elif step == "colour":  # once the batch has drawn it
                shows, end = [], time.monotonic() + 10
                while shows != [arg] and time.monotonic() < end:
                    shows = front.ui.colours()
                check(shows == [arg], "status colour %s, window shows %s", arg, shows)
            elif step == "save":
                front.ui.save(arg and (arg[0].format_map(facts), *arg[1:]))
            elif step == "screenshot":  # kept beside the test's other output
                front.ui.screenshot(os.path.abspath(front.name + ".png"))
            elif step in ("close", "signal", "post close", "end session"):
                start = time.monotonic()
                if step == "close":
                    front.ui.close()
                elif step == "post close":
                    front.ask("close", TITLE)
                elif step == "end session":  # logoff, as Windows asks it
                    front.ask("endsession", TITLE, *[arg] if arg == "cancelled" else [])
                    if arg == "cancelled":
                        continue
                elif arg == signal.SIGKILL:  # the program alone; its decoder ends with it
                    program.kill()
                else:  # to the program's process group, as a terminal's Ctrl+C goes
                    os.killpg(program.pid, arg)
                status = -arg if step == "signal" and arg == signal.SIGKILL else 0
                check(program.wait(timeout=1 if step == "signal" else arg) == status or step == "end session",
                      "exit status %s", program.returncode)
                print("  ended %.0f ms after the %s" % (1000 * (time.monotonic() - start), step))
            elif step == "save as":  # a name typed outside the code page
                path = os.path.join(folder, os.fsencode(arg))
                saved = text(front.ui.save_log(path, arg), front)
                check(saved.startswith("Audio folder: "), "saved as %s: %r", arg, saved)
                os.remove(path)
            elif step == "answers":  # the longest the window took to answer meanwhile
                longest = int(front.ask("answers", TITLE, str(arg)))
                check(longest < 100, "the window took %d ms to answer", longest)
            elif step == "gone":  # once the decoders would have ended on their own
                time.sleep(arg)
                killed = program.returncode == -signal.SIGKILL  # its temporaries stay for the next start
                wavs = {os.fsdecode(n): open(os.path.join(folder, n), "rb").read() for n in os.listdir(folder)
                        if n.endswith(b".wav") or n.startswith(b"lsk") and not killed}
                left = subprocess.run(["pgrep", "-af", front.decoders(folder)],
                                      capture_output=True, text=True).stdout
                check(not left and len(runs(log)) == 1 and
                      wavs == {n: c for n, c in row["files"].items() if n.endswith(".wav")},
                      "left running: %r; decoder runs: %r; WAV files: %r", left, runs(log),
                      {n: c[:8] for n, c in wavs.items()})
            elif step == "controls":  # in window order; the log's own text left out
                shown = ["Edit\t" if c.startswith("Edit\t") else c for c in front.ask("children", TITLE).splitlines()]
                at = shown.index(arg[1]) if arg[1] in shown else 0
                check(shown[at - 1:at] == arg[:1] and arg[2] in shown, "controls: %r", shown)
            elif step == "last line":  # once the log has its lines: the last one's top in view
                view, end = [0, -1, 0], time.monotonic() + 90
                while view[0] < arg and time.monotonic() < end:
                    view = [int(n) for n in front.ask("log", TITLE).split()]  # lines, top, height
                check(view[0] == arg and 0 <= view[1] < view[2], "log (lines, last top, height): %r", view)
            elif step == "files":  # a folder's files, and how each starts (None: any way)
                seen = b"/proc/%d/root" % program.pid if arg[0][:1] == "/" else b""  # as the program sees it
                there = seen + os.path.normpath(os.path.join(folder, os.fsencode(arg[0].lstrip("/"))))
                want = arg[1]
                names = {os.fsdecode(n) for n in os.listdir(there)} - {front.exe}
                names = {n for n in names if not re.fullmatch(r"log\d+\.txt", n)}
                check(names == set(want), "%s holds %r", arg[0], names)
                for name, content in want.items():
                    got = open(os.path.join(there, os.fsencode(name)), "rb").read() if content else b""
                    check(got.startswith(content or b""), "%s: %r", name, got[:40])
    except subprocess.TimeoutExpired:
        raise AssertionError("still running after the close box")
    finally:
        for process in [program, *holders]:
            if process.poll() is None:
                process.kill()
                process.wait()
    errors.seek(0)
    said = errors.read().decode(errors="replace")
    check(not (front.forbidden and re.search(front.forbidden, said)), "stderr: %s", said)
    made = {os.fsdecode(n) for n in os.listdir(folder)}
    made = {n for n in made if not re.fullmatch(r"log\d+\.txt", n)}
    made -= set(row["files"]) | set(row.get("planted", [])) | {front.exe}
    check(not samples or made == set(samples) - {None}, "files the batch wrote: %r", made)
    for name in row.get("readonly", []):
        mp3 = os.stat(os.path.join(folder, os.fsencode(name)))
        check(mp3.st_nlink == 1 and not mp3.st_mode & 0o222, "%s: %d names, mode %o",
              name, mp3.st_nlink, mp3.st_mode)
    for wav in made if samples else []:
        with open(os.path.join(folder, os.fsencode(wav)), "rb") as f, wave.open(f) as w:
            check(w.getnframes() == samples[wav], "%s: %d samples", wav, w.getnframes())

def run(front):
    """Plays the rows that hold for `front` on a display server of its own
    (Weston for "wayland", else X); exits with the status for CTest."""
    failed = 0
    with (weston if front.name == "wayland" else display).private(front.env) as front.env:
        try:
            front.boot()
            only = os.environ.get("ROWS", "")  # a part of the names to play
            for index, row in enumerate(ROWS):
                if front.name in row.get("on", front.name).split() and only in row["name"]:
                    start, verdict = time.monotonic(), "ok"
                    try:
                        play(front, row, index)
                    except (AssertionError, TimeoutError) as failure:
                        failed, verdict = failed + 1, "FAILED: %s" % failure
                    print("%s (%.1f s): %s" % (row["name"], time.monotonic() - start, verdict), flush=True)
        finally:
            front.end()
    sys.exit(1 if failed else 0)
