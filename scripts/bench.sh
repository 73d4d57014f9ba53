#!/usr/bin/env bash
# Builds what the benchmarks need and runs them, printing a table of the
# figures beside their targets (BENCHMARKS.md explains each one).
#
# Usage: scripts/bench.sh [--short] [--no-windows]
#   --short       every benchmark once at a tiny size, in well under a
#                 minute: CI runs this to see that they work
#   --no-windows  skip the Windows build and the runs under Wine
# The builds go to the presets' folders (build/linux, build/windows) unless
# BENCH_LINUX_BUILD or BENCH_WINDOWS_BUILD name others; BENCH_BEFORE_BUILD
# and BENCH_BEFORE_WINDOWS_BUILD name older builds to compare with in the
# per-file benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."

short=()
windows=1
for arg in "$@"; do
  case $arg in
    --short) short=(--short) ;;
    --no-windows) windows= ;;
    *) echo "usage: $0 [--short] [--no-windows]" >&2; exit 2 ;;
  esac
done

bash scripts/setup.sh
# A peer to measure against, and perf to trace the per-file cost with, for
# the full run only; the tests never need them (the short run skips the
# per-file split when perf is missing).
if [ ${#short[@]} -eq 0 ] &&
  ! { command -v soundconverter && command -v perf; } >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    soundconverter linux-perf >/dev/null
fi
jobs=$(nproc)

# The program, the benchmarks and the tests' stand-in decoder only.
build() { # preset dir targets...
  cmake --preset "$1" -B "$2" -DLARKSPIRE_BUILD_BENCH=ON >/dev/null
  cmake --build "$2" -j "$jobs" --target "${@:3}"
}

linux=${BENCH_LINUX_BUILD:-build/linux}
build linux "$linux" larkspire_decompress standin_decoder bench_batch \
  bench_log bench_log_headless bench_respond bench_window_shown \
  bench_bare_window
args=(--linux-build "$linux")
# An older Linux build of the program to set beside this one in the per-file
# benchmark (its folder, holding larkspire_decompress).
if [ -n "${BENCH_BEFORE_BUILD:-}" ]; then
  args+=(--before-build "$BENCH_BEFORE_BUILD")
fi

if [ -n "$windows" ]; then
  win=${BENCH_WINDOWS_BUILD:-build/windows}
  build windows "$win" larkspire_decompress standin_decoder bench_log \
    bench_respond bench_floor
  # LAME for Windows, as the Wine tests use it, for the per-file benchmark.
  bash scripts/build-lame-windows.sh "$win/lame-windows" >/dev/null
  args+=(--windows-build "$win")
  if [ -n "${BENCH_BEFORE_WINDOWS_BUILD:-}" ]; then
    args+=(--before-windows-build "$BENCH_BEFORE_WINDOWS_BUILD")
  fi
fi

exec python3 bench/run.py "${args[@]}" "${short[@]}"
