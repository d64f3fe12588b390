#!/usr/bin/env bash
# Cross-builds for Windows (x86_64-w64-mingw32) with the mingw preset: the programs (the window
# program where the folder of the Win32 window exists), and with -DQOR_BUILD_TESTS=ON the test
# executables. Extra arguments go to CMake's configure step.
#   BUILD_DIR  build folder (default build-mingw)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build-mingw}"
lists=(build windows)
if [[ " $* " == *" -DQOR_BUILD_TESTS=ON "* ]]; then lists+=(test); fi
bash "$root/scripts/install-deps.sh" "${lists[@]}"
(cd "$root" && cmake --preset mingw -B "$build" "$@" >/dev/null)
cmake --build "$build" -j"$(nproc)"
