#!/usr/bin/env bash
# What a request costs farlink, measured against net-snmp's snmpd on this machine.
#
#   bench/compare/run.sh [pairs] [seconds]     default 5 pairs of 5-second runs per workload
#
# Starts, each pinned to one core (BENCH_CPU, default the last one) together with the load
# generator:
#   - farlink with koru-inband and the sample machine on a pseudo-terminal, farlink-bridge on
#     UDP in front of it (as scripts/demo.sh does);
#   - snmpd on 127.0.0.1 with a configuration of its own (installed from Debian when missing);
#   - the floors: nullagent on UDP (what any UDP agent pays), and nullrelay with nullagent on a
#     pseudo-terminal (what any agent behind a relay on a serial line pays, and the relay).
# For every workload and number of requests in flight it runs farlink and snmpd in turn (which
# goes first alternates from pair to pair) and both floors, reads the servers' utime+stime from
# /proc/PID/stat around each run, and prints CPU microseconds per answered request, the work above
# the floor, the farlink/snmpd ratios per pair, round trips, syscalls per request (strace -c on
# a separate short run) and peak RSS (VmHWM).
#
# Then lone requests to farlink alone (through the bridge): a GET of one scalar, a SET that
# changes nothing and a SET that changes the value, one at a time with a pause after every reply
# (BENCH_LONE_PAUSE milliseconds, default 50), so that what the agent does after answering (its
# write-back of changed settings) falls between requests and is counted; BENCH_LONE_REQUESTS
# (default 80) requests per run, the three in turn over BENCH_LONE_ROUNDS rounds (default 5; 0
# leaves them out), with an idle spell as long as a run in every round. The processor time here
# is the process CPU clock (nanoseconds) read by the load generator just before the first request
# and after the last pause.
#
# BENCH_WORKLOADS chooses some of the workloads of the comparison (default all; empty for none).
#
# Programs come from build/ (FARLINK_BUILD chooses another build directory); the C programs of
# this directory are built with cc into the run's temporary directory. Not a test: the figures
# depend on the machine and on whatever else runs on it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$root"
pairs="${1:-5}"
seconds="${2:-5}"
build="${FARLINK_BUILD:-build}"
cpu="${BENCH_CPU:-$(($(nproc) - 1))}"
case "$pairs$seconds" in
*[!0-9.]*) echo "usage: $0 [pairs] [seconds]" >&2; exit 2 ;;
esac

# The benchmark's own tools: snmpd is the reference agent, strace counts system calls.
need=()
command -v snmpd >/dev/null || [ -x /usr/sbin/snmpd ] || need+=(snmpd)
command -v strace >/dev/null || need+=(strace)
command -v snmpget >/dev/null || need+=(snmp)
command -v taskset >/dev/null || need+=(util-linux)
command -v cc >/dev/null || need+=(gcc)
if [ "${#need[@]}" -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
snmpd_bin="$(command -v snmpd || echo /usr/sbin/snmpd)"
have_strace=""
command -v strace >/dev/null && have_strace=yes

cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target farlink farlink-bridge koru-inband >/dev/null
bin="$(cd "$build" && pwd)"

tmp="$(mktemp -d "${TMPDIR:-/tmp}/farlink-compare.XXXXXX")"
block="farlink-compare-$$"
pids=()
stop_all() {
    trap - EXIT INT TERM
    # In reverse order of their start: farlink before the block's owner, before the line.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    # The block outlives koru-inband by design; this one was the run's own.
    FARLINK_SHM_NAME="$block" "$bin/koru-inband" remove >/dev/null 2>&1 || true
    rm -rf "$tmp"
}
trap stop_all EXIT
trap 'exit 130' INT TERM

for prog in loadgen nullagent nullrelay; do
    cc -O2 -std=c11 -Wall -Wextra -o "$tmp/$prog" "bench/compare/$prog.c"
done

lone_pause="${BENCH_LONE_PAUSE:-50}"
lone_requests="${BENCH_LONE_REQUESTS:-80}"
lone_rounds="${BENCH_LONE_ROUNDS:-5}"
case "$lone_pause.$lone_requests.$lone_rounds" in
*[!0-9.]* | .* | *..* | *.) echo "BENCH_LONE_*: whole numbers" >&2; exit 2 ;;
esac

