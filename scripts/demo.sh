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
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
title="Larkspire Decompress Tool"

# ---- Runs on the display: drive the program as a user would -------------
if [ "${1:-}" = "--drive" ]; then
  demo=$root/demo
  wav_complete() {
    python3 - "$@" <<'EOF'
import sys
sys.path.insert(0, "scripts")
import tones
sys.exit(0 if all(tones.wav_samples(p) for p in sys.argv[1:]) else 1)
EOF
  }
  wait_until() { # seconds, command...
    local end=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
      [ $SECONDS -lt $end ] || return 1
      sleep 0.1
    done
  }
  find_window() { xdotool search --onlyvisible --name "^$1\$" | head -n 1; }

  "$demo/larkspire_decompress" &
  program=$!
  wait_until 20 find_window "$title" || { echo "The window did not open." >&2; exit 1; }
  wavs=()
  for mp3 in "$demo"/*.mp3; do wavs+=("${mp3%???}wav"); done
  wait_until 60 wav_complete "${wavs[@]}" || { echo "Not every WAV file was written." >&2; exit 1; }
  sleep 1  # the final status follows the last WAV file
  window=$(find_window "$title")
  import -window "$window" "$demo/screenshot.png"

  log="$demo/larkspire-log.txt"
  rm -f "$log"
  xdotool windowfocus --sync "$window" key alt+s 2>/dev/null
  if wait_until 10 find_window "Save Logfile"; then
    xdotool windowfocus --sync "$(find_window "Save Logfile")" 2>/dev/null
    xdotool key ctrl+a type "$log"
    xdotool key Return
  fi
  echo
  if wait_until 10 test -s "$log"; then
    echo "The log, as Save Log wrote it to demo/$(basename "$log"):"
    sed 's/\r$//' "$log" | sed 's/^/  /'
    echo
  else
    echo "(The log could not be saved through the Save Log dialog.)"
  fi
  echo "WAV files produced:"
  ls -l "$demo"/*.wav | sed 's/^/  /'
  echo "Screenshot: demo/screenshot.png"

  closer=$root/build/linux/x11_window
  if [ -x "$closer" ]; then "$closer" close "$title" || true; else kill "$program"; fi
  wait "$program" || true
  exit 0
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
cp build/linux/larkspire_decompress demo/
echo "demo/ holds:"
ls -l demo | sed 's/^/  /'

# ---- Run ------------------------------------------------------------------
if [ -n "${DISPLAY:-}" ]; then
  echo "Starting demo/larkspire_decompress; close its window to end it."
  exec demo/larkspire_decompress
fi
echo "No display: running the program on a private Xvfb server."
exec scripts/with_display.sh bash "$0" --drive
