#!/usr/bin/env bash
# Installs the Debian packages of the named lists, scripts/packages-NAME.txt (all lists when none
# is named); does nothing when they are all present. Each script installs the lists it needs:
#   build        compilers and libraries of the headless program and the simulator (the demo)
#   window       the Qt window program
#   test         the test suites
#   windows      the MinGW-w64 cross build
#   wine         Windows programs under wine
#   fuzz         the libFuzzer targets
#   screenshots  the window under a virtual display
#   package      the Debian package and the Windows installer
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
lists=()
if (($# == 0)); then
    lists=("$here"/packages-*.txt)
else
    for name in "$@"; do
        [[ -f "$here/packages-$name.txt" ]] || { echo "no package list $name" >&2; exit 2; }
        lists+=("$here/packages-$name.txt")
    done
fi
mapfile -t wanted < <(cat "${lists[@]}" | grep -v '^\s*#' | sed '/^\s*$/d' | sort -u)
missing=()
for pkg in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done
if ((${#missing[@]} == 0)); then
    exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
