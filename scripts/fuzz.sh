#!/usr/bin/env bash
# Fuzzes the batch's pure pieces with libFuzzer, AddressSanitizer and UBSan:
# the name test with the WAV path and the decoder's command line, the WAV
# check, and the percentage text. Each target runs for FUZZ_SECONDS (10 by
# default). An input that breaks a target is kept in
# tests/fuzz/regressions/<target>/, where the ordinary build's replay tests
# run it from then on, and the script fails.
# Needs clang and libFuzzer (Debian 12: clang libclang-rt-14-dev).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-10}
out=build/fuzz
targets=(names wav_header percent_caption)

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is missing (apt-get install clang libclang-rt-14-dev)" >&2
  exit 1
fi
mkdir -p "$out"
flags=(-std=c++17 -g -O1 -I.
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
  # Strings check their bounds: a read past a header's end stops the run.
  -D_GLIBCXX_ASSERTIONS)

failed=()
for target in "${targets[@]}"; do
  clang++ "${flags[@]}" "tests/fuzz/fuzz_$target.cpp" batch/decoder.cpp \
    batch/progress.cpp -o "$out/fuzz_$target"
  # New inputs go to the scratch corpus; the seeds stay as they are.
  mkdir -p "$out/corpus/$target" "tests/fuzz/regressions/$target"
  log="$out/$target.log"
  if "$out/fuzz_$target" -max_total_time="$seconds" -timeout=5 \
      -rss_limit_mb=2048 -artifact_prefix="tests/fuzz/regressions/$target/" \
      "$out/corpus/$target" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    echo "fuzz $target: $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$log")"
  else
    tail -n 40 "$log" >&2
    echo "fuzz $target: FAILED; the input is kept in tests/fuzz/regressions/$target/" >&2
    failed+=("$target")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzz.sh: failed: ${failed[*]}" >&2; exit 1; }
