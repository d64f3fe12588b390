#!/usr/bin/env bash
# Runs the Windows window program, qor-ble-update.exe, under wine on Xvfb (the openbox window
# manager frames the windows) against the logger simulator at line speed on COM5, listed in the
# port table as a USB virtual COM port, and takes screenshots as a user sees the program:
#   1-idle          the main window at start-up, the simulator's port chosen
#   2-question      Update pressed: the "Confirm" question
#   3-transfer      the DFU tool's transfer, with a strip that shows the taskbar button's title
#   4-message       the final "Information" message
#   5-service       service mode with the file functions (intern=4187, f:+): the report window
#                   under the main window after a "Read info only" run
#   6-menu          the Info menu
#   7-overview      Info > Firmware
# and windows.txt: the program's top-level windows with their titles during the transfer (the
# hidden application window carries the taskbar button's text). X has no taskbar here, so the
# strip under 3-transfer is drawn from that list.
# Usage: scripts/screenshot-win32.sh [output folder]   (default /tmp/qor-win32-screenshots)
#   WIN_BUILD_DIR   the MinGW build with ui/win32/qor-ble-update.exe (default build-mingw)
#   HOST_BUILD_DIR  the native build with tools/sim/qor-logger-sim (default build)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
windows_build="${WIN_BUILD_DIR:-$root/build-mingw}"
host_build="${HOST_BUILD_DIR:-$root/build}"
out="${1:-/tmp/qor-win32-screenshots}"
exe="$windows_build/ui/win32/qor-ble-update.exe"
sim="$host_build/tools/sim/qor-logger-sim"
bash "$root/scripts/install-deps.sh" screenshots wine windows
for tool in Xvfb xdotool import convert openbox xprop cc x86_64-w64-mingw32-gcc; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 2; }
done
[[ -f $exe ]] || { echo "build qor-ble-update.exe into $windows_build first" >&2; exit 2; }
[[ -x $sim ]] || { echo "build qor-logger-sim into $host_build first" >&2; exit 2; }
mkdir -p "$out"
work="$(mktemp -d)"
loader="$(command -v wine64 || echo /usr/lib/wine/wine64)"
server="$(command -v wineserver || echo /usr/lib/wine/wineserver)"
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
pids=()
cleanup() {
    "$server" -k 2>/dev/null || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

source "$root/scripts/desktop.sh"
start_desktop "$work" 1024x768

# Modem lines for the simulator's pseudo-terminal, as the Windows tests have them
# (tests/win32/PtyModemLines.c), and a lister of the program's top-level windows.
cc -shared -fPIC -O2 -o "$work/pty_modem_lines.so" "$root/tests/win32/PtyModemLines.c" -ldl
cat >"$work/windows.c" <<'EOF'
#include <windows.h>
#include <stdio.h>
static BOOL CALLBACK list(HWND w, LPARAM unused) {
    wchar_t name[64], text[256];
    (void)unused;
    GetClassNameW(w, name, 64);
    if (wcsncmp(name, L"Tfrm", 4) != 0 && wcscmp(name, L"TQorApplication") != 0) return TRUE;
    GetWindowTextW(w, text, 256);
    wprintf(L"%-16ls %-8ls \"%ls\"\n", name, IsWindowVisible(w) ? L"shown" : L"hidden", text);
    return TRUE;
}
int main(void) { return !EnumWindows(list, 0); }
EOF
x86_64-w64-mingw32-gcc -O2 -municode -o "$work/windows.exe" "$work/windows.c" 2>/dev/null ||
    x86_64-w64-mingw32-gcc -O2 -o "$work/windows.exe" "$work/windows.c"

# The wine server keeps the pseudo-terminal from becoming its controlling terminal.
mkdir -p "$WINEPREFIX"
LD_PRELOAD="$work/pty_modem_lines.so" "$server" -p
"$loader" wineboot --init </dev/null >/dev/null 2>&1
"$sim" --realtime --link "$WINEPREFIX/dosdevices/com5" >"$work/sim.out" 2>"$out/sim.log" &
pids+=($!)
for _ in $(seq 50); do [[ -s $work/sim.out ]] && break; sleep 0.1; done
pty="$(head -1 "$work/sim.out")"
# The port box offers the ports of FTDI's virtual COM driver.
"$loader" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\VCP0' /d COM5 /f >/dev/null 2>&1
export LD_PRELOAD="$work/pty_modem_lines.so" QOR_MODEM_PTYS="$pty"

shot() { sleep 0.5; import -window root "$out/$1.png"; echo "$out/$1.png"; }
title='^QOR BLE-Z40 Firmware Update$'
# Hidden windows have X windows too: only a shown one counts.
wait_for() { timeout "$2" xdotool search --sync --onlyvisible --name "$1" | head -1; }
start_program() {
    "$loader" "$exe" "$@" >"$work/app.log" 2>&1 &
    pids+=($!)
    main="$(wait_for "$title" 60)"
    xdotool windowactivate --sync "$main"
}

# A user's update: Tab from the port box to Update, Space, Enter for the default Yes.
start_program
shot 1-idle
xdotool key Tab space
wait_for '^Confirm$' 20 >/dev/null
shot 2-question
xdotool key Return
# Identification takes about 3 s; then the tool's transfer at 57600 baud, about 15 s.
sleep 12
"$loader" "$work/windows.exe" 2>/dev/null | tr -d '\r' >"$out/windows.txt"
import -window root "$work/transfer.png"
taskbar="$(sed -n 's/^TQorApplication *[a-z]* *"\(.*\)"$/\1/p' "$out/windows.txt")"
convert "$root/ui/win32/qor-ble-update.ico[0]" "$work/icon.png"
convert "$work/transfer.png" \
    \( -size 1024x28 xc:'#1f2a36' "$work/icon.png" -geometry +8+6 -composite \
       -fill white -font DejaVu-Sans -pointsize 13 -annotate +30+19 "$taskbar" \
       -fill '#9fb3c8' -pointsize 11 -annotate +200+18 \
       "(the taskbar button's title, from windows.txt: X has no taskbar)" \) \
    -append "$out/3-transfer.png"
echo "$out/3-transfer.png"
message="$(wait_for '^Information$' 180)"
shot 4-message
xdotool windowactivate --sync "$message" key Return
sleep 0.5
xdotool windowactivate --sync "$main" key alt+F4
sleep 2

# Service mode with the file functions: "Read info only" ticked (Tab: Update, Close, File, the
# box), Update; the report window shows the run under the main window.
"$loader" reg add 'HKCU\Software\Vandrel\Qor' /v intern /t REG_DWORD /d 4187 /f >/dev/null 2>&1
start_program f:+
wait_for '^Report$' 20 >/dev/null
xdotool key Tab Tab Tab Tab space shift+Tab shift+Tab shift+Tab space
message="$(wait_for '^Information$' 60)"
xdotool windowactivate --sync "$message" key Return
sleep 0.5
shot 5-service
# The Info menu from the keyboard (F10), then Firmware.
xdotool windowactivate --sync "$main" key F10 Down
shot 6-menu
xdotool key Return
wait_for '^Overview$' 20 >/dev/null
shot 7-overview
xdotool key Return
