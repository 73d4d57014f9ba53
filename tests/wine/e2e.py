#!/usr/bin/env python3
"""The Windows program end to end under Wine.

Each case makes a folder under the prefix's drive C holding the program and
its MP3 files, puts a decoder behind C:\\Progra~1\\Lame\\lame.exe, starts the
program and, once the batch has ended, reads the window through
wine_driver.exe: the status line and its colour on screen, the log byte for
byte, the bar and the percentage label. What the window must show is worked
out from what Windows (here Wine) says about the folder: its listing order
and short names, and its text for error 2.

Usage: e2e.py CASE --session DIR --program EXE --driver EXE
              [--standin EXE] [--lame EXE] [--encoder HOST_LAME]
              [--xdotool PATH]
"""

import argparse
import functools
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import time
import wave

COMPLETED = "Larkspire Decompress utility has completed all actions."
CANNOT_CONTINUE = "The Larkspire decompress utility cannot continue."
DECODER_FOLDER = "Progra~1/Lame"
PROGRAM = "larkspire_decompress.exe"
BLACK, RED, GREEN = "000000", "ff0000", "008000"
START = time.monotonic()


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure(f"{what}:\n  expected {expected!r}\n  actual   {actual!r}")


def driver_facts(lines):
    """The driver's "key=value" lines; values carry \\, \\r and \\n escaped."""
    unescape = {"r": "\r", "n": "\n"}
    return {key: re.sub(r"\\(.)", lambda m: unescape.get(m[1], m[1]), value)
            for key, _, value in (line.partition("=") for line in lines)}


class Wine:
    """The session's prefix and display, and the driver that reads the
    window."""

    def __init__(self, session_dir, driver):
        self.env = dict(os.environ)
        with open(os.path.join(session_dir, "env")) as f:
            for line in f:
                key, _, value = line.rstrip("\n").partition("=")
                self.env[key] = value
        self.drive_c = os.path.join(self.env["WINEPREFIX"], "drive_c")
        self.driver_exe = driver
        self.scratch = "larkspire-e2e"
        os.makedirs(self.unix("C:\\" + self.scratch), exist_ok=True)

    def unix(self, dos_path):
        check(dos_path[:3].upper() == "C:\\", f"not on drive C: {dos_path}")
        return os.path.join(self.drive_c, *dos_path[3:].split("\\"))

    def driver(self, *args, timeout=60, ok=True):
        """Runs the driver; its output lines (ANSI bytes read as Latin-1)."""
        start = time.monotonic()
        done = subprocess.run(["wine", self.driver_exe, *args], env=self.env,
                              stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=timeout)
        # Where a slow or failing case spent its time.
        print(f"[{time.monotonic() - START:6.2f}s] wine_driver {args[0]} "
              f"took {time.monotonic() - start:.2f}s, exit {done.returncode}")
        err = done.stderr.decode("latin-1")
        if ok and done.returncode != 0:
            raise Failure(f"wine_driver {' '.join(args)} failed "
                          f"({done.returncode}): {err.strip()}")
        return done.returncode, done.stdout.decode("latin-1").splitlines()

    # Each driver run starts a Wine process; ask once per path.
    @functools.lru_cache(maxsize=None)
    def short_path(self, dos_path):
        return self.driver("shortpath", dos_path)[1][0]

    @functools.lru_cache(maxsize=None)
    def listing(self, dos_folder):
        return tuple(self.driver("list", dos_folder)[1])

    def error_text(self, code):
        return self.driver("errtext", str(code))[1][0]

    def state(self, name):
        """The window as the driver reads it, plus the log's bytes."""
        log_dos = f"C:\\{self.scratch}\\{name}.log"
        state = driver_facts(self.driver("dump", log_dos)[1])
        with open(self.unix(log_dos), "rb") as f:
            state["log"] = f.read()
        low, high = (int(v) for v in state["range"].split(","))
        state["fraction"] = (int(state["pos"]) - low) / (high - low)
        # Background first, then the text's own colour; the rest is
        # antialiasing.
        colours = [c.split(":")[0] for c in state["status_colours"].split(",")]
        state["text_colour"] = colours[1] if len(colours) > 1 else None
        return state


