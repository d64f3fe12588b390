#!/usr/bin/env bash
# Times the DFU tool against the simulator at line speed (--realtime) with the built-in package
# and prints: the bytes each way, their wire time at 57600 baud, the module's flash time, the
# measured transfer time, the ratio measured / (wire + flash), the time from the tool's start to
# its first byte on the line, the tool's CPU time and its stripped size.
#
#   bench-dfu.sh [--windows]
#
# --windows: the Windows tool as well (the MinGW build in MINGW_BUILD_DIR, default build-mingw),
# run under wine in a prefix of the cross build's (wineprefix-bench, made on first use) against
# a simulator of its own on a COM port; its figures are printed beside the Linux tool's from the
# same run. Then a whole update through the headless program, the Linux build and the Windows
# build under wine, each against a fresh --realtime simulator.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
mingw="${MINGW_BUILD_DIR:-$root/build-mingw}"
package="${PACKAGE:-$root/firmware/builtin-package.zip}"
windows=0
case "${1:-}" in
    "") ;;
    --windows) windows=1 ;;
    *)
        echo "usage: bench-dfu.sh [--windows]" >&2
        exit 2
        ;;
esac

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQOR_BUILD_UI=OFF >/dev/null
fi
targets=(qor_ble_dfu qor-logger-sim)
((windows)) && targets+=(qor-ble-update-cli)
cmake --build "$build" --target "${targets[@]}" -j2 >/dev/null
tool="$build/tools/dfu/qor_ble_dfu"
sim="$build/tools/sim/qor-logger-sim"

if ((windows)); then
    if [[ ! -f "$mingw/CMakeCache.txt" ]]; then
        cmake -S "$root" -B "$mingw" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
            -DCMAKE_BUILD_TYPE=Release -DQOR_BUILD_UI=OFF -DQOR_BUILD_TESTS=OFF >/dev/null
    fi
    cmake --build "$mingw" --target qor_ble_dfu qor-ble-update-cli -j2 >/dev/null
fi

