#!/usr/bin/env bash
# Wall time of whole updates through the headless program against simulated loggers at line
# speed (--realtime): one logger in a plain run, then 1, 2 and 4 loggers at once in bench mode
# (each run a process of its own). Prints each round's wall time, its ratio to one logger in
# bench mode and the exit status, then the machine's load; each round has fresh simulators.
#
#   bench-parallel.sh [COUNT...]      (default: 1 2 4)
#
#   BUILD_DIR  build folder (default build); configured as a Release build without window and
#              tests when it has no cache yet
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
counts=("$@")
((${#counts[@]})) || counts=(1 2 4)
for n in "${counts[@]}"; do
    [[ $n =~ ^[1-9][0-9]*$ ]] || {
        echo "usage: bench-parallel.sh [COUNT...]" >&2
        exit 2
    }
done

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQOR_BUILD_UI=OFF \
        -DQOR_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target qor-ble-update-cli qor-logger-sim -j2 >/dev/null
cli="$build/cli/qor-ble-update-cli"
sim="$build/tools/sim/qor-logger-sim"

work="$(mktemp -d)"
sims=()
stop_sims() {
    for pid in "${sims[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    sims=()
}
trap 'stop_sims; rm -rf "$work"' EXIT

# n fresh simulators at line speed, reachable as $work/logger1 .. $work/loggerN.
start_sims() {
    stop_sims
    local i
    for ((i = 1; i <= $1; i++)); do
        rm -f "$work/logger$i"
        "$sim" --realtime --once --link "$work/logger$i" >/dev/null 2>"$work/sim$i.err" &
        sims+=($!)
    done
    for ((i = 1; i <= $1; i++)); do
        for _ in $(seq 100); do
            [[ -e "$work/logger$i" ]] && break
            sleep 0.05
        done
        [[ -e "$work/logger$i" ]] || {
            echo "simulator $i did not start" >&2
            exit 1
        }
    done
}

# One round: n loggers; "plain" runs the single-port program, "bench" bench mode (with --json,
# so that one port is bench mode too). Sets seconds and status.
round() {
    local n=$1 mode=$2 args=() i start end
    start_sims "$n"
    for ((i = 1; i <= n; i++)); do args+=(--port "$work/logger$i"); done
    [[ $mode == bench ]] && args+=(--json "$work/runs.json")
    start=$(date +%s.%N)
    set +e
    "$cli" "${args[@]}" --yes >"$work/round-$n-$mode.txt" 2>&1
    status=$?
    set -e
    end=$(date +%s.%N)
    seconds=$(awk "BEGIN { print $end - $start }")
    stop_sims
}

echo "Whole updates against --realtime simulators ($(nproc) cores)"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-8s  %-6s  %8s  %10s  %4s\n' loggers mode "wall s" "vs 1 bench" exit
round 1 plain
printf '%-8s  %-6s  %8.1f  %10s  %4d\n' 1 plain "$seconds" "" "$status"
one=""
failed=0
for n in "${counts[@]}"; do
    round "$n" bench
    ((status == 0)) || failed=1
    [[ -n $one ]] || one=$seconds
    printf '%-8s  %-6s  %8.1f  %10.2f  %4d\n' "$n" bench "$seconds" \
        "$(awk "BEGIN { print $seconds / $one }")" "$status"
    last=$n
    last_seconds=$seconds
done
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$last loggers at once take $(awk "BEGIN { printf \"%.2f\", $last_seconds / $one }") x the time of one (target: at most 1.20)"
if ((failed)); then
    echo "a round did not succeed; its output is in the rounds below" >&2
    for f in "$work"/round-*.txt; do
        echo "== $f" >&2
        tail -n 8 "$f" >&2
    done
    exit 1
fi
