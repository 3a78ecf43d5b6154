#!/usr/bin/env bash
# Builds Quillo's libFuzzer targets with clang (own build folder, address and undefined-behaviour
# checks) and runs each one briefly on a small generated seed corpus. Exits non-zero, with a
# clear line, when a target crashes, leaks, times out or allocates more than its limit.
#   QUILLO_FUZZ_SECONDS  run time per target (default 10)
#   QUILLO_FUZZ_BUILD    build folder (default build-fuzz in the source tree)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${QUILLO_FUZZ_BUILD:-$root/build-fuzz}"
seconds="${QUILLO_FUZZ_SECONDS:-10}"

if ! command -v clang++ >/dev/null; then
    echo "FUZZ FAILED: clang++ is not installed (scripts/setup.sh installs it)" >&2
    exit 1
fi

echo "fuzz: building the targets in $build"
mkdir -p "$build"
if ! { cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
           -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 &&
       cmake --build "$build" -j2 >"$build/build.log" 2>&1; }; then
    echo "FUZZ FAILED: the fuzz targets did not build (see $build/configure.log, $build/build.log)" >&2
    tail -30 "$build/build.log" >&2 2>/dev/null || tail -30 "$build/configure.log" >&2
    exit 1
fi

# Seeds: an empty file, one entry of each kind, noise in front of an entry, a damaged entry.
seeds="$build/seeds/jobs"
mkdir -p "$seeds" "$build/corpus/jobs" "$build/artifacts"
task='\x00\x01\x03\x00\x00\x00abc\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00d\x0b\x00\x00\x00HTTP Method\x00\x00\x00\x00\x02\x00\x00\x00\r\n\x00\x00\x00\x00'
finished='\x00\x03\x01\x00\x00\x00f\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xf0\x3f\x00\x00\x00\x00\x00\x00\x04\xc0\x0f\x00\x00\x00download-link=x'
printf '' >"$seeds/empty"
printf "$task" >"$seeds/task"
printf "$finished" >"$seeds/finished"
printf "\x07\xff$task\x42$finished" >"$seeds/noise"
printf "$task\x00\x02\xff\xff\xff\x7fxyz" >"$seeds/huge-length"
printf "$task\x00\x09$finished" >"$seeds/unknown-kind"

status=0
for target in jobs_fuzz; do
    log="$build/$target.log"
    echo "fuzz: running $target for ${seconds}s"
    if "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=64 \
        -max_len=65536 -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 \
        "$build/corpus/${target%_fuzz}" "$seeds" >"$log" 2>&1; then
        echo "fuzz: $target OK ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?') runs)"
    else
        echo "FUZZ FAILED: $target found a problem; reproducer in $build/artifacts/, log $log" >&2
        grep -E 'ERROR|SUMMARY|Test unit written' "$log" >&2 || tail -30 "$log" >&2
        status=1
    fi
done
exit $status
