#!/bin/sh
# Prints the resident memory of process PID (VmRSS, and its peak so far, VmHWM) now and every
# INTERVAL seconds (default 30) and once SECONDS have passed, or until the process ends, one line
# a sample:
#     bench/sample_rss.sh PID SECONDS [INTERVAL]
set -eu
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: $0 PID SECONDS [INTERVAL]" >&2
    exit 2
fi
pid=$1
seconds=$2
interval=${3:-30}
start=$(date +%s)
while :; do
    elapsed=$(($(date +%s) - start))
    if ! status=$(cat "/proc/$pid/status" 2>/dev/null); then
        echo "process $pid has ended" >&2
        exit 1
    fi
    echo "$status" | awk -v t="$elapsed" '
        /^VmRSS:/ { rss = $2 } /^VmHWM:/ { hwm = $2 }
        END { printf "%5d s  VmRSS %7.1f MiB  VmHWM %7.1f MiB\n", t, rss / 1024, hwm / 1024 }'
    left=$((seconds - elapsed))
    [ "$left" -gt 0 ] || exit 0
    sleep $((left < interval ? left : interval))
done
