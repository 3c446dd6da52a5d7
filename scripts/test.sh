#!/usr/bin/env bash
# The whole test suite: the native tests plainly, under AddressSanitizer with UBSan and under
# ThreadSanitizer; a short run of every fuzz target; the win64 tests under Wine; the win32
# build. The fuzz runs are repeatable (seed 1, at most 20000 inputs or 60 s per target); set
# FUZZ_SEED, FUZZ_RUNS or FUZZ_SECONDS to explore further.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-2}
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
for preset in native native-asan native-tsan; do
  echo "=== $preset"
  cmake --workflow --preset "$preset"
done
echo "=== fuzz"
FUZZ_SEED=${FUZZ_SEED:-1} FUZZ_RUNS=${FUZZ_RUNS:-20000} bash scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
for preset in win64 win32; do
  echo "=== $preset"
  cmake --workflow --preset "$preset"
done
echo "=== all suites passed"
