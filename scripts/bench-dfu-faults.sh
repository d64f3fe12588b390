#!/usr/bin/env bash
# The DFU tool against the simulator on a faulty line: for each line-fault rate, N seeded
# transfers of the built-in package (a fresh simulator each, pass-through switched on as the
# update procedure does), then a table of successes, mean and worst transfer time (tool start to
# exit), with the clean transfer time beside them.
#
# A transfer counts as a success when the tool ends with "Device programmed." and the simulated
# bootloader accepted the whole image (its transcript says so). A tool that reports success for a
# transfer the bootloader did not complete, or prints both an error and success (or neither), is
# counted apart as a false report.
#
# Usage: scripts/bench-dfu-faults.sh [--runs N] [--clean-runs N] [--mode fast|realtime|both]
#                                    [--jobs J] [--seed S] [--check MIN]
#   --runs N        seeded transfers per rate (default 100)
#   --clean-runs N  transfers without faults that give the clean time (default 3)
#   --mode          fast: the simulator as fast as it goes; realtime: bytes at 57600 baud and
#                   the module's flash timing (--realtime); both (default)
#   --jobs J        transfers run side by side (default 1; each has its own simulator); wall
#                   times of realtime runs side by side depend on the machine's load
#   --seed S        seed of the first run of each rate (default 1); run i uses S + i
#   --check MIN     exit 1 unless every rate had at least MIN successes and no false report
# Environment: BUILD_DIR (default build/), PACKAGE (default the built-in package), TOOL and SIM
# (another DFU tool or simulator program than the build's, for comparisons), KEEP_RUNS (set:
# keep the transcripts and tool output of the runs that did not succeed, and name their folder).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
package="${PACKAGE:-$root/firmware/builtin-package.zip}"

runs=100
clean_runs=3
mode=both
jobs=1
seed=1
check=""
while (($#)); do
    case "$1" in
        --runs) runs="$2"; shift 2 ;;
        --clean-runs) clean_runs="$2"; shift 2 ;;
        --mode) mode="$2"; shift 2 ;;
        --jobs) jobs="$2"; shift 2 ;;
        --seed) seed="$2"; shift 2 ;;
        --check) check="$2"; shift 2 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
case "$mode" in
    fast) modes=(fast) ;;
    realtime) modes=(realtime) ;;
    both) modes=(fast realtime) ;;
    *) echo "--mode expects fast, realtime or both" >&2; exit 2 ;;
esac

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQOR_BUILD_UI=OFF >/dev/null
fi
cmake --build "$build" --target qor_ble_dfu qor-logger-sim -j2 >/dev/null
tool="${TOOL:-$build/tools/dfu/qor_ble_dfu}"
sim="${SIM:-$build/tools/sim/qor-logger-sim}"

# name|simulator options
rates=(
    "clean|"
    "damaged 1e-4 either way|--line-damage 1e-4"
    "lost 1e-4 to the module|--line-loss 1e-4"
    "both 5e-5 each|--line-damage 5e-5 --line-loss 5e-5"
)

work="$(mktemp -d)"
keep="${KEEP_RUNS:-}"
if [[ -n "$keep" ]]; then
    echo "runs that did not succeed are kept in $work"
else
    trap 'rm -rf "$work"' EXIT
fi

