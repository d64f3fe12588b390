#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, AddressSanitizer + UndefinedBehaviorSanitizer, a
# build folder of their own) and runs each one on its seed corpus.
#   bash scripts/fuzz.sh              short runs for CI: a fixed number of inputs per target
#   bash scripts/fuzz.sh --long SECS  SECS seconds per target; the corpus grows in the build
#                                     folder from one long run to the next
# Prints per target the inputs run, the time, the corpus size, the code edges covered and the
# findings of this run (the crash, leak, time-out or out-of-memory input that stopped it, kept in
# <build>/findings/<target>/); exits non-zero when a target found something.
#   BUILD_DIR  build folder (default build-fuzz)
#   RUNS       inputs per target in the short runs (default 20000)
#   TARGETS    the targets to run (default: all), e.g. TARGETS="slip init_packet"
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build-fuzz}"
runs="${RUNS:-20000}"
seconds=0
case "${1:-}" in
    "") ;;
    --long)
        seconds="${2:?--long needs the seconds per target}"
        ;;
    *)
        echo "usage: $0 [--long SECONDS]" >&2
        exit 2
        ;;
esac

bash "$root/scripts/install-deps.sh" build fuzz
log="$build/build.log"
mkdir -p "$build"
if ! { CC=clang-14 CXX=clang++-14 cmake -S "$root/fuzz" -B "$build" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo && cmake --build "$build" -j"$(nproc)"; } >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz targets: build failed (see $log)" >&2
    exit 1
fi

read -r -a targets <<<"${TARGETS:-$(tr '\n' ' ' <"$build/fuzz-targets.txt")}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0
printf "%-18s %10s %8s %8s %6s  %s\n" "target" "inputs" "seconds" "corpus" "edges" "findings"
for target in "${targets[@]}"; do
    findings="$build/findings/$target"
    mkdir -p "$findings"
    if ((seconds > 0)); then
        corpus="$build/corpus/$target"
        limit=(-max_total_time="$seconds")
    else
        corpus="$work/$target"  # the committed seeds stay as they are
        limit=(-runs="$runs")
    fi
    mkdir -p "$corpus"
    cp -n "$root/fuzz/corpus/$target"/* "$corpus"/ 2>/dev/null || true
    output="$build/$target.log"
    touch "$work/$target.start"
    status=0
    "$build/fuzz_$target" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" >"$output" 2>&1 || status=$?
    inputs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$output" | tail -n 1)"
    elapsed="$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$output" | tail -n 1)"
    edges="$(sed -n 's/.* cov: \([0-9]*\) .*/\1/p' "$output" | tail -n 1)"
    found="$(find "$findings" -type f -newer "$work/$target.start" | wc -l)"
    printf "%-18s %10s %8s %8s %6s  %s\n" "$target" "${inputs:-?}" "${elapsed:-?}" \
        "$(find "$corpus" -type f | wc -l)" "${edges:-?}" "$found"
    if ((status != 0)); then
        failed=1
        grep -E "ERROR|SUMMARY|Test unit written" "$output" | head -n 5 | sed 's/^/    /'
    fi
done
if ((failed)); then
    echo "fuzz targets: findings above (logs in $build)" >&2
    exit 1
fi