class Program:
    """One start of the program from `folder`. Leaving the block closes it,
    or kills it if it will not close."""

    def __init__(self, wine, folder):
        self.wine = wine
        self.folder = folder
        self.process = None

    def __enter__(self):
        # A window left over from another case would answer in our place.
        self.wine.driver("close", "3000", ok=False)
        out = open(self.wine.unix(self.folder) + ".out", "wb")
        self.process = subprocess.Popen(
            ["wine", f"{self.folder}\\{PROGRAM}"], env=self.wine.env,
            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        out.close()
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.wine.driver("close", "3000", ok=False)
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def wait_status(self, text, timeout_ms=30000):
        self.wine.driver("wait-status", text, str(timeout_ms),
                         timeout=timeout_ms / 1000 + 30)


# ---- folders, decoders and the expected window -----------------------------

def make_folder(wine, args, name, files):
    """C:\\name with the program and `files` (name -> bytes); a value of
    None makes a subfolder. Returns the DOS path."""
    dos = f"C:\\{name}"
    path = wine.unix(dos)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    shutil.copy(args.program, os.path.join(path, PROGRAM))
    for file_name, content in files.items():
        if content is None:
            os.makedirs(os.path.join(path, file_name))
            # Files inside subfolders are not the program's business.
            with open(os.path.join(path, file_name, "inner.mp3"), "wb") as f:
                f.write(b"nowav\n")
        else:
            with open(os.path.join(path, file_name), "wb") as f:
                f.write(content)
    return dos


def install_decoder(wine, exe):
    """Puts `exe` behind the program's fixed decoder path, or removes it."""
    folder = os.path.join(wine.drive_c, DECODER_FOLDER)
    os.makedirs(folder, exist_ok=True)
    target = os.path.join(folder, "lame.exe")
    if os.path.exists(target):
        os.remove(target)
    if exe:
        shutil.copy(exe, target)


def is_mp3(name):
    return name[-3:].lower() == "mp3"


def wav_name(name):
    return (name[:-3] if len(name) > 3 else "") + "wav"


def percent_caption(value):
    text = f"{value:.1f}"
    if text.endswith(".0"):
        text = text[:-2]
    return f"Progress: {text}%"


def expected_run(wine, folder, reasons, last):
    """The log lines, and the percentage label and bar value after the last
    MP3 that was reported, for a batch over `folder`. reasons: MP3 name ->
    failure reason (absent for a good decode). last: the final status when
    the batch runs to its end, or the fatal error that stops it at its first
    MP3."""
    fatal = last.startswith("Error ")
    short_folder = wine.short_path(folder)
    listing = wine.listing(folder)
    lines = [f"Audio folder: {folder}"]
    percent = "Progress:"
    value = 0.0
    for k, name in enumerate(listing, start=1):
        if not is_mp3(name):
            continue
        lines.append(f"Decoding {name}...")
        if fatal:
            break
        path = f"{short_folder}\\{name}"
        reason = reasons.get(name)
        lines.append(f"{path} decoding failed ({reason})." if reason
                     else f"{path} decoding complete.")
        value = 100.0 * k / len(listing)
        percent = percent_caption(value)
    lines.append(last)
    return lines, percent, value


def check_window(state, lines, status, colour, percent, fraction):
    check_equal(state["log"], "\r\n".join(lines).encode("cp1252"), "log bytes")
    check_equal(state["status"], status, "status line")
    check_equal(state["text_colour"], colour, "status colour on screen")
    check_equal(state["percent"], percent, "percentage label")
    check(abs(state["fraction"] - fraction) < 0.001,
          f"bar at {state['fraction']:.4f}, expected {fraction:.4f}")
    check_equal(state["button"], "&Save Log", "button caption")


def decoder_runs(wine, log_dos):
    """The stand-in's records: (argv, raw command line) per run, and
    whether two runs ever overlapped."""
    path = wine.unix(log_dos)
    if not os.path.exists(path):
        return [], False
    runs, overlap = [], False
    with open(path, "rb") as f:
        for line in f.read().decode("latin-1").splitlines():
            if line == "OVERLAP":
                overlap = True
                continue
            fields = line.split("\t")
            check(fields[0] == "run" and "cmdline" in fields,
                  f"odd stand-in record {line!r}")
            at = fields.index("cmdline")
            runs.append((fields[2:at], "\t".join(fields[at + 1:])))
    return runs, overlap


def use_standin(wine, args, name):
    """The stand-in behind the decoder path, recording into a log of this
    case's own. Returns that log's DOS path."""
    install_decoder(wine, args.standin)
    log_dos = f"C:\\{wine.scratch}\\{name}-decoder.log"
    for suffix in ("", ".lock"):
        if os.path.exists(wine.unix(log_dos) + suffix):
            os.remove(wine.unix(log_dos) + suffix)
    wine.env["STANDIN_LOG"] = log_dos
    return log_dos


def expected_command(wine, folder, name):
    short_mp3 = wine.short_path(f"{folder}\\{name}")
    short_folder = wine.short_path(folder)
    return (f"C:\\Progra~1\\Lame\\lame.exe --decode  {short_mp3} "
            f"\"{short_folder}\\{wav_name(name)}\"")


# ---- the stand-in cases -----------------------------------------------------

# Each: the folder's files (name -> stand-in directives, None for a
# subfolder), the reason each failing MP3 is reported with, and the final
# status and its colour.
STANDIN_CASES = {
    # Names with spaces, upper case, no dot; things that are not MP3s.
    "command_line": dict(
        folder="Command Line Test",
        files={"My Song.mp3": b"ok\n", "TRACK.MP3": b"ok\n",
               "demomp3": b"ok\n", "notes.txt": b"", "song.mp3.bak": b"",
               "sub.mp3": None},
        reasons={},
        status=COMPLETED, colour=GREEN),
    # Runs long enough to overlap if the program did not wait for each.
    "one_at_a_time": dict(
        folder="One At A Time",
        files={f"track{i}.mp3": b"sleep 400\nok\n" for i in range(1, 5)},
        reasons={},
        status=COMPLETED, colour=GREEN),
    "decoder_failures": dict(
        folder="Decoder Failures",
        files={"exits.mp3": b"exit 3\n", "nowav.mp3": b"nowav\n",
               "short.mp3": b"shortwav\n", "good.mp3": b"ok\n"},
        reasons={"exits.mp3": "the decoder exited with code 3",
                 "nowav.mp3": "no WAV file was written",
                 "short.mp3": "the WAV file is incomplete"},
        status=COMPLETED + " 3 of 4 MP3 files could not be decoded.",
        colour=RED),
    # The program is the folder's only file: it counts, but is no MP3.
    "no_mp3": dict(
        folder="Nothing To Do", files={}, reasons={},
        status=COMPLETED, colour=GREEN),
}


def run_standin_case(wine, args, name):
    case = STANDIN_CASES[name]
    folder = make_folder(wine, args, case["folder"], case["files"])
    log_dos = use_standin(wine, args, name)
    with Program(wine, folder) as program:
        program.wait_status(case["status"])
        state = wine.state(name)
    lines, _, _ = expected_run(wine, folder, case["reasons"], case["status"])
    check_window(state, lines, case["status"], case["colour"],
                 "Progress: 100%", 1.0)

    runs, overlap = decoder_runs(wine, log_dos)
    check(not overlap, "two decoder runs overlapped")
    mp3s = [n for n in wine.listing(folder) if is_mp3(n)]
    check_equal([command for _, command in runs],
                [expected_command(wine, folder, n) for n in mp3s],
                "decoder command lines, in listing order")
    short_folder = wine.short_path(folder)
    for (argv, _), mp3 in zip(runs, mp3s):
        check_equal(argv[1:], ["--decode", wine.short_path(f"{folder}\\{mp3}"),
                               f"{short_folder}\\{wav_name(mp3)}"],
                    "decoder arguments as the decoder parsed them")
        if mp3 not in case["reasons"]:
            check(os.path.exists(wine.unix(f"{folder}\\{wav_name(mp3)}")),
                  f"no WAV beside {mp3}")


# ---- the other cases --------------------------------------------------------

def run_missing_decoder(wine, args, name):
    folder = make_folder(wine, args, "Missing Decoder",
                         {"a.mp3": b"ok\n", "b.mp3": b"ok\n",
                          "readme.txt": b""})
    install_decoder(wine, None)
    error = f"Error 2: {wine.error_text(2)}{CANNOT_CONTINUE}"
    with Program(wine, folder) as program:
        program.wait_status(CANNOT_CONTINUE)
        # Nothing may follow the error, however long one waits.
        time.sleep(1)
        state = wine.state(name)
    lines, percent, value = expected_run(wine, folder, {}, error)
    check_window(state, lines, error, RED, percent, value / 100)


def run_responsive(wine, args, name):
    """The window answers at once while a decoder runs, and shows the
    progress of the files before it."""
    folder = make_folder(wine, args, "Responsive",
                         {"a fast.mp3": b"ok\n", "b slow.mp3": b"sleep 4000\nok\n",
                          "c fast.mp3": b"ok\n"})
    use_standin(wine, args, name)
    listing = wine.listing(folder)
    with Program(wine, folder) as program:
        program.wait_status("Decoding b slow.mp3...")
        ping = driver_facts(wine.driver("ping", "15", "100")[1])
        during = wine.state(name + "-during")
        program.wait_status(COMPLETED)
        after = wine.state(name)
    check_equal(ping["unanswered"], "0", "WM_NULL left unanswered")
    # A window that answers only between 500 ms wait slices shows answers
    # spread over 0..500 ms; one that handles messages as they arrive
    # answers in a few. The median and a limit well under the slice keep a
    # single hiccup of a loaded machine from failing the case.
    times = sorted(int(t) for t in ping["all_ms"].split(","))
    check(times[len(times) // 2] < 20 and times[-1] < 250,
          f"window answered slowly while the decoder ran: {ping['all_ms']} ms")
    print(f"answers while the decoder ran, in ms: {ping['all_ms']}")
    # Unless b was still running after the pings, they proved nothing: a
    # window that does not answer while it waits holds the reads back too.
    check_equal(during["status"], "Decoding b slow.mp3...",
                "status after the pings (the batch must still wait for b)")
    check_equal(during["text_colour"], BLACK, "status colour while b runs")

    # While b runs, the MP3s listed before it are done: the last of them
    # set the label and the bar.
    before = [k for k, n in enumerate(listing[:listing.index("b slow.mp3")],
                                      start=1) if is_mp3(n)]
    value = 100.0 * before[-1] / len(listing) if before else 0.0
    check_equal(during["percent"],
                percent_caption(value) if before else "Progress:",
                "percentage label while b runs")
    check(abs(during["fraction"] - value / 100) < 0.001,
          f"bar at {during['fraction']:.4f} while b runs, "
          f"expected {value / 100:.4f}")

    lines, _, _ = expected_run(wine, folder, {}, COMPLETED)
    check_window(after, lines, COMPLETED, GREEN, "Progress: 100%", 1.0)


def run_close_mid_batch(wine, args, name):
    folder = make_folder(wine, args, "Close Mid Batch",
                         {f"t{i}.mp3": b"sleep 3000\nok\n" for i in range(3)})
    log_dos = use_standin(wine, args, name)
    with Program(wine, folder) as program:
        program.wait_status("Decoding ")
        code, lines = wine.driver("close", "2000", ok=False)
        check(code == 0, f"the program did not end within 2 s of WM_CLOSE: {lines}")
        print(f"ended {driver_facts(lines)['exit_ms']} ms after WM_CLOSE")
        try:
            program.process.wait(timeout=3)
        except subprocess.TimeoutExpired:
            raise Failure("wine did not return after the program ended")
    # The abandoned run finishes on its own; no further run may start.
    lock = wine.unix(log_dos) + ".lock"
    deadline = time.time() + 10
    while os.path.exists(lock) and time.time() < deadline:
        time.sleep(0.1)
    time.sleep(0.5)
    runs, _ = decoder_runs(wine, log_dos)
    check_equal(len(runs), 1, "decoder runs after closing mid-batch")


def dated_log_name():
    return "larkspireRepoLog_" + time.strftime("%Y%m%d") + ".txt"


def run_save_after_batch(wine, args, name):
    """Save Log once the batch is over: the dated name, the application
    folder, the log's exact bytes; a second press offers the dated name
    again, and cancelling it writes nothing; Alt+S opens the dialog too."""
    folder = make_folder(wine, args, "Save After Batch",
                         {"a.mp3": b"ok\n", "b.mp3": b"nowav\n"})
    use_standin(wine, args, name)
    with Program(wine, folder) as program:
        program.wait_status(COMPLETED)
        state = wine.state(name)
        before = set(os.listdir(wine.unix(folder)))
        # A bare name lands in the folder the dialog opened in.
        saved = driver_facts(wine.driver("save", "chosen log.txt")[1])
        after_save = set(os.listdir(wine.unix(folder)))
        again = driver_facts(wine.driver("cancel-save")[1])
        after_cancel = set(os.listdir(wine.unix(folder)))
        # Alt+S typed on the display, as a user would. With no window
        # manager the keyboard follows the pointer.
        left, top, right, bottom = (
            int(v) for v in state["window_rect"].split(","))
        subprocess.run([args.xdotool, "mousemove", str((left + right) // 2),
                        str((top + bottom) // 2), "sleep", "0.2",
                        "key", "alt+s"], env=wine.env, check=True)
        keyed = driver_facts(wine.driver("cancel-dialog")[1])
    check_equal(saved["suggested"], dated_log_name(), "suggested file name")
    check_equal(after_save - before, {"chosen log.txt"},
                "files the save added to the application folder")
    with open(os.path.join(wine.unix(folder), "chosen log.txt"), "rb") as f:
        check_equal(f.read(), state["log"], "saved log bytes")
    check_equal(again["suggested"], dated_log_name(),
                "suggested name on the second press")
    check_equal(after_cancel, after_save, "files after a cancelled save")
    check_equal(keyed["suggested"], dated_log_name(),
                "suggested name in the dialog Alt+S opened")


def run_save_mid_batch(wine, args, name):
    """Save Log while a decoder runs: the batch stands still behind the
    dialog, the file is the log of that moment, then the batch goes on."""
    folder = make_folder(wine, args, "Save Mid Batch",
                         {"a fast.mp3": b"ok\n", "b slow.mp3": b"sleep 1000\nok\n",
                          "c fast.mp3": b"ok\n"})
    use_standin(wine, args, name)
    target = f"C:\\{wine.scratch}\\{name}.txt"
    if os.path.exists(wine.unix(target)):
        os.remove(wine.unix(target))
    with Program(wine, folder) as program:
        program.wait_status("Decoding b slow.mp3...")
        during = wine.state(name + "-during")
        # Held open longer than the decoder runs.
        saved = driver_facts(wine.driver("save", target, "2500")[1])
        program.wait_status(COMPLETED)
        after = wine.state(name)
    check_equal(saved["status_while_open"], "Decoding b slow.mp3...",
                "status while the dialog was open")
    with open(wine.unix(target), "rb") as f:
        check_equal(f.read(), during["log"], "log saved mid-batch")
    lines, _, _ = expected_run(wine, folder, {}, COMPLETED)
    check_window(after, lines, COMPLETED, GREEN, "Progress: 100%", 1.0)


def tone_wav(path, seconds, frequency):
    rate = 44100
    frames = int(rate * seconds)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b"".join(
            struct.pack("<h", int(8000 * math.sin(2 * math.pi * frequency * i / rate)))
            for i in range(frames)))
    return frames


def encode_tones(wine, args, folder, tones):
    """MP3 files of sine tones (name -> (seconds, Hz)) made with the host's
    LAME; returns each one's length in samples."""
    frames = {}
    source = os.path.join(wine.unix(f"C:\\{wine.scratch}"), "tone.wav")
    for mp3, (seconds, frequency) in tones.items():
        frames[mp3] = tone_wav(source, seconds, frequency)
        subprocess.run([args.encoder, "--quiet", "-b", "128", source,
                        os.path.join(wine.unix(folder), mp3)], check=True)
    return frames


def check_decoded(wine, folder, mp3, count):
    wav = wine.unix(f"{folder}\\{wav_name(mp3)}")
    check(os.path.exists(wav), f"{wav_name(mp3)} was not written")
    with wave.open(wav, "rb") as w:
        check_equal((w.getnchannels(), w.getsampwidth(), w.getframerate()),
                    (1, 2, 44100), f"{wav_name(mp3)} format")
        # LAME drops its encoder delay and padding, so the length is the
        # source's to the sample.
        check_equal(w.getnframes(), count, f"{wav_name(mp3)} frames")
        samples = struct.unpack(f"<{count}h", w.readframes(count))
    rms = math.sqrt(sum(s * s for s in samples) / count)
    check(4000 < rms < 7000, f"{wav_name(mp3)} is not the tone (RMS {rms:.0f})")


# Real LAME on real MP3 files, in folders whose names have spaces. A file
# that is no MP3 makes LAME fail, which proves its exit code arrives.
REAL_CASES = {
    "real_decode": dict(
        folder="Real Decode Test",
        tones={"First Tone.mp3": (0.5, 440), "second tone.MP3": (1.0, 660),
               "Third.mp3": (1.5, 880)},
        broken={}, status=COMPLETED, colour=GREEN),
    "real_decoder_fails": dict(
        folder="Real Decoder Fails",
        tones={"fine.mp3": (0.5, 440)},
        # LAME's main returns -1: exit code 0xFFFFFFFF, read as signed.
        broken={"not really.mp3": "the decoder exited with code -1"},
        status=COMPLETED + " 1 of 2 MP3 files could not be decoded.",
        colour=RED),
}


def run_real_case(wine, args, name):
    case = REAL_CASES[name]
    folder = make_folder(wine, args, case["folder"],
                         {mp3: b"no MP3 at all\n" for mp3 in case["broken"]})
    frames = encode_tones(wine, args, folder, case["tones"])
    install_decoder(wine, args.lame)
    with Program(wine, folder) as program:
        program.wait_status(case["status"], timeout_ms=60000)
        state = wine.state(name)
    lines, _, _ = expected_run(wine, folder, case["broken"], case["status"])
    check_window(state, lines, case["status"], case["colour"],
                 "Progress: 100%", 1.0)
    for mp3, count in frames.items():
        check_decoded(wine, folder, mp3, count)
    for mp3 in case["broken"]:
        check(not os.path.exists(wine.unix(f"{folder}\\{wav_name(mp3)}")),
              f"LAME wrote a WAV for {mp3}")


CASES = {name: run_standin_case for name in STANDIN_CASES}
CASES.update({name: run_real_case for name in REAL_CASES})
CASES.update({
    "missing_decoder": run_missing_decoder,
    "responsive": run_responsive,
    "close_mid_batch": run_close_mid_batch,
    "save_after_batch": run_save_after_batch,
    "save_mid_batch": run_save_mid_batch,
})


def run(cases, session=None, cleanup=None):
    """Runs the case the command line names against a `session` (Wine by
    default), then `cleanup(session)`; returns the exit status for CTest."""
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(cases))
    parser.add_argument("--session", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--standin")
    parser.add_argument("--lame", help="LAME for Windows")
    parser.add_argument("--encoder", default="lame",
                        help="the host's LAME, to make MP3 files")
    parser.add_argument("--xdotool", default="xdotool",
                        help="types on the session's display")
    args = parser.parse_args()
    wine = (session or Wine)(args.session, args.driver)
    try:
        cases[args.case](wine, args, args.case)
    except Failure as failure:
        print(f"FAILED {args.case}: {failure}", file=sys.stderr)
        return 1
    finally:
        if cleanup:
            cleanup(wine)
    print(f"passed {args.case}")
    return 0


def main():
    return run(CASES)


if __name__ == "__main__":
    sys.exit(main())
