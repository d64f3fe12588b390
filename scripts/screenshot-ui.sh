#!/usr/bin/env bash
# Runs qor-ble-update under Xvfb (with the openbox window manager, so windows have their frames
# and captions) against the logger simulator at line speed, and takes screenshots: the idle
# window, the question, the run, and the final message. Drives the window with xdotool like a
# user: type the simulator's port, Tab to Update, Space, Enter for Yes, Enter for OK.
# Usage: scripts/screenshot-ui.sh [output folder]   (default /tmp/qor-ui-screenshots)
# Needs a build with qor-ble-update and qor-logger-sim ($BUILD_DIR, default build/), and the
# packages xvfb, xdotool, imagemagick, openbox and x11-utils (installed when missing). Also writes
# titles.txt: the window's caption and the application title (its icon name) during the transfer.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
out="${1:-/tmp/qor-ui-screenshots}"
app="$build/ui/qt/qor-ble-update"
sim="$build/tools/sim/qor-logger-sim"
bash "$root/scripts/install-deps.sh" screenshots
for tool in Xvfb xdotool import openbox xprop; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 2; }
done
[[ -x $app && -x $sim ]] || { echo "build qor-ble-update and qor-logger-sim into $build first" >&2; exit 2; }
mkdir -p "$out"
work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

source "$root/scripts/desktop.sh"
start_desktop "$work" 800x600

port="$work/ttyQOR0"
"$sim" --once --realtime --link "$port" >"$work/sim.out" 2>"$out/sim.log" &
pids+=($!)
for _ in $(seq 50); do [[ -e $port ]] && break; sleep 0.1; done

QT_QPA_PLATFORM=xcb "$app" >"$out/app.log" 2>&1 &
pids+=($!)
win="$(timeout 20 xdotool search --sync --name '^QOR BLE-Z40 Firmware Update$' | head -1)"
shot() { sleep 0.3; import -window root "$out/$1.png"; echo "$out/$1.png"; }

xdotool windowactivate --sync "$win"
shot 1-idle
xdotool type --delay 20 "$port"
xdotool key Tab space
timeout 10 xdotool search --sync --name '^Confirm$' >/dev/null
shot 2-question
xdotool key Return
# Identification takes about 3 s, the transfer at 57600 baud about 15 s, the restart 8 s.
sleep 5
shot 3-identified
sleep 7
shot 4-transfer
xprop -id "$win" WM_NAME _NET_WM_ICON_NAME >"$out/titles.txt"
message="$(timeout 180 xdotool search --sync --name '^Information$' | head -1)"
shot 5-message
xdotool windowactivate --sync "$message" key Return
sleep 0.5
shot 6-idle-after
