#!/usr/bin/env bash
# Checks the packages that scripts/package.sh made in dist/ (or $DIST_DIR), for the project
# version of CMakeLists.txt:
# - the Debian package: its files (the programs, the desktop entry, the icons and nothing else),
#   its dependencies, and its programs run from the unpacked package (dpkg-deb -x): --version,
#   --firmware, and a whole update of the simulated logger with the built-in package, which runs
#   the embedded DFU tool from a temporary folder that is left empty;
# - the portable zip: the Windows programs and nothing else;
# - the installer, run silently (/S) under wine in a prefix of its own: the programs under
#   Program Files with their version resources, the Start menu folder, the installed CLI's
#   --version and --firmware; then its uninstaller, silently: all of it is gone again.
# The Windows packages must hold the window program qor-ble-update.exe when the Windows build
# made it, and only then.
#   WINDOWS_BUILD_DIR  the Windows build that was packaged (default build-mingw)
#   SIM                the simulator for the update run (default: the one in build/,
#                      build-release/ or build-demo/)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dist="${DIST_DIR:-$root/dist}"
windows="${WINDOWS_BUILD_DIR:-$root/build-mingw}"
bash "$root/scripts/install-deps.sh" package windows wine

version="$(sed -n 's/^project(qor_ble_update VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
[[ -n $version ]] || { echo "no project version in CMakeLists.txt" >&2; exit 1; }
deb="$dist/qor-ble-update_${version}_amd64.deb"
zip="$dist/qor-ble-update-${version}-win64.zip"
setup="$dist/qor-ble-update-${version}-win64-setup.exe"
product="QOR BLE-Z40 Firmware Update"

work="$(mktemp -d)"
prefix="$work/wineprefix"
server="$(command -v wineserver || echo /usr/lib/wine/wineserver)"
sim_pid=""
cleanup() {
    if [[ -n $sim_pid ]]; then kill "$sim_pid" 2>/dev/null || true; fi
    if [[ -d $prefix ]]; then WINEPREFIX="$prefix" "$server" -k 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
pass() { echo "ok    $1"; }
fail() {
    echo "FAIL  $1" >&2
    failures=$((failures + 1))
}
# expect NAME EXPECTED ACTUAL
expect() {
    if [[ $2 == "$3" ]]; then pass "$1"; else fail "$1: expected '$2', got '$3'"; fi
}
# The regular files of a listing, one per line, sorted.
files() { sort | sed '/\/$/d;/^$/d'; }

echo "== Debian package $(basename "$deb")"
[[ -f $deb ]] || { echo "no $deb (run scripts/package.sh)" >&2; exit 1; }
expect "package version" "$version" "$(dpkg-deb -f "$deb" Version)"
expect "files" "$(printf '%s\n' /usr/bin/qor-ble-update /usr/bin/qor-ble-update-cli \
    /usr/share/applications/qor-ble-update.desktop \
    /usr/share/icons/hicolor/48x48/apps/qor-ble-update.png \
    /usr/share/icons/hicolor/scalable/apps/qor-ble-update.svg)" \
    "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | files)"
depends="$(dpkg-deb -f "$deb" Depends)"
for dependency in libc6 libstdc++6 libqt6widgets6 qt6-qpa-plugins; do
    if [[ ", $depends," == *", $dependency "* || ", $depends," == *", $dependency,"* ]]; then
        pass "depends on $dependency"
    else
        fail "does not depend on $dependency: $depends"
    fi
done

unpacked="$work/deb"
dpkg-deb -x "$deb" "$unpacked"
bin="$unpacked/usr/bin"
expect "qor-ble-update-cli --version" "qor-ble-update-cli $version" "$("$bin/qor-ble-update-cli" --version)"
expect "qor-ble-update --version" "qor-ble-update $version" "$("$bin/qor-ble-update" --version)"
firmware="$("$bin/qor-ble-update-cli" --firmware)"
if [[ $(sed -n 1p <<<"$firmware") == Firmware* ]] && grep -q ' 2\.05 ' <<<"$firmware"; then
    pass "qor-ble-update-cli --firmware lists the built-in image"
else
    fail "qor-ble-update-cli --firmware: $firmware"
fi
desktop="$unpacked/usr/share/applications/qor-ble-update.desktop"
if desktop-file-validate "$desktop"; then pass "desktop entry valid"; else fail "desktop entry"; fi
exec_name="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")"
icon_name="$(sed -n 's/^Icon=//p' "$desktop")"
if [[ -x $bin/$exec_name ]]; then pass "desktop entry runs $exec_name"; else fail "Exec=$exec_name"; fi
if [[ -f $unpacked/usr/share/icons/hicolor/scalable/apps/$icon_name.svg ]]; then
    pass "desktop entry's icon $icon_name"
else
    fail "Icon=$icon_name"
fi

sim="${SIM:-}"
for candidate in "$root"/{build,build-release,build-demo}/tools/sim/qor-logger-sim; do
    if [[ -z $sim && -x $candidate ]]; then sim="$candidate"; fi
