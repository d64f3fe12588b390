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
mkdir -p "$prefix"
# Our own server, unless one runs for this prefix already: it stays ten seconds after its last
# program, so that a row of short test programs shares it, and it talks into a log of its own.
# (A serial device that wine opens may make a pseudo-terminal the server's controlling terminal;
# when the terminal goes, the server dumps its objects to its standard error.)
server="${QOR_WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}"
"$server" -p10 >/dev/null 2>&1 || true
booted="$prefix/.qor-booted"
if [[ ! -f "$booted" ]]; then
    (
        flock 9
        if [[ ! -f "$booted" ]]; then
            "$loader" wineboot --init >/dev/null 2>&1
            touch "$booted"
        fi
    ) 9>"$prefix.lock"
fi
exec "$loader" "$@"
