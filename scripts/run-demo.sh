#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: install what it needs (no Qt, no test framework),
# build the headless front end and the simulator (demo preset, build-demo/ or $BUILD_DIR), start
# the simulated logger on a pseudo-terminal and update its radio module with the built-in package.
# Extra arguments go to qor-ble-update-cli (e.g. --read-info-only); simulator options can be
# given in QOR_SIM_OPTIONS (e.g. QOR_SIM_OPTIONS=--realtime).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build-demo}"
bash "$root/scripts/install-deps.sh" build
args=()
if [[ -n ${BUILD_TYPE:-} ]]; then args+=("-DCMAKE_BUILD_TYPE=$BUILD_TYPE"); fi
(cd "$root" && cmake --preset demo -B "$build" "${args[@]}" >/dev/null)
cmake --build "$build" -j"$(nproc)" --target qor-logger-sim qor-ble-update-cli >/dev/null

work="$(mktemp -d)"
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
# shellcheck disable=SC2086
"$build/tools/sim/qor-logger-sim" --once ${QOR_SIM_OPTIONS:-} >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [[ -s "$work/sim.out" ]] && break
    sleep 0.05
done
port="$(head -n1 "$work/sim.out")"
echo "Simulated QOR BLE-Z40 logger on $port"
set +e
"$build/cli/qor-ble-update-cli" --port "$port" --yes "$@"
status=$?
set -e
echo "qor-ble-update-cli exit status: $status"
exit "$status"
