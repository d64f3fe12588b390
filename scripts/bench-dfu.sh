#!/usr/bin/env bash
# Times the DFU tool against the simulator at line speed (--realtime) with the built-in package
# and prints: the bytes each way, their wire time at 57600 baud, the module's flash time, the
# measured transfer time, the ratio measured / (wire + flash), the time from the tool's start to
# its first byte on the line, and the tool's stripped size.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
package="${PACKAGE:-$root/firmware/builtin-package.zip}"

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQOR_BUILD_UI=OFF >/dev/null
fi
cmake --build "$build" --target qor_ble_dfu qor-logger-sim -j2 >/dev/null
tool="$build/tools/dfu/qor_ble_dfu"
sim="$build/tools/sim/qor-logger-sim"

work="$(mktemp -d)"
sim_pid=""
cleanup() {
    exec 3>&- 2>/dev/null || true
    if [[ -n "$sim_pid" ]]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The simulator prints its port first; the line is then idle until we speak.
mkfifo "$work/sim.out"
"$sim" --realtime --transcript "$work/transcript.txt" >"$work/sim.out" &
sim_pid=$!
exec 4<"$work/sim.out"
read -r -t 10 port <&4 || { echo "simulator did not start" >&2; exit 1; }

# Switch the logger to pass-through (command 2, parameter 0x30) at 9600 baud, as the update
# procedure does before it runs the tool (with its retries). The send time of the answered frame
# anchors the transcript's clock.
exec 3<>"$port"
stty 9600 raw -echo <&3
answer=""
for attempt in 1 2 3 4 5; do
    frame_sent=$EPOCHREALTIME
    printf '\x82\x30\x00\x00\x00\x00\x00\x00' >&3
    answer="$(timeout 1 dd bs=1 count=8 <&3 2>/dev/null | od -An -tx1 | tr -d ' \n' || true)"
    [[ "$answer" == 82* ]] && break
done
exec 3>&-
[[ "$answer" == 82* ]] || { echo "no pass-through answer from the logger: '$answer'" >&2; exit 1; }

tool_start=$EPOCHREALTIME
"$tool" --qor -cd 0 -p "$port" -pkg "$package" >"$work/tool.out" || true
tool_end=$EPOCHREALTIME
result="$(tail -n 1 "$work/tool.out" | tr -d '\r')"
total="$(grep -m1 -E '^0/[0-9]+' "$work/tool.out" | tr -d '\r' | cut -d/ -f2)"

kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=""

stripped="$work/qor_ble_dfu.stripped"
strip -o "$stripped" "$tool"

# Transcript lines: <time us> <rx|tx|ev> <state> <baud|-> <payload>.
awk -v frame_sent="$frame_sent" -v tool_start="$tool_start" -v tool_end="$tool_end" \
    -v total="${total:-0}" -v size="$(stat -c %s "$stripped")" -v result="$result" '
    /^#/ { next }
    $2 == "rx" && $3 == "logger" && $5 == "82" && $6 == "30" { frame_at = $1 }
    $3 == "nordic" && ($2 == "rx" || $2 == "tx") {
        if ($2 == "rx") { rx += NF - 4; if (first_rx == "") first_rx = $1 }
        else { tx += NF - 4 }
    }
    END {
        baud = 57600
        wire = (rx + tx) * 10 / baud
        # The simulator models the module flash as 85 ms per 4096-byte page erase and 41 us per
        # 32-bit word written.
        pages = int((total + 4095) / 4096)
        flash = pages * 0.085 + (total / 4) * 0.000041
        measured = tool_end - tool_start
        # Tool start on the transcript clock: the frame arrived at frame_at, sent at frame_sent.
        start_us = frame_at + (tool_start - frame_sent) * 1e6
        first = (frame_at == "" || first_rx == "") ? "n/a" : sprintf("%.1f ms", (first_rx - start_us) / 1000)
        printf "DFU tool against the simulator (--realtime), %d bytes of firmware\n", total
        printf "  tool result:                    %s\n", result
        printf "  bytes host -> module:           %d\n", rx
        printf "  bytes module -> host:           %d\n", tx
        printf "  wire time at %d baud:        %.3f s (10 bits per byte, both directions)\n", baud, wire
        printf "  module flash time:              %.3f s (%d page erases, %d words written)\n", flash, pages, total / 4
        printf "  measured transfer time:         %.3f s (tool start to exit)\n", measured
        printf "  ratio measured / (wire + flash): %.3f (target <= 1.05)\n", measured / (wire + flash)
        printf "  start to first byte on the line: %s (target < 20 ms)\n", first
        printf "  stripped tool size:             %d bytes (target < 1 MB)\n", size
    }' "$work/transcript.txt"

mingw_tool="${MINGW_BUILD_DIR:-$root/build-mingw}/tools/dfu/qor_ble_dfu.exe"
if [[ -f "$mingw_tool" ]] && command -v x86_64-w64-mingw32-strip >/dev/null; then
    x86_64-w64-mingw32-strip -o "$work/qor_ble_dfu.exe" "$mingw_tool"
    printf "  stripped Windows tool size:     %d bytes (target < 1 MB)\n" \
        "$(stat -c %s "$work/qor_ble_dfu.exe")"
fi
