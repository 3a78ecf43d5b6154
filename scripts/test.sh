#!/usr/bin/env bash
# Sets everything up and runs Quillo's whole test suite: the short libFuzzer runs on hostile
# input, then every GoogleTest suite through CTest (its summary is the last thing printed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
export QT_QPA_PLATFORM=offscreen

fuzz_status=0
tests/fuzz/run-fuzz.sh || fuzz_status=$?

cd build
ctest_status=0
ctest --output-on-failure -j"$(nproc)" || ctest_status=$?

if [ "$fuzz_status" -ne 0 ]; then
  echo "test: the fuzz runs failed (exit $fuzz_status); see above" >&2
  exit "$fuzz_status"
fi
exit "$ctest_status"
