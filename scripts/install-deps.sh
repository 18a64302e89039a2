#!/usr/bin/env bash
# Installs the packages the build, the tests and the demo need (Debian; run as root).
set -euo pipefail
packages=(cmake ninja-build g++ clang clang-format libclang-rt-dev libgtest-dev libgmock-dev
          libbenchmark-dev snmp python3 systemd scdoc man-db groff-base dpkg-dev lintian
          smitools erlang-snmp)
# smitools lints the MIB module; erlang-snmp brings the SNMPv2-SMI, -TC and -CONF modules it
# imports, which net-snmp and smilint need and Debian ships nowhere else outside non-free.
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}"
fi
