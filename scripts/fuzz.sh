#!/usr/bin/env bash
# Builds the libFuzzer programs (preset "fuzz": clang, AddressSanitizer, UBSan) and runs each
# target for a bounded time, starting from seeds our own code writes into the build tree and
# from the kept regression inputs. Fails on any finding; the input that caused it is left in
# build/fuzz/findings/<target>/, to be kept (small) in tests/fuzz/regressions/<target>/.
# Usage: scripts/fuzz.sh [SECONDS per target, default 60]
# FUZZ_SEED and FUZZ_RUNS make a run repeatable: the same seed and at most that many inputs per
# target, still bounded by SECONDS (the test command uses them, so CI replays what passed here).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

build=build/fuzz
corpus=$build/corpus
findings=$build/findings
"$build/bin/write_fuzz_seeds" "$corpus"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
for fuzzer in "$build"/bin/*_fuzzer; do
  target=$(basename "$fuzzer" _fuzzer)
  mkdir -p "$corpus/$target" "$findings/$target"
  dirs=("$corpus/$target")
  [ -d "tests/fuzz/regressions/$target" ] && dirs+=("tests/fuzz/regressions/$target")
  log=$findings/$target/log.txt
  echo "=== fuzz $target: ${seconds}s"
  # Standard output is closed: the signature parser prints its problem messages there.
  repeatable=()
  [ -n "${FUZZ_SEED:-}" ] && repeatable+=(-seed="$FUZZ_SEED")
  [ -n "${FUZZ_RUNS:-}" ] && repeatable+=(-runs="$FUZZ_RUNS")
  if "$fuzzer" -max_total_time="$seconds" "${repeatable[@]}" -rss_limit_mb=2048 -timeout=10 \
      -close_fd_mask=1 \
      -artifact_prefix="$findings/$target/" "${dirs[@]}" >"$log" 2>&1; then
    grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs)' "$log" | tail -1 || true
  else
    tail -40 "$log"
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (inputs in $findings/)"
  exit 1
fi
echo "=== fuzz: no findings"
