#!/usr/bin/env bash
# Runs the whole suite on this machine: koru-inband (the in-band agent's stand-in, owner of the
# shared agent block), farlink with the sample machine's KORU driver on one end of a
# pseudo-terminal line, and farlink-bridge on the other end as the station, so the net-snmp tools
# can talk to the agent on 127.0.0.1:1161 (FARLINK_DEMO_PORT chooses another port; the programs
# are built in build/, or in FARLINK_DEMO_BUILD). Ctrl-C stops all three.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
port="${FARLINK_DEMO_PORT:-1161}"
build="${FARLINK_DEMO_BUILD:-build}"

scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target farlink farlink-bridge koru-inband
bin="$(cd "$build" && pwd)"

tmp="$(mktemp -d "${TMPDIR:-/tmp}/farlink-demo.XXXXXX")"
# The demo's own block, so it never meets an in-band agent that runs on this machine.
block="farlink-demo-$$"
bridge_pid=""
inband_pid=""
agent_pid=""

stop_all() {
    trap - EXIT INT TERM
    # The agent first, then the block's owner, then the line.
    for pid in $agent_pid $inband_pid $bridge_pid; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    # The block outlives koru-inband by design; this one was the run's own.
    FARLINK_SHM_NAME="$block" "$bin/koru-inband" remove 2>/dev/null || true
    rm -rf "$tmp"
    echo "stopped."
}
trap stop_all EXIT
trap 'exit 0' INT TERM

# Waits until a program has written a line matching pattern into file; prints the match.
await_line() {
    local pid="$1" file="$2" pattern="$3" what="$4" errors="$5" found=""
    for _ in $(seq 100); do
        found="$(sed -n "$pattern" "$file")"
        if [ -n "$found" ]; then
            echo "$found"
            return 0
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    echo "$what did not start:" >&2
    cat "$errors" >&2
    return 1
}

mkdir "$tmp/windir"
cp packaging/MODEL.KORU "$tmp/windir/MODEL.KORU"
cat >"$tmp/windir/TESSEL.INI" <<'EOF_INI'
; The demo's configuration. farlink writes a manager's changes to [manager.1] and the
; [threshold] numbers back into this file.
[Serial Port Parameters.1]
PortNumber=COM1
Baud=9600
dataBits=8
stopBits=1
Parity=NONE
Modem=Y
ModemInitString=ATZ

[environment]
; the product name the sample machine's KORU driver reports
driver=SV-440BX

[threshold]
MEMORY=90
I/O BUS=80
Volume Usage=85

[NIC Threshold]
; frames a second: the sample Ethernet card receives 1200, so its poller reports crossings
Packets=1000

[manager.1]
name=Ada Operator
OfficePhone=555-0100
OfficeAddr=Server room 2, rack 4
HomePhone=555-0101
HomeAddr=12 Harbour Lane
Pager=555-0102
EMail=ada@example.net
EOF_INI

# Each in a session of its own: Ctrl-C reaches only this script, which then stops them in order.
setsid "$bin/farlink-bridge" --pty --listen "127.0.0.1:$port" \
    >"$tmp/bridge.out" 2>"$tmp/bridge.err" &
bridge_pid=$!
line="$(await_line "$bridge_pid" "$tmp/bridge.out" 's/^agent-line: //p' farlink-bridge \
    "$tmp/bridge.err")"

WINDIR="$tmp/windir" FARLINK_SHM_NAME="$block" \
    setsid "$bin/koru-inband" >"$tmp/inband.out" 2>"$tmp/inband.err" </dev/null &
inband_pid=$!
await_line "$inband_pid" "$tmp/inband.out" '/^ready$/p' koru-inband "$tmp/inband.err" >/dev/null

WINDIR="$tmp/windir" FARLINK_SHM_NAME="$block" FARLINK_COM1="$line" \
    FARLINK_MACHINE="$root/machines/sample" FARLINK_MACHINE_RECORD="$tmp/requests.log" \
    FARLINK_EVENTLOG="$tmp/events.log" \
    setsid "$bin/farlink" >"$tmp/farlink.out" 2>&1 </dev/null &
agent_pid=$!

# The MIB module gives the commands below their names; SNMPv2-SMI and the other modules it
# imports come with erlang-snmp, which install-deps.sh installed.
base_mibs="$(ls -d /usr/lib/erlang/lib/snmp-*/mibs 2>/dev/null | tail -n 1)"
snmp="-v1 -c kestrl 127.0.0.1:$port"
cat <<EOF_HELP
The suite is running:
  koru-inband  owns the shared agent block "$block", filled from TESSEL.INI
  farlink      serves COM1 on $line, with the sample machine's KORU driver (machines/sample)
  farlink-bridge listens on 127.0.0.1:$port for SNMP managers
