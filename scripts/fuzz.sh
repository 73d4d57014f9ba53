#!/usr/bin/env bash
# Fuzzes the WAV check and the percentage text with libFuzzer,
# AddressSanitizer and UBSan for FUZZ_SECONDS (20 by default). An input
# that breaks them is kept in tests/fuzz/regressions/, where the ordinary
# build's replay test runs it from then on, and the script fails.
# Needs clang and libFuzzer (Debian 12: clang libclang-rt-14-dev).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-20}
out=build/fuzz

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is missing (apt-get install clang libclang-rt-14-dev)" >&2
  exit 1
fi
mkdir -p "$out/corpus" tests/fuzz/regressions
clang++ -std=c++17 -g -O1 -I. -fsanitize=fuzzer,address,undefined \
  -fno-sanitize-recover=undefined -D_GLIBCXX_ASSERTIONS \
  tests/fuzz/fuzz_pieces.cpp batch/decoder.cpp batch/progress.cpp \
  -o "$out/fuzz_pieces"
# New inputs go to the scratch corpus; the seeds stay as they are.
if "$out/fuzz_pieces" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -artifact_prefix=tests/fuzz/regressions/ "$out/corpus" tests/fuzz/corpus \
    >"$out/fuzz.log" 2>&1; then
  echo "fuzz: $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$out/fuzz.log")"
else
  tail -n 40 "$out/fuzz.log" >&2
  echo "fuzz: FAILED; the input is kept in tests/fuzz/regressions/" >&2
  exit 1
fi
