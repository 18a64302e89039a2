#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UBSan, and runs each for a
# bounded time on a copy of its seed corpus.   scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DFARLINK_FUZZ=ON -DFARLINK_TESTS=OFF \
    -DFARLINK_BENCH=OFF -DFARLINK_SANITIZE=address -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$(nproc 2>/dev/null || echo 2)"
ran=0
for target in build-fuzz/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name="$(basename "$target")"
    name="${name#fuzz_}"
    work="build-fuzz/corpus-$name"
    rm -rf "$work" && mkdir -p "$work"
    [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/"
    echo "== fuzzing $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -print_final_stats=1 "$work"
    ran=$((ran + 1))
done
# A build that produced no fuzzer must not pass as a clean run.
[ "$ran" -gt 0 ] || { echo "no fuzz targets were built" >&2; exit 1; }
