"""Real MP3 files: sine tones written as WAV and encoded with LAME. Used by
the end-to-end test, the demo, the screenshot script and the benchmarks."""

import math
import os
import struct
import subprocess
import tempfile
import wave

RATE = 44100
# One MPEG-1 Layer III frame.
FRAME = 1152


def write_tone(path, seconds, hertz=440.0, channels=1):
    """A 16-bit sine tone, each further channel a fifth above the one before;
    returns its sample count."""
    count = int(seconds * RATE)
    steps = [2 * math.pi * hertz * 1.5**c / RATE for c in range(channels)]
    # A whole number of hertz repeats every second: compute one, copy it.
    period = min(RATE if float(hertz).is_integer() else count, count)
    one = struct.pack(
        "<%dh" % (period * channels),
        *(int(12000 * math.sin(i * step)) for i in range(period) for step in steps),
    )
    samples = (one * (count // period + 1))[: 2 * channels * count]
    with wave.open(os.fsdecode(path), "wb") as out:
        out.setnchannels(channels)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(samples)
    return count


def make_mp3(path, seconds, hertz=440.0, channels=1, lame=("-b", "64")):
    """Encodes a tone of `seconds` to the MP3 `path` (str or bytes) with the
    options `lame`; returns the tone's sample count."""
    with tempfile.TemporaryDirectory() as scratch:
        wav = os.path.join(scratch, "tone.wav")
        count = write_tone(wav, seconds, hertz, channels)
        subprocess.run(
            [b"lame", b"--quiet", *map(os.fsencode, lame), os.fsencode(wav), os.fsencode(path)],
            check=True,
        )
    return count


def wav_samples(path):
    """The sample count of a complete WAV file, or None while it is missing
    or still being written (its header claims more than the file holds)."""
    try:
        size = os.path.getsize(path)
        with open(path, "rb") as f:
            head = f.read(4096)
    except OSError:
        return None
    if len(head) < 12 or head[:4] != b"RIFF" or head[8:12] != b"WAVE":
        return None
    pos, block = 12, None
    while pos + 8 <= len(head):
        chunk, length = head[pos : pos + 4], struct.unpack("<I", head[pos + 4 : pos + 8])[0]
        if chunk == b"fmt ":
            channels, = struct.unpack("<H", head[pos + 10 : pos + 12])
            bits, = struct.unpack("<H", head[pos + 22 : pos + 24])
            block = channels * bits // 8
        elif chunk == b"data":
            if block is None or pos + 8 + length > size:
                return None
            return length // block
        pos += 8 + length + (length & 1)
    return None
