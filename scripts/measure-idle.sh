#!/usr/bin/env bash
# The agent's processor use while idle: starts the suite as the demo does (koru-inband, farlink
# with the sample machine and one configured port, farlink-bridge on the other end of the line),
# waits until the agent answers, then reads the agent's user and system time from /proc before
# and after an idle spell and prints the share of one core it used.
#   scripts/measure-idle.sh [seconds]     default 20; programs from build/ or FARLINK_BUILD
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
seconds="${1:-20}"
build="${FARLINK_BUILD:-build}"

cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target farlink farlink-bridge koru-inband >/dev/null
bin="$(cd "$build" && pwd)"

tmp="$(mktemp -d "${TMPDIR:-/tmp}/farlink-idle.XXXXXX")"
block="farlink-idle-$$"
pids=()
stop_all() {
    # The agent first, then the block's owner, then the line.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    # The block outlives koru-inband by design; this one was the run's own.
    FARLINK_SHM_NAME="$block" "$bin/koru-inband" remove 2>/dev/null || true
    rm -rf "$tmp"
}
trap stop_all EXIT

mkdir "$tmp/windir"
cat >"$tmp/windir/TESSEL.INI" <<'EOF_INI'
[Serial Port Parameters.1]
PortNumber=COM1
Baud=9600
dataBits=8
stopBits=1
Parity=NONE
Modem=Y
ModemInitString=ATZ

[environment]
driver=SV-440BX
EOF_INI

# Waits until file has a line matching the sed pattern; prints the match.
await_line() {
    local file="$1" pattern="$2" found=""
    for _ in $(seq 100); do
        found="$(sed -n "$pattern" "$file")"
        [ -n "$found" ] && { echo "$found"; return 0; }
        sleep 0.1
    done
    echo "no line $pattern in $file" >&2
    return 1
}

port="$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
"$bin/farlink-bridge" --pty --listen "127.0.0.1:$port" >"$tmp/bridge.out" 2>"$tmp/bridge.err" &
pids+=($!)
line="$(await_line "$tmp/bridge.out" 's/^agent-line: //p')"

WINDIR="$tmp/windir" FARLINK_SHM_NAME="$block" \
    "$bin/koru-inband" >"$tmp/inband.out" 2>"$tmp/inband.err" </dev/null &
pids+=($!)
await_line "$tmp/inband.out" '/^ready$/p' >/dev/null

WINDIR="$tmp/windir" FARLINK_SHM_NAME="$block" FARLINK_COM1="$line" \
    FARLINK_MACHINE="$root/machines/sample" FARLINK_MACHINE_RECORD="$tmp/requests.log" \
    FARLINK_EVENTLOG="$tmp/events.log" \
    "$bin/farlink" >"$tmp/farlink.out" 2>&1 </dev/null &
agent=$!
pids+=($agent)

# Idle means started: the port is open and a request has been answered.
answered=""
for _ in $(seq 50); do
    if snmpget -v1 -c kestrl -r 0 -t 1 "127.0.0.1:$port" 1.3.6.1.4.1.32473.25.2.1.0 \
        >/dev/null 2>&1; then
        answered=yes
        break
    fi
    kill -0 "$agent" 2>/dev/null || break
done
if [ -z "$answered" ]; then
    echo "farlink did not answer; its output:" >&2
    cat "$tmp/farlink.out" >&2
    exit 1
fi

# utime and stime (fields 14 and 15 of /proc/PID/stat, in clock ticks) of all its threads; the
# name field may hold blanks, so count from after its closing parenthesis.
cpu_ticks() {
    local stat
    stat="$(cat "/proc/$agent/stat")"
    set -- ${stat##*) }
    echo $((${12} + ${13}))
}

# The same in nanoseconds, summed over the threads' scheduler statistics: a clock tick (10 ms)
# is too coarse for an agent that should use well under a tick per ten seconds.
cpu_ns() {
    local total=0 run rest
    for task in /proc/"$agent"/task/*; do
        read -r run rest <"$task/schedstat" 2>/dev/null || continue
        total=$((total + run))
    done
    echo "$total"
}

ticks_per_second="$(getconf CLK_TCK)"
before="$(cpu_ticks)"
before_ns="$(cpu_ns)"
start_ns="$(date +%s%N)"
sleep "$seconds"
after="$(cpu_ticks)"
after_ns="$(cpu_ns)"
end_ns="$(date +%s%N)"
kill -0 "$agent" 2>/dev/null || { echo "farlink ended while idle" >&2; exit 1; }

threads="$(ls "/proc/$agent/task" | wc -l)"
python3 - "$before" "$after" "$ticks_per_second" "$before_ns" "$after_ns" "$start_ns" "$end_ns" \
    "$threads" <<'EOF_PY'
import sys
before, after, hz, before_ns, after_ns, start, end, threads = (int(v) for v in sys.argv[1:])
elapsed = (end - start) / 1e9
ticks = (after - before) / hz
print("farlink idle for %.1f s with one port configured (%d threads):" % (elapsed, threads))
print("  utime+stime: %.2f s = %.3f %% of one core (clock tick %.0f ms)"
      % (ticks, 100.0 * ticks / elapsed, 1000.0 / hz))
if after_ns > 0:
    used = (after_ns - before_ns) / 1e9
    print("  scheduler run time: %.4f s = %.4f %% of one core" % (used, 100.0 * used / elapsed))
EOF_PY
