#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: install, build, start the simulated logger on a
# pseudo-terminal and update its radio module with the headless front end and the built-in
# package. Extra arguments go to qor-ble-update-cli (e.g. --read-info-only); simulator options
# can be given in QOR_SIM_OPTIONS (e.g. QOR_SIM_OPTIONS=--realtime).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
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
