#!/usr/bin/env bash
# Runs a Windows program under wine64, quietly, in a prefix of its own:
#   wine-run.sh [--prefix DIR] program.exe [arguments...]
# DIR (default: $WINEPREFIX, else ./wineprefix) is created and booted on first use. The exit
# status is the program's.
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
server="${QOR_WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}"
# Wine starts its service processes with the first program of a server, and they inherit that
# program's standard output. Were it a pipe that CTest reads, CTest would wait for them to end.
# So the first program here is a quiet one, and the others wait for it.
# (What is started here must not inherit the lock, or the server would hold it.)
(
    flock 9
    if [[ ! -f "$prefix/.qor-booted" ]]; then
        "$loader" wineboot --init </dev/null >/dev/null 2>&1 9>&-
        touch "$prefix/.qor-booted"
    fi
    # Our own server, unless one runs for this prefix already; it stays ten seconds after the
    # last program, so that a row of short test programs shares it.
    if "$server" -p10 </dev/null >/dev/null 2>&1 9>&-; then
        "$loader" cmd /c exit 0 </dev/null >/dev/null 2>&1 9>&-
    fi
) 9>"$prefix.lock"
exec "$loader" "$@"
