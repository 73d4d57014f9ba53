#!/usr/bin/env bash
# The demo, from a fresh Debian 12 machine: installs what it needs, builds
# the Linux program (preset "linux"), makes ./demo/ with a few generated MP3
# files, copies the program there and runs it.
#  - With a display ($DISPLAY set) the window opens and stays until you
#    close it.
#  - Without one the program runs on a private Xvfb server: once the batch
#    has finished, the script saves the log through the Save Log button
#    (Alt+S, as a user would) and prints it, saves demo/screenshot.png,
#    lists the WAV files and closes the window.
# demo.sh PROGRAM runs that program (an absolute path: a released one, say)
# instead of the one built here.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# ---- Runs on the display: drive the program as a user would -------------
if [ "${1:-}" = "--drive" ]; then
  exec python3 - "$root" <<'EOF'
import glob, os, subprocess, sys, time
sys.path.insert(0, "scripts")
import drive, tones
root = sys.argv[1]
demo = os.path.join(root, "demo")
program = subprocess.Popen([os.path.join(demo, "larkspire_decompress")])
wavs = [mp3[:-3] + "wav" for mp3 in glob.glob(demo + "/*.mp3")]
drive.wait_for("every WAV file", lambda: all(map(tones.wav_samples, wavs)), 60)
time.sleep(1)  # the final status follows the last WAV file
window = drive.xdotool(os.environ, "search", "--onlyvisible", "--name",
                       "^%s$" % drive.TITLE)[0]
subprocess.run(["import", "-window", window, demo + "/screenshot.png"])
log = drive.save_log(os.environ, demo + "/larkspire-log.txt")
print("\nThe log, as Save Log wrote it to demo/larkspire-log.txt:")
for line in log.decode().split("\r\n"):
    print("  " + line)
print("\nWAV files produced:")
subprocess.run("ls -l demo/*.wav | sed 's/^/  /'", shell=True, cwd=root)
print("Screenshot: demo/screenshot.png")
subprocess.run([root + "/build/linux/x11_window", "close", drive.TITLE])
program.wait()
EOF
fi

# ---- Packages -------------------------------------------------------------
bash scripts/setup.sh linux

# ---- Build ----------------------------------------------------------------
cmake --preset linux
# The program, and the small tool that closes its window as a user would.
cmake --build --preset linux --target larkspire_decompress x11_window_tool

# ---- The demo folder: a few seconds of tones, encoded with LAME ----------
rm -rf demo
mkdir demo
python3 - <<'EOF'
import sys
sys.path.insert(0, "scripts")
import tones
for name, seconds, hertz in [
    ("01 Morning Bells.mp3", 3, 440),
    ("02 Harbour Lights.mp3", 4, 523),
    ("03 Larkspire Waltz.mp3", 5, 587),
    ("04 Evening Tide.mp3", 3, 659),
    ("05 Quiet Hours.mp3", 4, 392),
]:
    tones.make_mp3("demo/" + name, seconds, hertz)
EOF
cp "${1:-build/linux/larkspire_decompress}" demo/
echo "demo/ holds:"
ls -l demo | sed 's/^/  /'

# ---- Run ------------------------------------------------------------------
if [ -n "${DISPLAY:-}" ]; then
  echo "Starting demo/larkspire_decompress; close its window to end it."
  exec demo/larkspire_decompress
fi
echo "No display: running the program on a private Xvfb server."
exec python3 scripts/display.py bash "$0" --drive