# Waits until file has a line matching the sed pattern (or pid has ended); prints the match.
await_line() {
    local pid="$1" file="$2" pattern="$3" found=""
    for _ in $(seq 100); do
        found="$(sed -n "$pattern" "$file")"
        if [ -n "$found" ]; then
            echo "$found"
            return 0
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "no line $pattern in $file" >&2
    return 1
}

free_port() {
    python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

pin=(taskset -c "$cpu")

# --- farlink behind farlink-bridge ------------------------------------------------------------
mkdir "$tmp/windir"
cp packaging/MODEL.KORU "$tmp/windir/MODEL.KORU"
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

[threshold]
MEMORY=90
I/O BUS=80
Volume Usage=85

[manager.1]
name=Ada Operator
OfficePhone=555-0100
OfficeAddr=Server room 2, rack 4
HomePhone=555-0101
HomeAddr=12 Harbour Lane
Pager=555-0102
EMail=ada@example.net
EOF_INI

bridge_port="$(free_port)"
setsid "${pin[@]}" "$bin/farlink-bridge" --pty --listen "127.0.0.1:$bridge_port" \
    >"$tmp/bridge.out" 2>"$tmp/bridge.err" </dev/null &
bridge_pid=$!
pids+=("$bridge_pid")
line="$(await_line "$bridge_pid" "$tmp/bridge.out" 's/^agent-line: //p')"

WINDIR="$tmp/windir" FARLINK_SHM_NAME="$block" \
    setsid "$bin/koru-inband" >"$tmp/inband.out" 2>"$tmp/inband.err" </dev/null &
inband_pid=$!
pids+=("$inband_pid")
await_line "$inband_pid" "$tmp/inband.out" '/^ready$/p' >/dev/null

WINDIR="$tmp/windir" FARLINK_SHM_NAME="$block" FARLINK_COM1="$line" \
    FARLINK_MACHINE="$root/machines/sample" FARLINK_MACHINE_RECORD="$tmp/requests.log" \
    FARLINK_EVENTLOG="$tmp/events.log" \
    setsid "${pin[@]}" "$bin/farlink" >"$tmp/farlink.out" 2>&1 </dev/null &
farlink_pid=$!
pids+=("$farlink_pid")

# --- snmpd ------------------------------------------------------------------------------------
# sysContact is left out of the configuration: a configured one is read-only, and the SET
# workloads write it. Its persistent store is the run's own.
snmpd_port="$(free_port)"
mkdir "$tmp/snmpd"
cat >"$tmp/snmpd/snmpd.conf" <<EOF_CONF
agentaddress udp:127.0.0.1:$snmpd_port
rwcommunity kestrl 127.0.0.1
sysLocation bench
sysServices 72
EOF_CONF
SNMP_PERSISTENT_DIR="$tmp/snmpd" setsid "${pin[@]}" "$snmpd_bin" -f -C -c "$tmp/snmpd/snmpd.conf" \
    -Lf "$tmp/snmpd/snmpd.log" >/dev/null 2>&1 </dev/null &
snmpd_pid=$!
pids+=("$snmpd_pid")

# --- the floors -------------------------------------------------------------------------------
setsid "${pin[@]}" "$tmp/nullagent" udp 127.0.0.1:0 >"$tmp/nullagent-udp.out" 2>&1 </dev/null &
null_udp_pid=$!
pids+=("$null_udp_pid")
null_udp_port="$(await_line "$null_udp_pid" "$tmp/nullagent-udp.out" 's/^port: //p')"

setsid "${pin[@]}" "$tmp/nullrelay" 127.0.0.1:0 >"$tmp/nullrelay.out" 2>&1 </dev/null &
null_relay_pid=$!
pids+=("$null_relay_pid")
null_line="$(await_line "$null_relay_pid" "$tmp/nullrelay.out" 's/^agent-line: //p')"
null_relay_port="$(await_line "$null_relay_pid" "$tmp/nullrelay.out" 's/^port: //p')"
setsid "${pin[@]}" "$tmp/nullagent" line "$null_line" >"$tmp/nullagent-line.out" 2>&1 </dev/null &
null_line_pid=$!
pids+=("$null_line_pid")
await_line "$null_line_pid" "$tmp/nullagent-line.out" '/^ready$/p' >/dev/null

# Both agents answer before anything is measured.
answers() {
    local port="$1" oid="$2"
    for _ in $(seq 30); do
        snmpget -v1 -c kestrl -r 0 -t 1 "127.0.0.1:$port" "$oid" >/dev/null 2>&1 && return 0
        if ! kill -0 "$farlink_pid" 2>/dev/null || ! kill -0 "$snmpd_pid" 2>/dev/null; then
            break
        fi
        sleep 0.2
    done
    echo "no answer on 127.0.0.1:$port; farlink and snmpd said:" >&2
    cat "$tmp/farlink.out" "$tmp/events.log" "$tmp/snmpd/snmpd.log" >&2 2>/dev/null || true
    return 1
}
answers "$bridge_port" 1.3.6.1.4.1.32473.25.4.18.1.1.0
answers "$snmpd_port" 1.3.6.1.2.1.1.4.0

# --- workloads --------------------------------------------------------------------------------
e=1.3.6.1.4.1.32473.25
m=1.3.6.1.2.1
join() { tr ' ' ','; }
# Per workload: its description, the loadgen arguments for farlink and for snmpd. Scalars are
# texts on both sides (the contact texts); the 25 bindings are small integers on both sides:
# farlink's storage and resource counts, the six with the shortest names in turn, since 25
# bindings with longer names no longer fit farlink's 512-byte messages and get tooBig, and
# snmpd's own SNMP counters.
read -r -a workloads <<<"${BENCH_WORKLOADS-get walk get25 set-same set-change}"
declare -A what farlink_args snmpd_args
what[get]="GET of one scalar (a contact text)"
farlink_args[get]="-w get -o $e.4.18.1.1.0"
snmpd_args[get]="-w get -o $m.1.4.0"
what[walk]="GET-NEXT walk of one table (one request per step)"
farlink_args[walk]="-w walk -o $e.4.55.52.1"
snmpd_args[walk]="-w walk -o $m.1.9.1"
what[get25]="GET of 25 bindings (small integers)"
farlink_args[get25]="-w getN -b 25 -o $(echo $e.1.{2,4,6}.0 $e.3.{3,6,14}.0 | join)"
snmpd_args[get25]="-w getN -b 25 -o $(echo $m.11.{1..6}.0 $m.11.{8..22}.0 $m.11.{24..27}.0 | join)"
what[set-same]="SET of a contact text to the value it holds"
farlink_args[set-same]="-w set-same -o $e.4.18.1.2.0"
snmpd_args[set-same]="-w set-same -o $m.1.4.0"
what[set-change]="SET of a contact text to a new value each time"
farlink_args[set-change]="-w set-change -o $e.4.18.1.2.0"
snmpd_args[set-change]="-w set-change -o $m.1.4.0"
for workload in "${workloads[@]}"; do
    [ -n "${what[$workload]:-}" ] || { echo "BENCH_WORKLOADS: no workload $workload" >&2; exit 2; }
done

# utime+stime of a process and all its threads, in clock ticks (fields 14 and 15 of
# /proc/PID/stat; the name field may hold blanks, so count from after its closing parenthesis).
cpu_ticks() {
    local stat fields
    stat="$(cat "/proc/$1/stat")"
    read -r -a fields <<<"${stat##*) }"
    echo $((fields[11] + fields[12]))
}

peak_rss_kb() {
    sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$1/status"
}

results="$tmp/results"
: >"$results"

# One measured run: workload, in-flight count, pair number, the set's name, the target port,
# the loadgen arguments, then name=pid for every server whose CPU time counts.
measure() {
    local workload="$1" inflight="$2" pair="$3" set="$4" port="$5" args="$6"
    shift 6
    local -A before
    local entry name pid out used
    for entry in "$@"; do
        before[${entry%%=*}]="$(cpu_ticks "${entry#*=}")"
    done
    # shellcheck disable=SC2086 # args are words on purpose
    out="$("${pin[@]}" "$tmp/loadgen" -a "127.0.0.1:$port" $args -j "$inflight" -s "$seconds" \
        -t 2000)"
    for entry in "$@"; do
        name="${entry%%=*}"
        pid="${entry#*=}"
        used=$(($(cpu_ticks "$pid") - ${before[$name]}))
        # The run's own keys last: they name the workload as this script does.
        echo "run $out workload=$workload inflight=$inflight pair=$pair set=$set" \
            "server=$name ticks=$used rss_kb=$(peak_rss_kb "$pid")" >>"$results"
    done
}

# System calls per answered request, from strace -c attached to the servers during a separate
# run of 1 request in flight (at most 1000 requests or 3 seconds) (strace slows the servers down, so its run is not a measured one).
count_syscalls() {
    local workload="$1" set="$2" port="$3" args="$4"
    shift 4
    [ -n "$have_strace" ] || return 0
    local entry spids=() out answered
    for entry in "$@"; do
        strace -c -f -p "${entry#*=}" -o "$tmp/strace.${entry%%=*}" 2>/dev/null &
        spids+=($!)
    done
    sleep 1
    # shellcheck disable=SC2086 # args are words on purpose
    out="$("${pin[@]}" "$tmp/loadgen" -a "127.0.0.1:$port" $args -j 1 -n 1000 -s 3 -t 500)"
    for pid in "${spids[@]}"; do
        kill -INT "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    answered="$(sed -n 's/.* answered=\([0-9]*\) .*/\1/p' <<<"$out")"
    for entry in "$@"; do
        # The summary's last line: "100.00 seconds usecs/call calls [errors] total".
        echo "syscalls workload=$workload set=$set server=${entry%%=*} answered=$answered" \
            "calls=$(awk '$NF == "total" { print $4 }' "$tmp/strace.${entry%%=*}")" >>"$results"
    done
}

farlink_set=(farlink="$farlink_pid" farlink-bridge="$bridge_pid")
snmpd_set=(snmpd="$snmpd_pid")
floor_line_set=(floor-line-agent="$null_line_pid" floor-relay="$null_relay_pid")
floor_udp_set=(floor-udp-agent="$null_udp_pid")

echo "cpu $cpu; $pairs pairs of $seconds s per workload and in-flight count; files in $tmp" >&2
for workload in "${workloads[@]}"; do
    fa="${farlink_args[$workload]}"
    sa="${snmpd_args[$workload]}"
    # The floors answer with the request itself, whatever it asks.
    fl="$fa -E"
    fu="$sa -E"
    echo "describe workload=$workload ${what[$workload]}" >>"$results"
    # Warm-up: the first requests of a workload fill caches and the agents' own tables.
    # shellcheck disable=SC2086 # args are words on purpose
    "${pin[@]}" "$tmp/loadgen" -q -a "127.0.0.1:$bridge_port" $fa -n 200 -s 2 -t 500
    # shellcheck disable=SC2086
    "${pin[@]}" "$tmp/loadgen" -q -a "127.0.0.1:$snmpd_port" $sa -n 200 -s 2 -t 500
    for inflight in 1 8; do
        for ((pair = 1; pair <= pairs; pair++)); do
            echo "  $workload, $inflight in flight, pair $pair" >&2
            if ((pair % 2)); then
                measure "$workload" "$inflight" "$pair" farlink "$bridge_port" "$fa" "${farlink_set[@]}"
                measure "$workload" "$inflight" "$pair" snmpd "$snmpd_port" "$sa" "${snmpd_set[@]}"
            else
                measure "$workload" "$inflight" "$pair" snmpd "$snmpd_port" "$sa" "${snmpd_set[@]}"
                measure "$workload" "$inflight" "$pair" farlink "$bridge_port" "$fa" "${farlink_set[@]}"
            fi
            measure "$workload" "$inflight" "$pair" floor-line "$null_relay_port" "$fl" \
                "${floor_line_set[@]}"
            measure "$workload" "$inflight" "$pair" floor-udp "$null_udp_port" "$fu" \
                "${floor_udp_set[@]}"
        done
    done
    count_syscalls "$workload" farlink "$bridge_port" "$fa" "${farlink_set[@]}"
    count_syscalls "$workload" snmpd "$snmpd_port" "$sa" "${snmpd_set[@]}"
    count_syscalls "$workload" floor-line "$null_relay_port" "$fl" "${floor_line_set[@]}"
    count_syscalls "$workload" floor-udp "$null_udp_port" "$fu" "${floor_udp_set[@]}"
done

# --- lone requests ----------------------------------------------------------------------------
lone=(lone-get lone-set-same lone-set-change)
what[lone-get]="GET of one scalar (a contact text)"
farlink_args[lone-get]="-w get -o $e.4.18.1.1.0"
what[lone-set-same]="SET of a contact text to the value it holds"
farlink_args[lone-set-same]="-w set-same -o $e.4.18.1.2.0"
what[lone-set-change]="SET of a contact text to a new value each time"
farlink_args[lone-set-change]="-w set-change -o $e.4.18.1.2.0"
# The idle spell lasts as long as the requests and their pauses.
lone_idle="$(python3 -c "print($lone_requests * $lone_pause / 1000)")"
watch="$farlink_pid,$bridge_pid,$inband_pid"
if ((lone_rounds > 0)); then
    echo "lone requests: $lone_rounds rounds of $lone_requests requests, ${lone_pause} ms apart" >&2
    for workload in "${lone[@]}"; do
        echo "describe workload=$workload ${what[$workload]}" >>"$results"
        # shellcheck disable=SC2086 # args are words on purpose
        "${pin[@]}" "$tmp/loadgen" -q -a "127.0.0.1:$bridge_port" ${farlink_args[$workload]} \
            -n 20 -t 500
    done
fi
for ((round = 1; round <= lone_rounds; round++)); do
    echo "  lone requests, round $round" >&2
    # Each round starts with another of the three, and the idle spell moves along with them.
    for ((k = 0; k < 4; k++)); do
        i=$(((round - 1 + k) % 4))
        if ((i == 3)); then
            out="$("${pin[@]}" "$tmp/loadgen" -a "127.0.0.1:$bridge_port" -w idle \
                -s "$lone_idle" -C "$watch")"
            workload=idle
        else
            workload="${lone[i]}"
            # shellcheck disable=SC2086 # args are words on purpose
            out="$("${pin[@]}" "$tmp/loadgen" -a "127.0.0.1:$bridge_port" \
                ${farlink_args[$workload]} -j 1 -n "$lone_requests" -p "$lone_pause" -t 2000 \
                -C "$watch")"
        fi
        echo "lone $out workload=$workload round=$round servers=farlink,farlink-bridge,koru-inband" \
            >>"$results"
    done
done

for pid in "$farlink_pid" "$bridge_pid" "$snmpd_pid"; do
    kill -0 "$pid" 2>/dev/null || { echo "a server ended during the run" >&2; exit 1; }
done
cp "$results" "${BENCH_RESULTS:-/dev/null}" 2>/dev/null || true

python3 - "$results" "$(getconf CLK_TCK)" "$lone_pause" <<'EOF_PY'
import statistics
import sys
from collections import defaultdict

path, hz, lone_pause = sys.argv[1], int(sys.argv[2]), sys.argv[3]
runs = defaultdict(list)      # (workload, inflight, server) -> [run]
lone = defaultdict(list)      # workload -> [run]
syscalls = {}                 # (workload, server) -> per request
order = []
describe = {}
for raw in open(path):
    kind, *pairs = raw.split()
    if kind == "describe":
        describe[pairs[0].split("=", 1)[1]] = " ".join(pairs[1:])
        continue
    rec = dict(p.split("=", 1) for p in pairs if "=" in p)
    if kind == "run":
        key = (rec["workload"], int(rec["inflight"]), rec["server"])
        runs[key].append(rec)
        if (rec["workload"], int(rec["inflight"])) not in order:
            order.append((rec["workload"], int(rec["inflight"])))
    elif kind == "lone":
        lone[rec["workload"]].append(rec)
    elif kind == "syscalls" and rec.get("calls") and int(rec["answered"] or 0) > 0:
        syscalls[(rec["workload"], rec["server"])] = int(rec["calls"]) / int(rec["answered"])

def cpu_us(rec):
    answered = int(rec["answered"])
    return int(rec["ticks"]) * 1e6 / hz / answered if answered else None

def fmt(x, digits=1):
    return "-" if x is None else f"{x:.{digits}f}"

def spread(xs, digits=1):
    xs = [x for x in xs if x is not None]
    if not xs:
        return "-"
    return f"{statistics.median(xs):.{digits}f} ({min(xs):.{digits}f}-{max(xs):.{digits}f})"

# Which floor lies under which server.
floor_of = {"farlink": "floor-line-agent", "farlink-bridge": "floor-relay",
            "snmpd": "floor-udp-agent"}
servers = ["farlink", "farlink-bridge", "snmpd", "floor-line-agent", "floor-relay",
           "floor-udp-agent"]

for workload, inflight in order:
    print(f"\n{workload}, {inflight} in flight: {describe.get(workload, '')}")
    print(f"  {'server':<17} {'CPU us/req':<20} {'above floor':<20} {'p50 us':>8} "
          f"{'p99 us':>8} {'answered':>9} {'errors':>7} {'lost':>6} {'sysc/req':>8} {'RSS KB':>7}")
    per_pair = defaultdict(dict)   # pair -> server -> (cpu, above)
    for server in servers:
        recs = runs.get((workload, inflight, server), [])
        if not recs:
            continue
        for rec in recs:
            per_pair[rec["pair"]][server] = cpu_us(rec)
        cpus = [cpu_us(r) for r in recs]
        above = []
        if server in floor_of:
            floors = {r["pair"]: cpu_us(r)
                      for r in runs.get((workload, inflight, floor_of[server]), [])}
            for r in recs:
                c, f = cpu_us(r), floors.get(r["pair"])
                above.append(None if c is None or f is None else c - f)
        p50 = statistics.median(float(r["p50_us"]) for r in recs)
        p99 = statistics.median(float(r["p99_us"]) for r in recs)
        answered = sum(int(r["answered"]) for r in recs)
        lost = sum(int(r["lost"]) for r in recs)
        errors = sum(int(r["errors"]) for r in recs)
        rss = max(int(r["rss_kb"] or 0) for r in recs)
        sc = syscalls.get((workload, server))
        print(f"  {server:<17} {spread(cpus):<20} {spread(above) if above else '':<20} "
              f"{p50:>8.0f} {p99:>8.0f} {answered:>9} {errors:>7} {lost:>6} {fmt(sc):>8} {rss:>7}")
    total, work = [], []
    for pair, by in per_pair.items():
        f, s = by.get("farlink"), by.get("snmpd")
        fl, fu = by.get("floor-line-agent"), by.get("floor-udp-agent")
        if f is not None and s:
            total.append(f / s)
        if None not in (f, s, fl, fu) and s - fu > 0:
            work.append((f - fl) / (s - fu))
    print(f"  farlink/snmpd per pair: CPU {spread(total, 2)}; work above floor "
          f"{spread(work, 2)}")
if order:
    print("\nCPU: utime+stime of the server's process (all threads) over the run, per answered "
          "request (errors\nincluded: a reply with an error-status is answered, and counted as an error too);\nmedian (min-max) over the pairs. farlink's floor is the line agent, the "
          "bridge's the relay,\nsnmpd's the UDP agent. Round trips and answered/lost are the "
          "load generator's (the\nfarlink row: through the bridge).")

# Lone requests: CPU nanoseconds of each watched process over the run (cpu_ns, in the order of
# servers=), per answered request; "minus idle" takes off what the process used in the round's
# idle spell, scaled to the run's length.
if lone:
    names = lone["idle"][0]["servers"].split(",") if lone["idle"] else []
    def lone_cpu(rec):
        return dict(zip(rec["servers"].split(","), (int(x) for x in rec["cpu_ns"].split(","))))
    idle_rate = {}   # round -> server -> ns per second
    for rec in lone["idle"]:
        idle_rate[rec["round"]] = {k: v / float(rec["seconds"]) for k, v in lone_cpu(rec).items()}
    per_round = defaultdict(dict)   # round -> workload -> (farlink us/req, minus idle)
    n_req = max((int(r["sent"]) for w in lone if w != "idle" for r in lone[w]), default=0)
    print(f"\nlone requests to farlink (through the bridge): 1 in flight, {lone_pause} ms after every "
          f"reply,\n{n_req} requests per run, {len(lone['idle'])} rounds")
    print(f"  {'request':<16} {'farlink us/req':<20} {'minus idle':<20} {'bridge us/req':<20} "
          f"{'koru-inband':<18} {'p50 us':>7} {'answered':>8} {'errors':>6} {'lost':>5}")
    for workload in ("lone-get", "lone-set-same", "lone-set-change"):
        recs = lone.get(workload, [])
        if not recs:
            continue
        cols = defaultdict(list)
        for r in recs:
            answered = int(r["answered"])
            if not answered:
                continue
            cpu = lone_cpu(r)
            idle = idle_rate.get(r["round"], {})
            for name in cpu:
                cols[name].append(cpu[name] / 1e3 / answered)
            f = cpu["farlink"] / 1e3 / answered
            fi = None
            if "farlink" in idle:
                fi = (cpu["farlink"] - idle["farlink"] * float(r["seconds"])) / 1e3 / answered
                cols["farlink-minus-idle"].append(fi)
            per_round[r["round"]][workload] = (f, fi)
        p50 = statistics.median(float(r["p50_us"]) for r in recs)
        print(f"  {workload:<16} {spread(cols['farlink']):<20} "
              f"{spread(cols['farlink-minus-idle']):<20} {spread(cols['farlink-bridge']):<20} "
              f"{spread(cols['koru-inband'], 2):<18} {p50:>7.0f} "
              f"{sum(int(r['answered']) for r in recs):>8} {sum(int(r['errors']) for r in recs):>6} "
              f"{sum(int(r['lost']) for r in recs):>5}")
    if idle_rate:
        rates = {n: [idle_rate[r][n] / 1e3 for r in idle_rate] for n in names}
        print(f"  idle, us per second: farlink {spread(rates.get('farlink', []))}, bridge "
              f"{spread(rates.get('farlink-bridge', []))}, koru-inband "
              f"{spread(rates.get('koru-inband', []))}")
    for workload in ("lone-set-same", "lone-set-change"):
        raw, net = [], []
        for by in per_round.values():
            if workload in by and "lone-get" in by:
                (s, si), (g, gi) = by[workload], by["lone-get"]
                if g > 0:
                    raw.append(s / g)
                if si is not None and gi is not None and gi > 0:
                    net.append(si / gi)
        print(f"  farlink {workload}/lone-get per round: {spread(raw, 2)}; minus idle "
              f"{spread(net, 2)}")
    print("\nLone CPU: the process CPU clock of each (all threads), from just before a run's first "
          "request to\nthe end of its last pause, per answered request; median (min-max) over "
          "the rounds.")
EOF_PY
