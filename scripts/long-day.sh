#!/usr/bin/env bash
# A long day in one process: RUNS (default 200) whole updates in a row in one window process
# (the Qt window on the offscreen platform, its Update button pressed for each run) and in one
# engine process, against the simulated logger. Prints, for each, the open descriptors, threads,
# child processes and resident memory after run 10 and after the last run; fails when any of
# them grew (memory: by more than 1 MB), when a run failed, or when a run left anything in the
# temporary directory. The runs' fixed pauses (2 s before the first command, 1 s port release,
# 8 s restart wait) are shortened by WAIT_DIVISOR (default 100) through the clock seam.
#   BUILD_DIR   the native build (default build/)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
runs="${RUNS:-200}"
divisor="${WAIT_DIVISOR:-100}"
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    (cd "$root" && cmake --preset dev -B "$build" >/dev/null)
fi
targets=(qor-logger-sim long_day_engine)
grep -q '^QOR_BUILD_UI:BOOL=ON' "$build/CMakeCache.txt" && targets+=(long_day_window)
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >/dev/null

work="$(mktemp -d)"
sim_pid=""
cleanup() {
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/tmp" "$work/runtime"
chmod 700 "$work/runtime"
"$build/tools/sim/qor-logger-sim" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [[ -s "$work/sim.out" ]] && break
    sleep 0.05
done
port="$(head -n1 "$work/sim.out")"

status=0
run() {
    local started=$SECONDS
    TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/runtime" "$@" "$port" "$runs" "$divisor" || status=1
    echo "  ($((SECONDS - started)) s for $runs runs)"
}
[[ " ${targets[*]} " == *" long_day_window "* ]] && run "$build/tests/longday/window/long_day_window"
run "$build/tests/longday/long_day_engine"
if [[ -n "$(ls -A "$work/tmp")" ]]; then
    echo "left in the temporary directory:" && ls -A "$work/tmp"
    status=1
fi
exit "$status"
