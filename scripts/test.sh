#!/usr/bin/env bash
# The whole test suite: native tests, the win64 tests under Wine, and the win32 build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-2}
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
for preset in native win64 win32; do
  echo "=== $preset"
  cmake --workflow --preset "$preset"
done
echo "=== all suites passed"
