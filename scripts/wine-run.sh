#!/usr/bin/env bash
# Runs a Windows program under wine64, quietly, in a prefix of its own:
#   wine-run.sh [--prefix DIR] program.exe [arguments...]
# DIR (default: $WINEPREFIX, else ./wineprefix) is created on first use; the first run boots it,
# the others wait for that. The exit status is the program's.
set -euo pipefail
prefix="${WINEPREFIX:-$PWD/wineprefix}"
if [[ "${1:-}" == "--prefix" ]]; then
    prefix="$2"
    shift 2
fi
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: nothing here needs them, and asking for them would stall a headless boot.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
loader="${QOR_WINE:-}"
if [[ -z "$loader" ]]; then
    loader="$(command -v wine64 || true)"
    loader="${loader:-/usr/lib/wine/wine64}"
fi
booted="$prefix/.qor-booted"
if [[ ! -f "$booted" ]]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [[ ! -f "$booted" ]]; then
            "$loader" wineboot --init >/dev/null 2>&1
            touch "$booted"
        fi
    ) 9>"$prefix.lock"
fi
exec "$loader" "$@"