done
if [[ -n $sim ]]; then
    # The unpacked program updates the simulated logger: the DFU tool it carries is written to a
    # private folder inside TMPDIR, run, and removed with that folder.
    mkdir -p "$work/tmp"
    "$sim" --once >"$work/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do [[ -s $work/sim.out ]] && break; sleep 0.05; done
    port="$(head -n1 "$work/sim.out")"
    status=0
    TMPDIR="$work/tmp" "$bin/qor-ble-update-cli" --port "$port" --yes >"$work/run.out" 2>&1 || status=$?
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
    if ((status == 0)) && grep -q 'succesfully completed' "$work/run.out"; then
        pass "update of the simulated logger from the unpacked package"
    else
        fail "update from the unpacked package, exit status $status:"
        sed 's/^/      /' "$work/run.out" >&2
    fi
    expect "temporary folder left empty" "" "$(ls -A "$work/tmp")"
else
    echo "skip  update of the simulated logger: no simulator built (SIM)"
fi

programs=(qor-ble-update-cli.exe)
if [[ -n $(find "$windows" -name qor-ble-update.exe -not -path '*/_CPack_Packages/*' \
    -not -path '*/packages/*' -print -quit 2>/dev/null) ]]; then
    programs+=(qor-ble-update.exe)
fi
expected_programs="$(printf '%s\n' "${programs[@]}" | sort)"

echo "== portable zip $(basename "$zip")"
[[ -f $zip ]] || { echo "no $zip (run scripts/package.sh)" >&2; exit 1; }
expect "files" "$(sed "s|^|qor-ble-update-${version}-win64/|" <<<"$expected_programs")" \
    "$(cmake -E tar tf "$zip" | files)"

echo "== installer $(basename "$setup") under wine"
[[ -f $setup ]] || { echo "no $setup (run scripts/package.sh)" >&2; exit 1; }
wine() { bash "$root/scripts/wine-run.sh" --prefix "$prefix" "$@" </dev/null; }
installed="$prefix/drive_c/Program Files/$product"
menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$product"
status=0
wine "$setup" /S >"$work/setup.out" 2>&1 || status=$?
expect "installer exit status" 0 "$status"
expect "files under Program Files" "$(printf '%s\n' "${programs[@]}" Uninstall.exe | sort)" \
    "$(ls -A "$installed" 2>/dev/null | sort)"
shortcuts=("Uninstall $product.lnk")
if [[ " ${programs[*]} " == *" qor-ble-update.exe "* ]]; then shortcuts+=("$product.lnk"); fi
expect "Start menu" "$(printf '%s\n' "${shortcuts[@]}" | sort)" "$(ls -A "$menu" 2>/dev/null | sort)"
# Each program stands alone: it imports only DLLs that every Windows has.
system_dlls=" advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll
 oleaut32.dll shell32.dll user32.dll ws2_32.dll "
for program in "${programs[@]}"; do
    resource="$(x86_64-w64-mingw32-windres -i "$installed/$program" -J coff -O rc 2>/dev/null |
        sed -n 's/^ *VALUE "ProductVersion", "\(.*\)"/\1/p')"
    expect "$program version resource" "$version" "$resource"
    imports="$(x86_64-w64-mingw32-objdump -p "$installed/$program" |
        sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')"
    foreign=""
    for dll in $imports; do [[ $system_dlls == *" $dll"[[:space:]]* ]] || foreign+=" $dll"; done
    if [[ -n $imports && -z $foreign ]]; then
        pass "$program imports system DLLs only: $imports"
    else
        fail "$program imports${foreign:- nothing}"
    fi
done
if [[ " ${programs[*]} " == *" qor-ble-update.exe "* ]]; then
    window_size="$(stat -c %s "$installed/qor-ble-update.exe")"
    if ((window_size < 1536 * 1024)); then
        pass "qor-ble-update.exe with the DFU tool inside: $window_size bytes (under 1.5 MB)"
    else
        fail "qor-ble-update.exe is $window_size bytes, not under 1.5 MB"
    fi
fi
registered() {
    wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product" \
        >/dev/null 2>&1
}
if registered; then pass "Apps & features entry"; else fail "no Apps & features entry"; fi
cli="C:\\Program Files\\$product\\qor-ble-update-cli.exe"
expect "installed qor-ble-update-cli.exe --version" "qor-ble-update-cli $version" \
    "$(wine "$cli" --version | tr -d '\r')"
if [[ " ${programs[*]} " == *" qor-ble-update.exe "* ]]; then
    expect "installed qor-ble-update.exe --version" "qor-ble-update $version" \
        "$(wine "C:\\Program Files\\$product\\qor-ble-update.exe" --version | tr -d '\r')"
fi
if wine "$cli" --firmware | tr -d '\r' | grep -q ' 2\.05 '; then
    pass "installed qor-ble-update-cli.exe --firmware lists the built-in image"
else
    fail "installed qor-ble-update-cli.exe --firmware"
fi

status=0
wine "C:\\Program Files\\$product\\Uninstall.exe" /S >"$work/uninstall.out" 2>&1 || status=$?
expect "uninstaller exit status" 0 "$status"
# The uninstaller goes on as a copy of itself in the temporary folder: wait until the prefix's
# programs have all ended.
WINEPREFIX="$prefix" "$server" -w
if [[ ! -e $installed ]]; then pass "uninstalled: program folder gone"; else
    fail "uninstalled: left $(ls -A "$installed" | tr '\n' ' ')"
fi
if [[ ! -e $menu ]]; then pass "uninstalled: Start menu folder gone"; else fail "Start menu folder left"; fi
if ! registered; then
    pass "uninstalled: Apps & features entry gone"
else
    fail "Apps & features entry left in the registry"
fi

if ((failures > 0)); then
    echo "package checks: $failures failed" >&2
    exit 1
fi
echo "package checks: all passed"
