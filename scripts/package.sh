#!/usr/bin/env bash
# Makes the packages into dist/ (or $DIST_DIR) with CPack:
#   qor-ble-update_VERSION_amd64.deb          the Debian package (window, headless program,
#                                             desktop entry, icon)
#   qor-ble-update-VERSION-win64-setup.exe    the Windows installer (NSIS, 64-bit, /S for silent)
#   qor-ble-update-VERSION-win64.zip          the same Windows programs, portable
# The Windows ones hold the window program qor-ble-update.exe once the cross build makes it.
#   LINUX_BUILD_DIR    Linux build to package (default build-release, release preset)
#   WINDOWS_BUILD_DIR  Windows build to package (default build-mingw, mingw preset)
# A folder that is configured already is built as it is and packaged (CI packages the builds it
# has made); one that is not is configured with the preset first.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dist="${DIST_DIR:-$root/dist}"
linux="${LINUX_BUILD_DIR:-$root/build-release}"
windows="${WINDOWS_BUILD_DIR:-$root/build-mingw}"
bash "$root/scripts/install-deps.sh" build window windows package

if [[ ! -f $linux/CMakeCache.txt ]]; then
    (cd "$root" && cmake --preset release -B "$linux" >/dev/null)
fi
echo "Building $linux"
cmake --build "$linux" -j"$(nproc)" >/dev/null
if [[ ! -f $windows/CMakeCache.txt ]]; then
    (cd "$root" && cmake --preset mingw -B "$windows" >/dev/null)
fi
echo "Building $windows"
cmake --build "$windows" -j"$(nproc)" >/dev/null

# CPack works in a folder of the build; the packages alone go to dist/.
mkdir -p "$dist"
pack() {
    local build="$1" out="$1/packages"
    rm -rf "$out"
    if ! (cd "$build" && cpack -B "$out") >"$build/cpack.log" 2>&1; then
        tail -n 40 "$build/cpack.log" >&2
        echo "cpack failed in $build (see $build/cpack.log)" >&2
        exit 1
    fi
    find "$out" -maxdepth 1 -type f \( -name '*.deb' -o -name '*.exe' -o -name '*.zip' \) \
        -exec mv -f -t "$dist" {} +
}
echo "Packaging"
pack "$linux"
pack "$windows"
ls -l "$dist"
