#!/usr/bin/env bash
# Checks of the MIB module the build writes from the group registry.
#   check_module.sh same GENERATED COMMITTED   the repository's copy is the module the registry gives
#   check_module.sh lint GENERATED             smilint reports nothing at all up to level 6
set -euo pipefail
mode="$1"
generated="$2"

case "$mode" in
same)
    committed="$3"
    if ! diff -u "$committed" "$generated"; then
        echo "$committed is not the module the group registry gives (above: what changes)." >&2
        echo "Refresh it from the build: cp '$generated' '$committed'" >&2
        exit 1
    fi
    ;;
lint)
    command -v smilint >/dev/null || { echo "smilint is missing: scripts/install-deps.sh installs smitools" >&2; exit 1; }
    # SNMPv2-SMI, -TC and -CONF: Debian ships them (outside non-free) with Erlang's SNMP library.
    base=""
    for dir in /usr/lib/erlang/lib/snmp-*/mibs; do
        [ -f "$dir/SNMPv2-SMI.mib" ] && base="$dir"
    done
    [ -n "$base" ] || { echo "SNMPv2-SMI is missing: scripts/install-deps.sh installs erlang-snmp" >&2; exit 1; }
    # -s prints each message's level; -l 6 reports every error and warning, style ones included.
    status=0
    report="$(SMIPATH="$base" smilint -s -l 6 "$generated" 2>&1)" || status=$?
    if [ -n "$report" ] || [ "$status" -ne 0 ]; then
        printf '%s\n' "$report" >&2
        echo "smilint: exit status $status, and the messages above, for $generated" >&2
        exit 1
    fi
    echo "smilint: nothing to report up to level 6 for $generated"
    ;;
*)
    echo "usage: $0 same GENERATED COMMITTED | lint GENERATED" >&2
    exit 2
    ;;
esac
