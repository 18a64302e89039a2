#!/usr/bin/env bash
# Builds the agent and runs every test (unit and end-to-end).
#   scripts/test.sh                 ordinary build in build/
#   scripts/test.sh address         AddressSanitizer + UBSan build in build-address/
#   scripts/test.sh thread          ThreadSanitizer build in build-thread/
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
sanitize="${1:-}"
dir="build${sanitize:+-$sanitize}"
jobs="$(nproc 2>/dev/null || echo 2)"
cmake -S . -B "$dir" -G Ninja -DFARLINK_WERROR=ON -DFARLINK_SANITIZE="$sanitize" \
      -DFARLINK_BENCH="$([ -z "$sanitize" ] && echo ON || echo OFF)" >/dev/null
cmake --build "$dir" -j "$jobs"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
ctest --test-dir "$dir" -j "$jobs" --output-on-failure
