#!/usr/bin/env bash
# Sets everything up and runs Quillo's whole test suite (CTest, then the short fuzz runs).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
export QT_QPA_PLATFORM=offscreen
cd build
ctest --output-on-failure -j"$(nproc)"
../tests/fuzz/run-fuzz.sh