Files: $tmp (windir/TESSEL.INI, events.log, requests.log, *.out, *.err); removed on exit.

Try, in another terminal:
  # the names of the MIB module mibs/FARLINK-MIB.txt, once per shell (-On prints numeric OIDs)
  export MIBDIRS="+$root/mibs:$base_mibs" MIBS=FARLINK-MIB
  # DMI scalars: BIOS, system and base board texts, the memory controller, DMI table row counts
  snmpget $snmp farlinkBiosVendor.0 farlinkBiosVersion.0 farlinkSysProductName.0 farlinkBoardProduct.0
  snmpget $snmp farlinkMemCtlErrorCorrection.0 farlinkDmiProcessorCount.0 farlinkDmiCacheCount.0
  # the DMI processor table (a table is walked from its Entry)
  snmpwalk $snmp farlinkDmiProcessorEntry
  # system resources from the resource map: counts, interrupt owners, I/O port ranges
  snmpget $snmp farlinkPortRangeCount.0 farlinkMemoryModuleCount.0 farlinkMemoryRangeCount.0
  snmpwalk $snmp farlinkIrqEntry
  snmpwalk $snmp farlinkPortRangeEntry
  # storage: adapter and disk counts, the adapters, the disks with their sizes in KB
  snmpget $snmp farlinkStorageAdapterCount.0 farlinkDiskCount.0
  snmpwalk $snmp farlinkStorageAdapterEntry
  snmpwalk $snmp farlinkDiskEntry
  # performance counters: System, Cache and Memory by name, the logical disks, the account
  snmpget $snmp farlinkSysProcessorTime.0 farlinkSysContextSwitchesPerSec.0 farlinkSysSystemCallsPerSec.0
  snmpget $snmp farlinkCacheCopyReadHits.0 farlinkMemPageFaultsPerSec.0 farlinkMemPagesPerSec.0
  snmpwalk $snmp farlinkLogDiskEntry
  snmpget $snmp farlinkAccountName.0 farlinkDriverDisplayName.0
  # network adapters: the table, then (a minute after the start) the general statistics and
  # the threshold message, which reports frame counters above 1000 a second
  snmpwalk $snmp farlinkAdapterEntry
  snmpwalk $snmp farlinkGenStatsEntry
  snmpget $snmp farlinkThresholdMessage.0
  # the server: system, computer name, uptime, fixed drives; its volumes; a usage threshold
  # for every volume, written back to TESSEL.INI
  snmpget $snmp farlinkSystemOs.0 farlinkSystemProcessor.0 farlinkSystemComputerName.0 farlinkSystemUptime.0 farlinkSystemFixedDrives.0
  snmpwalk $snmp farlinkVolumeEntry
  snmpset $snmp farlinkVolumeUsageDefault.0 i 85
  grep -A3 '^Volume Usage' $tmp/windir/TESSEL.INI
  # the administrator contact table; change the office phone, then look at TESSEL.INI
  snmpwalk $snmp farlinkContactEntry
  snmpset $snmp farlinkContactOfficePhone.0 s 555-0199
  grep -A7 '^\\[manager.1\\]' $tmp/windir/TESSEL.INI
  # the shared agent block, and a change made by the in-band agent, served by farlink
  FARLINK_SHM_NAME=$block $bin/koru-inband show
  FARLINK_SHM_NAME=$block $bin/koru-inband set EMail night@example.net
  snmpget $snmp farlinkContactEmail.0
  # every group at once, with the MIB's names (--json for scripts)
  $bin/farlink-bridge report --udp 127.0.0.1:$port

Press Ctrl-C to stop.
EOF_HELP

while kill -0 "$agent_pid" 2>/dev/null && kill -0 "$inband_pid" 2>/dev/null &&
    kill -0 "$bridge_pid" 2>/dev/null; do
    sleep 1
done
if ! kill -0 "$agent_pid" 2>/dev/null; then
    echo "farlink ended on its own; its output:" >&2
    cat "$tmp/farlink.out" >&2
    [ -f "$tmp/events.log" ] && cat "$tmp/events.log" >&2
elif ! kill -0 "$inband_pid" 2>/dev/null; then
    echo "koru-inband ended on its own:" >&2
    cat "$tmp/inband.err" >&2
else
    echo "farlink-bridge ended on its own:" >&2
    cat "$tmp/bridge.err" >&2
fi
exit 1
