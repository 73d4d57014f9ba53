#!/usr/bin/env python3
"""The real program end to end on an X display: copied into a folder of real
MP3 files (tones encoded with LAME, under awkward names), it decodes every
one of them through /usr/bin/lame, stays open, and ends promptly when its
window is closed, during the batch too.

Usage: end_to_end.py PROGRAM CLOSE_WINDOW_TOOL
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tones  # noqa: E402

TITLE = "Larkspire Decompress Tool"
PROGRAM = CLOSE_WINDOW = None

# File names that a shell, a command line or GTK could get wrong.
AWKWARD = [
    b"with space.mp3",
    b"quote'single\"double.mp3",
    b"dollar$HOME.mp3",
    b"amp&and.mp3",
    b"#hash.mp3",
    b"-leading dash.mp3",
    "\u00f1and\u00fa \u00e9t\u00e9 \u65e5\u672c.mp3".encode(),
    b"bad\xff byte.mp3",
    b"UPPER.MP3",
    b"demomp3",
]


def wav_name(mp3):
    return mp3[:-3] + b"wav"


def find_window(title):
    found = subprocess.run(
        ["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title],
        stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL,
    )
    ids = found.stdout.split()
    return ids[0].decode() if ids else None


def window_shown():
    return find_window(TITLE) is not None


def keyboard(window, *actions):
    """Focuses `window` and types into it through the X server, as a user."""
    subprocess.run(["xdotool", "windowfocus", "--sync", window], check=True,
                   stderr=subprocess.DEVNULL)
    for action in actions:
        subprocess.run(["xdotool"] + list(action), check=True,
                       stderr=subprocess.DEVNULL)


def wait_for(condition, seconds, step=0.02):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(step)
    return condition()


class Program:
    """The program copied into `folder` and started from elsewhere."""

    def __init__(self, folder):
        self.exe = os.path.join(folder, b"larkspire_decompress")
        shutil.copy2(PROGRAM, self.exe)
        self.errors = tempfile.TemporaryFile()
        # Started from / so that only its own folder can be the one it works on.
        self.process = subprocess.Popen(
            [self.exe], cwd="/", stdout=subprocess.DEVNULL, stderr=self.errors
        )

    def close_window(self):
        subprocess.run([CLOSE_WINDOW, TITLE], check=True)

    def stderr(self):
        self.errors.seek(0)
        return self.errors.read().decode(errors="replace")

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.errors.close()


class EndToEnd(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.folder = os.fsencode(tempfile.mkdtemp(prefix="larkspire-e2e-"))
        self.program = None

    def tearDown(self):
        if self.program:
            self.program.kill()
        shutil.rmtree(self.folder)

    def start(self):
        self.program = Program(self.folder)
        if not wait_for(window_shown, 10):
            self.fail("the window never showed (exit status %s): %s"
                      % (self.program.process.poll(), self.program.stderr()))

    def close_and_expect_exit(self, seconds):
        start = time.monotonic()
        self.program.close_window()
        try:
            code = self.program.process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.fail("the program outlived its window by %.1f s" % seconds)
        self.assertEqual(code, 0)
        return time.monotonic() - start

    def test_decodes_every_mp3_and_stays_open(self):
        samples = {}
        for i, name in enumerate(AWKWARD):
            # Lengths differ, so a WAV decoded from the wrong MP3 shows.
            samples[name] = tones.make_mp3(
                os.path.join(self.folder, name), 0.4 + 0.15 * i, 300 + 40 * i
            )
        shutil.copy(
            os.path.join(self.folder, AWKWARD[0]),
            os.path.join(self.folder, b"song.mp3.bak"),
        )
        self.start()
        wavs = {wav_name(n): n for n in samples}

        def all_complete():
            return all(
                tones.wav_samples(os.path.join(self.folder, w)) for w in wavs
            )

        self.assertTrue(wait_for(all_complete, 60), "not every WAV was written")
        for wav, mp3 in wavs.items():
            with self.subTest(wav=wav):
                got = tones.wav_samples(os.path.join(self.folder, wav))
                self.assertLessEqual(abs(got - samples[mp3]), tones.FRAME)

        # The batch is over but the window stays until the user closes it.
        time.sleep(0.5)
        self.assertIsNone(self.program.process.poll(), "the program ended alone")
        self.assertTrue(window_shown())

        # Alt+S, a path typed into the save dialog, Enter: the log, byte for
        # byte, with file names repaired to UTF-8 as the window shows them.
        saved = os.path.join(self.folder, b"saved log.txt")
        keyboard(find_window(TITLE), ["key", "alt+s"])
        self.assertTrue(wait_for(lambda: find_window("Save Logfile"), 10))
        keyboard(
            find_window("Save Logfile"),
            ["key", "ctrl+a"],
            ["type", os.fsdecode(saved)],
            ["key", "Return"],
        )
        self.assertTrue(wait_for(lambda: os.path.exists(saved), 10), "no log saved")
        shown = lambda b: b.decode("utf-8", errors="replace")
        folder = shown(self.folder)
        lines = ["Audio folder: " + folder]
        for name in sorted(samples):
            lines += ["Decoding %s..." % shown(name),
                      "%s/%s decoding complete." % (folder, shown(name))]
        lines.append("Larkspire Decompress utility has completed all actions.")
        with open(saved, "rb") as f:
            content = f.read()
        self.assertEqual(content.decode().split("\r\n"), lines)

        self.close_and_expect_exit(3)
        expected = set(samples) | set(wavs)
        expected |= {b"song.mp3.bak", b"larkspire_decompress", b"saved log.txt"}
        self.assertEqual(set(os.listdir(self.folder)), expected)
        log = self.program.stderr()
        self.assertNotIn("CRITICAL", log)
        self.assertNotIn("WARNING", log)

    def test_closing_mid_batch_stops_it(self):
        count = 150
        first = os.path.join(self.folder, b"track000.mp3")
        tones.make_mp3(first, 2.0)
        for i in range(1, count):
            shutil.copy(first, os.path.join(self.folder, b"track%03d.mp3" % i))
        self.start()

        def decoded():
            return sum(
                1 for n in os.listdir(self.folder) if n.endswith(b".wav")
            )

        self.assertTrue(wait_for(lambda: decoded() >= 3, 30))
        took = self.close_and_expect_exit(2)
        self.assertLess(took, 1.0)
        # No further decoder run starts once the window is gone; the one
        # under way may finish its file.
        after_exit = decoded()
        print("closed after %d of %d files, in %.0f ms" % (after_exit, count, took * 1000))
        time.sleep(0.5)
        self.assertLessEqual(decoded(), after_exit + 1)
        self.assertLess(decoded(), count, "the batch ran to the end anyway")


if __name__ == "__main__":
    PROGRAM, CLOSE_WINDOW = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
