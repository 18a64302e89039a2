#!/usr/bin/env bash
# Runs the agent on a pseudo-terminal with farlink-bridge as the station, so the net-snmp tools
# can talk to it on 127.0.0.1:1161 (FARLINK_DEMO_PORT chooses another port). Ctrl-C stops both.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
port="${FARLINK_DEMO_PORT:-1161}"

scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build

tmp="$(mktemp -d "${TMPDIR:-/tmp}/farlink-demo.XXXXXX")"
bridge_pid=""
agent_pid=""

stop_all() {
    trap - EXIT INT TERM
    for pid in $agent_pid $bridge_pid; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in $agent_pid $bridge_pid; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$tmp"
    echo "stopped."
}
trap stop_all EXIT
trap 'exit 0' INT TERM

mkdir "$tmp/windir"
cat >"$tmp/windir/TESSEL.INI" <<'EOF'
[Serial Port Parameters.1]
PortNumber=COM1
Baud=9600
dataBits=8
stopBits=1
Parity=NONE
Modem=Y
ModemInitString=ATZ
EOF

# Each in a session of its own: Ctrl-C reaches only this script, which then stops them in order.
setsid build/farlink-bridge --pty --listen "127.0.0.1:$port" \
    >"$tmp/bridge.out" 2>"$tmp/bridge.err" &
bridge_pid=$!

line=""
for _ in $(seq 100); do
    line="$(sed -n 's/^agent-line: //p' "$tmp/bridge.out")"
    [ -n "$line" ] && break
    if ! kill -0 "$bridge_pid" 2>/dev/null; then
        echo "farlink-bridge did not start:" >&2
        cat "$tmp/bridge.err" >&2
        exit 1
    fi
    sleep 0.1
done
if [ -z "$line" ]; then
    echo "farlink-bridge did not report its line" >&2
    exit 1
fi

WINDIR="$tmp/windir" FARLINK_COM1="$line" FARLINK_EVENTLOG="$tmp/events.log" \
    setsid build/farlink >"$tmp/farlink.out" 2>&1 </dev/null &
agent_pid=$!

cat <<EOF
farlink is serving COM1 on $line; farlink-bridge listens on 127.0.0.1:$port.
Files: $tmp (TESSEL.INI in windir/, events.log, farlink.out, bridge.err); removed on exit.

Try, in another terminal:
  snmpwalk -v1 -c kestrl 127.0.0.1:$port 1.3.6.1.4.1.32473.25.7.2.1
  snmpget -v1 -c kestrl 127.0.0.1:$port 1.3.6.1.4.1.32473.25.2.1.0
  snmpset -v1 -c kestrl 127.0.0.1:$port 1.3.6.1.4.1.32473.25.7.2.1.3.0 s run.cmd

Press Ctrl-C to stop.
EOF

while kill -0 "$agent_pid" 2>/dev/null && kill -0 "$bridge_pid" 2>/dev/null; do
    sleep 1
done
if ! kill -0 "$agent_pid" 2>/dev/null; then
    echo "farlink ended on its own; its output:" >&2
    cat "$tmp/farlink.out" >&2
else
    echo "farlink-bridge ended on its own:" >&2
    cat "$tmp/bridge.err" >&2
fi
exit 1