# One transfer: prints "<outcome> <seconds>", outcome ok, failed, false (a false report) or error
# (the bench itself could not run it).
one_run() {
    local dir="$1" speed="$2" seed="$3"
    shift 3
    mkdir -p "$dir"
    local sim_pid port answer attempt
    mkfifo "$dir/sim.out"
    "$sim" $speed --line-seed "$seed" "$@" --transcript "$dir/transcript.txt" \
        >"$dir/sim.out" 2>"$dir/sim.err" &
    sim_pid=$!
    exec {out_fd}<"$dir/sim.out"
    if ! read -r -t 10 port <&"$out_fd"; then
        echo "simulator did not start" >&2
        kill "$sim_pid" 2>/dev/null || true
        echo "error 0"
        return
    fi
    # Pass-through: command 2 with parameter 0x30 at 9600 baud, retried like the update does.
    exec {line_fd}<>"$port"
    stty 9600 raw -echo <&"$line_fd"
    answer=""
    for attempt in 1 2 3 4 5; do
        printf '\x82\x30\x00\x00\x00\x00\x00\x00' >&"$line_fd"
        answer="$(timeout 1 dd bs=1 count=8 <&"$line_fd" 2>/dev/null | od -An -tx1 |
            tr -d ' \n' || true)"
        [[ "$answer" == 82* ]] && break
    done
    exec {line_fd}>&-
    if [[ "$answer" != 82* ]]; then
        echo "no pass-through answer from the logger" >&2
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        echo "error 0"
        return
    fi
    local start end
    start=$EPOCHREALTIME
    "$tool" --qor -cd 0 -p "$port" -pkg "$package" >"$dir/tool.out" || true
    end=$EPOCHREALTIME
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    exec {out_fd}<&-
    local programmed errors completed outcome
    programmed=$(grep -c $'^Device programmed.\r$' "$dir/tool.out" || true)
    errors=$(grep -c '^Error: ' "$dir/tool.out" || true)
    completed=$(grep -c 'nordic: image accepted' "$dir/transcript.txt" || true)
    if ((programmed + errors != 1)) || ((programmed == 1 && completed == 0)); then
        outcome=false
    elif ((programmed == 1)); then
        outcome=ok
    else
        outcome=failed
    fi
    echo "$outcome $(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }')"
}

# Runs `count` transfers of one rate and speed, `jobs` at a time; one result line per run in
# the file $results.
run_rate() {
    local speed="$1" count="$2" first_seed="$3" results="$4" tag="$5"
    shift 5
    local i running=0
    : >"$results"
    for ((i = 0; i < count; i++)); do
        (
            result="$(one_run "$work/$tag-$i" "$speed" $((first_seed + i)) "$@")"
            echo "$((first_seed + i)) $result" >>"$results"
            # Kept for a look at what went wrong; the rest is removed.
            if [[ "$result" == ok* ]]; then
                rm -rf "$work/$tag-$i"
            fi
        ) &
        running=$((running + 1))
        if ((running >= jobs)); then
            wait -n || true
            running=$((running - 1))
        fi
    done
    wait || true
}

status=0
for m in "${modes[@]}"; do
    speed=""
    [[ "$m" == realtime ]] && speed="--realtime"
    echo "== $m: $runs seeded transfers per rate, $clean_runs clean, $jobs side by side, load: $(cut -d' ' -f1-3 /proc/loadavg)"
    clean_mean=""
    printf "%-26s %9s %9s %9s %11s %7s\n" "line fault (per byte)" "successes" "mean s" "worst s" \
        "mean/clean" "false"
    for entry in "${rates[@]}"; do
        name="${entry%%|*}"
        options="${entry#*|}"
        count=$runs
        [[ "$name" == clean ]] && count=$clean_runs
        tag="$m-${name%% *}"
        results="$work/$tag.results"
        # shellcheck disable=SC2086
        run_rate "$speed" "$count" "$seed" "$results" "$tag" $options
        read -r ok mean worst false_reports < <(awk '
            { n++; t += $3; if ($3 > w) w = $3; if ($2 == "ok") ok++; if ($2 == "false") f++ }
            END { printf "%d %.3f %.3f %d\n", ok, n ? t / n : 0, w, f }' "$results")
        [[ "$name" == clean ]] && clean_mean="$mean"
        ratio="$(awk -v a="$mean" -v b="$clean_mean" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"
        printf "%-26s %5d/%-3d %9.2f %9.2f %11s %7d\n" "$name" "$ok" "$count" "$mean" "$worst" \
            "$ratio" "$false_reports"
        failed_seeds="$(awk '$2 != "ok" { printf "%s%s:%s", sep, $1, $2; sep = " " }' "$results")"
        if [[ -n "$failed_seeds" ]]; then
            echo "    not ok (seed:outcome): $failed_seeds"
        fi
        if [[ -n "$check" ]]; then
            if ((false_reports > 0)) || { [[ "$name" != clean ]] && ((ok < check)); }; then
                status=1
            fi
        fi
    done
done
if [[ -n "$check" ]]; then
    if ((status == 0)); then
        echo "check passed: at least $check successes per rate, no false report"
    else
        echo "check FAILED: fewer than $check successes at some rate, or a false report"
    fi
fi
exit "$status"
