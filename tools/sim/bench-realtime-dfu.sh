#!/usr/bin/env bash
# Benchmark: the DFU tool sends the built-in package to the simulator in real-time mode, as the
# update run does it (command 2 at 9600 baud, then the tool at 57600). Prints how long the
# transfer took next to the time the 57600-baud line alone needs for the same bytes.
# Usage: bash tools/sim/bench-realtime-dfu.sh [BUILD_DIR]   (default: build/)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-${BUILD_DIR:-$root/build}}"
sim="$build/tools/sim/qor-logger-sim"
tool="$build/tools/dfu/qor_ble_dfu"
package="$root/firmware/builtin-package.zip"
for f in "$sim" "$tool" "$package"; do
    [ -e "$f" ] || { echo "missing $f (build qor-logger-sim and qor_ble_dfu first)" >&2; exit 1; }
done

work="$(mktemp -d)"
simpid=""
cleanup() {
    [ -n "$simpid" ] && kill "$simpid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$sim" --realtime --transcript "$work/transcript.txt" >"$work/sim.out" &
simpid=$!
for _ in $(seq 100); do
    [ -s "$work/sim.out" ] && break
    sleep 0.05
done
slave="$(head -1 "$work/sim.out")"

# One command frame at 9600 baud; prints the 8-byte answer in hex.
command() {
    exec 3<>"$slave"
    stty -F "$slave" raw -echo 9600
    printf "$1" >&3
    timeout 2 head -c 8 <&3 | od -An -tx1 | tr -s ' ' || true
    exec 3>&-
}

echo "pass-through: $(command '\x82\x30\x00\x00\x00\x00\x00\x00')"
sleep 1
start=$(date +%s%N)
"$tool" --qor -cd 0 -p "$slave" -pkg "$package" >"$work/tool.out" || true
end=$(date +%s%N)
tail -1 "$work/tool.out"

for _ in $(seq 200); do
    grep -q "pass-through off" "$work/transcript.txt" && break
    sleep 0.05
done
echo "module firmware after the update: $(command '\x83\x30\x00\x00\x00\x00\x00\x3D')"

awk -v took_ns=$((end - start)) '
    $2 == "rx" && $3 == "nordic" { rx += NF - 4 }
    $2 == "tx" && $3 == "nordic" { tx += NF - 4 }
    END {
        line = (rx + tx) * 10 / 57600
        printf "bytes to the module %d, from it %d\n", rx, tx
        printf "line time at 57600 baud %.2f s, transfer took %.2f s (%.0f%% of it on the line)\n",
               line, took_ns / 1e9, 100 * line / (took_ns / 1e9)
    }' "$work/transcript.txt"
