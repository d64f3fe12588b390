#!/usr/bin/env bash
# Runs qor-ble-update in service mode with the file functions under Xvfb (openbox draws the
# frames) and takes screenshots: the main window with File, "Read info only" and the report
# window; the Info menu; Info > Firmware with the built-in row; Info > File version with a
# descriptor file, whose row then comes first. The service-mode setting lives in a temporary
# $XDG_CONFIG_HOME, so the user's own is not touched.
# Usage: scripts/screenshot-service.sh [output folder]   (default /tmp/qor-service-screenshots)
# Needs a build with qor-ble-update ($BUILD_DIR, default build/) and the packages xvfb,
# xdotool, imagemagick, openbox and x11-utils (installed when missing). Keep the pictures out of
# the repository.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
out="${1:-/tmp/qor-service-screenshots}"
app="$build/ui/qt/qor-ble-update"
bash "$root/scripts/install-deps.sh" screenshots
for tool in Xvfb xdotool import openbox xprop; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 2; }
done
[[ -x $app ]] || { echo "build qor-ble-update into $build first" >&2; exit 2; }
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
start_desktop "$work" 1024x768

# The per-user unlock, and a descriptor file for File version.
mkdir -p "$work/config/Vandrel"
echo "intern=4187" >"$work/config/Vandrel/Qor.conf"
printf 'bootloader=2\nbootloader version=1\nclass=26156\nversionH=2\nversionL=7\nplatform=18\nprint=35\ndate=20.01.2020\n' \
    >"$work/descriptor.txt"

XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb "$app" f:+ >"$out/app.log" 2>&1 &
pids+=($!)
win="$(timeout 20 xdotool search --sync --name '^QOR BLE-Z40 Firmware Update$' | head -1)"
shot() { sleep 0.5; import -window root "$out/$1.png"; echo "$out/$1.png"; }
# The first visible window with this title; windows that come and go meanwhile may make a single
# search fail, so it is repeated.
waitWindow() {
    local found=""
    for _ in $(seq 40); do
        found="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)"
        [[ -n $found ]] && break
        sleep 0.25
    done
    [[ -n $found ]] || { echo "no window $1" >&2; exit 1; }
    echo "$found"
}
# The Info menu: the first title of the menu bar at the top of the window's client area.
openInfo() {
    xdotool windowactivate --sync "$win" mousemove --window "$win" 30 10 click 1
    sleep 0.5
}

report="$(waitWindow '^Report$')"
xdotool windowactivate --sync "$win"
shot 1-service-mode
# The report window is docked under the main window and as wide as it; only a real window
# manager's frames show whether it is.
geometry() { xdotool getwindowgeometry --shell "$1" | sed -n "s/^$2=//p"; }
main_width="$(geometry "$win" WIDTH)"
report_width="$(geometry "$report" WIDTH)"
echo "main window ${main_width} px wide at x $(geometry "$win" X), report window ${report_width} px at x $(geometry "$report" X)"
if [[ $main_width != "$report_width" ]]; then
    echo "the report window is not as wide as the main window" >&2
    exit 1
fi
openInfo
shot 2-info-menu
xdotool key Down Return
overview="$(waitWindow '^Overview$')"
shot 3-overview
xdotool windowactivate --sync "$overview" key Return
sleep 0.5

openInfo
xdotool key Down Down Return
sleep 1.5  # the file-open dialog; its name box has the focus
xdotool type --delay 10 "$work/descriptor.txt"
shot 4-file-dialog
xdotool key Return
waitWindow '^Overview$' >/dev/null
shot 5-overview-with-file
