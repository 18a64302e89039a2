#!/usr/bin/env bash
# A long run of the whole suite under load and faults (not part of the tests or CI):
#   scripts/soak.sh [minutes]       default 10 minutes; the programs are built in build/, or in
#                                   FARLINK_SOAK_BUILD (FARLINK_SOAK_NO_BUILD=1 takes them as
#                                   they are)
# koru-inband, farlink with the sample machine on four pseudo-terminal lines (two behind a
# farlink-bridge each, two driven by the script with noise between the frames), GETs, walks and
# SETs on every line, koru-inband changes and restarts, and kill -9 of farlink at random moments
# followed by a restart. Prints a report and exits non-zero on a request lost while the agent was
# up, a failed start, or a TESSEL.INI that lost a section, a key or an acknowledged value.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
minutes="${1:-10}"
build="${FARLINK_SOAK_BUILD:-build}"

if [ -z "${FARLINK_SOAK_NO_BUILD:-}" ]; then
    scripts/install-deps.sh
    cmake -S . -B "$build" -G Ninja >/dev/null
    cmake --build "$build" -j 2 --target farlink farlink-bridge koru-inband
fi
bin="$(cd "$build" && pwd)"
export FARLINK_BIN="$bin/farlink" FARLINK_INBAND_BIN="$bin/koru-inband"
export FARLINK_BRIDGE_BIN="$bin/farlink-bridge"
exec python3 "$root/scripts/soak.py" "$minutes"