work="$(mktemp -d)"
sim_pid=""
prefix=""
server="$(command -v wineserver || echo /usr/lib/wine/wineserver)"
stop_sim() {
    if [[ -n "$sim_pid" ]]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=""
    fi
    exec 4<&-
}
cleanup() {
    exec 3>&- 2>/dev/null || true
    stop_sim
    if [[ -n "$prefix" ]]; then
        WINEPREFIX="$prefix" "$server" -k 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# A fresh simulator at line speed (extra options: "$@"); it prints its port first, and the line
# is then idle until we speak.
start_sim() {
    stop_sim
    rm -f "$work/sim.out" "$work/transcript.txt"
    mkfifo "$work/sim.out"
    "$sim" --realtime --transcript "$work/transcript.txt" "$@" >"$work/sim.out" &
    sim_pid=$!
    exec 4<"$work/sim.out"
    read -r -t 10 port <&4 || {
        echo "simulator did not start" >&2
        exit 1
    }
}

# Switch the logger to pass-through (command 2, parameter 0x30) at 9600 baud, as the update
# procedure does before it runs the tool (with its retries). The send time of the answered frame
# anchors the transcript's clock.
pass_through() {
    exec 3<>"$port"
    stty 9600 raw -echo <&3
    local answer="" attempt
    for attempt in 1 2 3 4 5; do
        frame_sent=$EPOCHREALTIME
        printf '\x82\x30\x00\x00\x00\x00\x00\x00' >&3
        answer="$(timeout 1 dd bs=1 count=8 <&3 2>/dev/null | od -An -tx1 | tr -d ' \n' || true)"
        [[ "$answer" == 82* ]] && break
    done
    exec 3>&-
    [[ "$answer" == 82* ]] || {
        echo "no pass-through answer from the logger: '$answer'" >&2
        exit 1
    }
}

# CPU seconds (user + system) a process has used so far.
cpu_of() {
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f", ($14 + $15) / hz }' "/proc/$1/stat"
}

# One run of the tool ("$@", the program and what starts it) against a fresh simulator, on the
# port named port_name (empty: the simulator's own path) with the package named pkg. Its figures
# go to $work/$name.txt, one per line in the order of `rows`.
measure_tool() {
    local name=$1 port_name=$2 pkg=$3
    shift 3
    local -a sim_options=()
    [[ -n "$link" ]] && sim_options=(--link "$link")
    start_sim "${sim_options[@]}"
    [[ -n "$port_name" ]] || port_name="$port"
    pass_through
    local server_cpu_before="" server_cpu=""
    [[ -n "$server_pid" ]] && server_cpu_before="$(cpu_of "$server_pid")"
    local tool_start tool_end
    tool_start=$EPOCHREALTIME
    TIMEFORMAT='%U %S'
    { time QOR_MODEM_PTYS="$port" "$@" --qor -cd 0 -p "$port_name" -pkg "$pkg" \
        >"$work/tool.out" 2>/dev/null || true; } 2>"$work/cpu.txt"
    tool_end=$EPOCHREALTIME
    [[ -n "$server_pid" ]] &&
        server_cpu="$(awk -v a="$server_cpu_before" -v b="$(cpu_of "$server_pid")" \
            'BEGIN { printf "%.2f", b - a }')"
    stop_sim
    local result total
    result="$(tail -n 1 "$work/tool.out" | tr -d '\r')"
    total="$(grep -m1 -E '^0/[0-9]+' "$work/tool.out" | tr -d '\r' | cut -d/ -f2 || true)"

    # Transcript lines: <time us> <rx|tx|ev> <state> <baud|-> <payload>.
    awk -v frame_sent="$frame_sent" -v tool_start="$tool_start" -v tool_end="$tool_end" \
        -v total="${total:-0}" -v result="$result" -v cpu="$(cat "$work/cpu.txt")" \
        -v server_cpu="$server_cpu" '
        /^#/ { next }
        $2 == "rx" && $3 == "logger" && $5 == "82" && $6 == "30" { frame_at = $1 }
        $3 == "nordic" && ($2 == "rx" || $2 == "tx") {
            if ($2 == "rx") { rx += NF - 4; if (first_rx == "") first_rx = $1 }
            else { tx += NF - 4 }
            # The end of the last chunk on the line, at 10 bit times per byte.
            last = $1 + (NF - 4) * 10 * 1e6 / 57600
        }
        END {
            baud = 57600
            wire = (rx + tx) * 10 / baud
            # The simulator models the module flash as 85 ms per 4096-byte page erase and 41 us
            # per 32-bit word written.
            pages = int((total + 4095) / 4096)
            flash = pages * 0.085 + (total / 4) * 0.000041
            measured = tool_end - tool_start
            # Tool start on the transcript clock: the frame arrived at frame_at, sent at
            # frame_sent.
            start_us = frame_at + (tool_start - frame_sent) * 1e6
            first = (frame_at == "" || first_rx == "") ? "n/a" : sprintf("%.1f ms", (first_rx - start_us) / 1000)
            on_line = first_rx == "" ? "n/a" : sprintf("%.3f s", (last - first_rx) / 1e6)
            split(cpu, c, " ")
            cpu_text = sprintf("%.2f s", c[1] + c[2])
            if (server_cpu != "") cpu_text = cpu_text " (+" server_cpu " s server)"
            print total
            print result
            print rx
            print tx
            printf "%.3f s\n", wire
            printf "%.3f s (%d erases, %d words)\n", flash, pages, total / 4
            printf "%.3f s\n", measured
            print on_line
            printf "%.3f\n", measured / (wire + flash)
            print first
            print cpu_text
            printf "%.6f\n", measured
        }' "$work/transcript.txt" >"$work/$name.txt"
}

rows=("" "tool result:" "bytes host -> module:" "bytes module -> host:"
    "wire time at 57600 baud:" "module flash time:" "measured transfer time:"
    "first to last byte on the line:" "ratio measured / (wire + flash):"
    "start to first byte on the line:" "CPU time (user + system):")
notes=("" "" "" "" "(10 bits per byte, both directions)" "" "(tool start to exit)" ""
    "(target <= 1.05)" "(target < 20 ms)" "")

# Prints the figures of the named runs side by side.
print_runs() {
    local total
    total="$(head -n 1 "$work/$1.txt")"
    printf "DFU tool against the simulator (--realtime), %s bytes of firmware\n" "$total"
    if (($# > 1)); then
        printf "  %-33s %-34s %s\n" "" "Linux" "Windows (wine)"
    fi
    local i name line
    for ((i = 1; i < ${#rows[@]}; ++i)); do
        line="$(printf "  %-33s" "${rows[$i]}")"
        for name in "$@"; do
            line+="$(printf " %-34s" "$(sed -n "$((i + 1))p" "$work/$name.txt")")"
        done
        printf "%s\n" "$line ${notes[$i]}" | sed 's/ *$//'
    done
}

link=""
server_pid=""
measure_tool linux "" "$package" "$tool"

if ((windows)); then
    # A prefix of our own, with a server that we start, so that its CPU time can be told. The
    # preloaded library gives the simulator's pseudo-terminal modem lines (the tool raises DTR)
    # and keeps the server from taking it as its controlling terminal (tests/win32).
    prefix="$mingw/wineprefix-bench"
    modem="$work/pty_modem_lines.so"
    cc -shared -fPIC -O2 -o "$modem" "$root/tests/win32/PtyModemLines.c" -ldl
    wine=(env "LD_PRELOAD=$modem" bash "$root/scripts/wine-run.sh" --prefix "$prefix")
    WINEPREFIX="$prefix" "$server" -k 2>/dev/null || true
    # The server works in the prefix: it must exist before the server starts (wine-run.sh boots
    # it on first use).
    mkdir -p "$prefix"
    WINEPREFIX="$prefix" LD_PRELOAD="$modem" "$server" -f -p </dev/null >/dev/null 2>&1 &
    server_pid=$!
    # Ready once it has made its socket, in the directory it works in.
    for _ in $(seq 200); do
        [[ -S "/proc/$server_pid/cwd/socket" ]] && break
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.05
    done
    [[ -S "/proc/$server_pid/cwd/socket" ]] || {
        echo "the wine server did not start" >&2
        exit 1
    }
    "${wine[@]}" cmd /c exit 0 </dev/null >/dev/null 2>&1
    link="$prefix/dosdevices/com37"
    measure_tool windows COM37 "Z:${package//\//\\}" "${wine[@]}" "$mingw/tools/dfu/qor_ble_dfu.exe"
    print_runs linux windows
    awk -v l="$(tail -n 1 "$work/linux.txt")" -v w="$(tail -n 1 "$work/windows.txt")" \
        'BEGIN { printf "  %-33s %.3f (target <= 1.1)\n", "Windows / Linux transfer time:", w / l }'
else
    print_runs linux
fi

stripped="$work/qor_ble_dfu.stripped"
strip -o "$stripped" "$tool"
printf "  %-33s %d bytes (target < 1 MB)\n" "stripped tool size:" "$(stat -c %s "$stripped")"
mingw_tool="$mingw/tools/dfu/qor_ble_dfu.exe"
if [[ -f "$mingw_tool" ]] && command -v x86_64-w64-mingw32-strip >/dev/null; then
    x86_64-w64-mingw32-strip -o "$work/qor_ble_dfu.exe" "$mingw_tool"
    printf "  %-33s %d bytes (target < 1 MB)\n" "stripped Windows tool size:" \
        "$(stat -c %s "$work/qor_ble_dfu.exe")"
fi

if ((windows)); then
    # A whole update through the headless program: its exit status, the time and its last line.
    whole_run() {
        local port_name=$1
        shift
        local -a sim_options=()
        [[ -n "$link" ]] && sim_options=(--link "$link")
        start_sim "${sim_options[@]}"
        [[ -n "$port_name" ]] || port_name="$port"
        local start status=0
        start=$EPOCHREALTIME
        QOR_MODEM_PTYS="$port" "$@" --port "$port_name" --yes >"$work/cli.out" 2>&1 || status=$?
        local seconds
        seconds="$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }')"
        stop_sim
        printf "%s %s %s\n" "$seconds" "$status" "$(tail -n 1 "$work/cli.out" | tr -d '\r')"
    }
    link=""
    read -r linux_s linux_status linux_last < <(whole_run "" "$build/cli/qor-ble-update-cli")
    link="$prefix/dosdevices/com37"
    read -r win_s win_status win_last < <(whole_run COM37 "${wine[@]}" \
        "$mingw/cli/qor-ble-update-cli.exe")
    echo "Whole update through the headless program (--realtime simulator, built-in package)"
    printf "  Linux:           %8.3f s  exit %s  %s\n" "$linux_s" "$linux_status" "$linux_last"
    printf "  Windows (wine):  %8.3f s  exit %s  %s\n" "$win_s" "$win_status" "$win_last"
    awk -v l="$linux_s" -v w="$win_s" \
        'BEGIN { printf "  Windows / Linux: %.3f (target <= 1.3)\n", w / l }'
fi
