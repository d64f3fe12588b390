#!/usr/bin/env bash
# Runs the fault matrix (whole update runs against the simulated logger, one fault each, in-process
# and a subset through the headless program) and prints it as a table: case, expected outcome,
# outcome got, run time and the time bound the run's own timings allow.
#   BUILD_DIR  build folder (default build/; configured if it is not yet)
#   JOBS       cases run side by side (default: the number of processors)
# Extra arguments go to ctest (for example -R 'Block_' to run some cases only).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
fi
cmake --build "$build" --target fault_matrix_tests -j"$(nproc)" >/dev/null

results="$(mktemp -d)"
trap 'rm -rf "$results"' EXIT
status=0
QOR_FAULT_MATRIX_RESULTS="$results" ctest --test-dir "$build" -R 'FaultMatrix' \
    -j"${JOBS:-$(nproc)}" --output-on-failure "$@" >"$results/ctest.log" 2>&1 || status=$?

shopt -s nullglob
rows=("$results"/*.row)
if ((${#rows[@]} > 0)); then
    # Row: index|suite|case|expected|got|elapsed ms|bound ms|ok or FAIL
    cat "${rows[@]}" | sort -t'|' -k2,2r -k1,1n | awk -F'|' '
        BEGIN {
            printf "%-8s %-48s %-10s %-10s %8s %8s  %s\n", "via", "case", "expected", "got",
                   "time s", "bound s", "result"
        }
        {
            via = ($2 ~ /Program/) ? "program" : "worker"
            printf "%-8s %-48s %-10s %-10s %8.1f %8.1f  %s\n", via, $3, $4, $5, $6 / 1000,
                   $7 / 1000, $8
        }'
fi
# Cases that ended before they could leave a row, and the summary.
grep -E "\*\*\*(Failed|Timeout|Exception)" "$results/ctest.log" || true
grep -E "tests passed|tests failed" "$results/ctest.log" || true
exit "$status"
