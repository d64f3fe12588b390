#!/usr/bin/env bash
# Builds the Windows test executables with MinGW-w64 and runs them under wine through CTest, in a
# fresh wine prefix. The serial tests get COM ports on pseudo-terminals and the logger simulator,
# which is built for this machine in the native build (build/, or $HOST_BUILD_DIR).
#   BUILD_DIR   the cross build (default build-mingw; the cross build's libraries are reused)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build-mingw}"
host="${HOST_BUILD_DIR:-$root/build}"
bash "$root/scripts/install-deps.sh" build window test windows wine

# The simulator runs on the build host (a no-op where the native build has it already).
if [[ ! -f "$host/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$host" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$host" --target qor-logger-sim -j"$(nproc)"
sim="$host/tools/sim/qor-logger-sim"

BUILD_DIR="$build" bash "$root/scripts/cross-build-windows.sh" -DQOR_BUILD_TESTS=ON \
    -DQOR_HOST_SIM="$sim" "$@"

prefix="$(sed -n 's/^QOR_WINE_PREFIX:PATH=//p' "$build/CMakeCache.txt")"
server="$(command -v wineserver || echo /usr/lib/wine/wineserver)"
# Throwaway: every run starts from a new prefix, served by one server that ends with the run.
# The server opens the serial tests' pseudo-terminals; the preloaded library keeps it from
# taking them as its controlling terminal (see tests/win32/PtyModemLines.c).
WINEPREFIX="$prefix" "$server" -k 2>/dev/null || true
rm -rf "$prefix"
mkdir -p "$prefix"
WINEPREFIX="$prefix" LD_PRELOAD="$build/tests/win32/pty_modem_lines.so" "$server" -p
trap 'WINEPREFIX="$prefix" "$server" -k 2>/dev/null || true' EXIT
echo "Booting the wine prefix $prefix"
# Boots, and keeps a program on wine's desktop for the whole run. Wine starts its desktop process
# for the first program that needs one (every console of its own does) and ends it when no
# program has used it for a while; the process keeps the standard output of the program it was
# started for, and were that a test's, CTest would take the test as running until then.
bash "$root/scripts/wine-run.sh" --prefix "$prefix" start /unix \
    "$build/tests/win32/qor_win_child.exe" sleep:86400000 </dev/null >/dev/null 2>&1

# A test that fails is run once more: a wine process now and then dies while the prefix's
# services start (seen once in a trivial table test that passes on every other run). A real
# fault fails both times.
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --repeat until-pass:2
