#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs every test: the Linux build,
# its unit tests again under AddressSanitizer and UBSan, the 32-bit Windows
# build with its tests under Wine, the release and its checks, and the
# benchmarks' short mode.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
run_preset() { # preset [build targets] -- [ctest arguments]
  local preset=$1 targets=()
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do targets+=(--target "$1"); shift; done
  [ $# -gt 0 ] && shift
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" "${targets[@]}"
  ctest --preset "$preset" -j 2 "$@"
}

run_preset linux
ASAN_OPTIONS=detect_leaks=1 run_preset linux-asan core_tests standin_decoder -- \
  -L core

# Where the kernel runs no 32-bit programs, setup.sh has QEMU run Wine; where
# even that cannot be had, the Windows build is only built, and says so.
if wine --version >/dev/null 2>&1; then
  run_preset windows
  bench=()
else
  echo "test.sh: Wine cannot start here (no 32-bit programs);" \
    "building the Windows program without running its tests" >&2
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j "$jobs"
  bench=(--no-windows)
fi

# The release as a user downloads it, checked as a user would, then made
# twice more in clones elsewhere to show it comes out the same bytes (a
# minute; docs/releasing.md).
bash scripts/release.sh
bash scripts/check-release.sh
bash scripts/release.sh --check

# The benchmarks at a tiny size: they print figures, this only checks they run.
bash scripts/bench.sh --short "${bench[@]}"
